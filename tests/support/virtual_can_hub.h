#pragma once

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <memory>

namespace quillner::testing {

// The hub of Qt's virtual CAN bus, started by a test on a free port of its own: every virtualcan
// device of the test and of the programs it starts joins it through "virtualcan:" + address(),
// and a frame one of them writes reaches the others on its channel. It speaks the plugin's line
// protocol, as the server inside the plugin does, and tells when a device has joined a channel:
// the plugin's own server does not, and a frame written before the listener joined is lost.
class VirtualCanHub : public QObject
{
    Q_OBJECT
public:
    VirtualCanHub();

    bool isListening() const { return m_server.isListening(); }
    // "tcp://127.0.0.1:PORT/can0": the interface a virtualcan device joins the channel by.
    QString interfaceName(int channel = 0) const;
    // The devices on the channel now.
    int members(int channel = 0) const;
    // Waits (on the joins themselves, within a generous bound) until the channel has this many
    // devices.
    bool waitForMembers(int count, int channel = 0);

    // A virtualcan device of this test on the channel, joined and ready to write (CAN FD taken).
    std::unique_ptr<QCanBusDevice> joinedDevice(int channel = 0);

Q_SIGNALS:
    void membersChanged();

private:
    void accept();
    void read(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QTcpSocket*, QList<QByteArray>> m_channels; // the channels each device joined
};

// A signal another thread may ring: it is emitted on the thread this object lives on, so that a
// test waits on it with QSignalSpy while that thread's events (the hub's among them) go on.
class Beacon : public QObject
{
    Q_OBJECT
public:
    void ring()
    {
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT rang(); }, Qt::QueuedConnection);
    }

Q_SIGNALS:
    void rang();
};

// The frames of a candump log as Qt writes them on a bus, in the log's order.
QList<QCanBusFrame> framesOfLog(const QString& path);

} // namespace quillner::testing
