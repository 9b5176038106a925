#include "support/virtual_can_hub.h"

#include "core/logs/recording.h"

#include <QCanBus>
#include <QSignalSpy>
#include <QTcpSocket>

namespace quillner::testing {

namespace {

// A bound for a join that never comes, so that a broken test fails rather than hangs.
constexpr int kJoinBoundMs = 30000;

QByteArray channelName(int channel)
{
    return "can" + QByteArray::number(channel);
}

} // namespace

VirtualCanHub::VirtualCanHub()
{
    // Port 0: the system gives a free one, so that copies of a test never share a bus.
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &VirtualCanHub::accept);
}

QString VirtualCanHub::interfaceName(int channel) const
{
    return QStringLiteral("tcp://127.0.0.1:%1/can%2").arg(m_server.serverPort()).arg(channel);
}

int VirtualCanHub::members(int channel) const
{
    int count = 0;
    for (const QList<QByteArray>& channels : m_channels)
        count += channels.count(channelName(channel));
    return count;
}

bool VirtualCanHub::waitForMembers(int count, int channel)
{
    QSignalSpy changed(this, &VirtualCanHub::membersChanged);
    while (members(channel) != count) {
        if (!changed.wait(kJoinBoundMs))
            return false;
    }
    return true;
}

std::unique_ptr<QCanBusDevice> VirtualCanHub::joinedDevice(int channel)
{
    const int before = members(channel);
    std::unique_ptr<QCanBusDevice> device(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), interfaceName(channel)));
    if (!device)
        return nullptr;
    device->setConfigurationParameter(QCanBusDevice::CanFdKey, true);
    if (!device->connectDevice() || !waitForMembers(before + 1, channel))
        return nullptr;
    return device;
}

void VirtualCanHub::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_channels.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_channels.remove(socket);
            socket->deleteLater();
            Q_EMIT membersChanged();
        });
    }
}

void VirtualCanHub::read(QTcpSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine().trimmed();
        if (line.startsWith("connect:")) {
            m_channels[socket].append(line.sliced(8));
            Q_EMIT membersChanged();
            continue;
        }
        if (line.startsWith("disconnect:")) {
            m_channels[socket].removeAll(line.sliced(11));
            socket->disconnectFromHost();
            Q_EMIT membersChanged();
            continue;
        }
        // "can0:291#X#0102": a frame for every other device on the channel.
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray channel = line.first(colon);
        const QByteArray frame = line.sliced(colon + 1) + '\n';
        for (auto member = m_channels.cbegin(); member != m_channels.cend(); ++member) {
            if (member.key() != socket && member.value().contains(channel))
                member.key()->write(frame);
        }
    }
}

QList<QCanBusFrame> framesOfLog(const QString& path)
{
    QList<QCanBusFrame> frames;
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        QCanBusFrame written(frame.id, frame.data.toByteArray());
        written.setExtendedFrameFormat(frame.extended);
        written.setFlexibleDataRateFormat(frame.fd);
        if (frame.remote)
            written.setFrameType(QCanBusFrame::RemoteRequestFrame);
        frames.append(written);
    };
    // A fixture that cannot be read gives no frames, which the test then finds missing.
    if (!readCanLog(path, visitor).whole())
        return {};
    return frames;
}

} // namespace quillner::testing
