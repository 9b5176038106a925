#include "core/logs/live_bus.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace quillner {

namespace {

// How often a stop request is looked for: Ctrl-C or a window's Cancel ends a session at once to
// the eye, and a quiet bus costs nothing.
constexpr std::chrono::milliseconds kStopLookInterval{100};
// How long an interface may take to open before the session gives up on it.
constexpr std::chrono::seconds kOpenTimeout{10};

// The frame's time in nanoseconds since the epoch: the interface's stamp where it gives one.
qint64 frameTimeNs(const QCanBusFrame& frame)
{
    const QCanBusFrame::TimeStamp stamp = frame.timeStamp();
    if (stamp.seconds() == 0 && stamp.microSeconds() == 0)
        return QDateTime::currentMSecsSinceEpoch() * 1000000;
    return stamp.seconds() * 1000000000 + stamp.microSeconds() * 1000;
}

Problem busProblem(const BusAddress& bus, const QString& text)
{
    return {bus.text(), {}, text};
}

// One session: the device, the loop it runs in and what was heard.
class Session
{
public:
    Session(const BusAddress& bus, const SessionEnd& end, const LogVisitor& visitor,
            Result<LogReading>& result)
        : m_bus(bus), m_end(end), m_visitor(visitor), m_result(result)
    {
    }

    // Takes the frames waiting in the device, as far as the session's end allows.
    void takeFrames(QCanBusDevice& device)
    {
        while (!m_ended && device.framesAvailable() > 0)
            take(device.readFrame());
    }

    void finish()
    {
        m_ended = true;
        m_loop.quit();
    }

    void fail(const QString& text)
    {
        if (m_ended)
            return;
        m_result.problems.append(busProblem(m_bus, text));
        finish();
    }

    bool ended() const { return m_ended; }
    QEventLoop& loop() { return m_loop; }

private:
    void take(const QCanBusFrame& received)
    {
        LogReading& reading = m_result.value;
        ++reading.lines;
        const QCanBusFrame::FrameType type = received.frameType();
        if (type == QCanBusFrame::ErrorFrame) {
            ++reading.errorFrames;
            return;
        }
        if ((type != QCanBusFrame::DataFrame && type != QCanBusFrame::RemoteRequestFrame) ||
            !received.isValid()) {
            if (reading.countUnreadable())
                reading.unreadable.append({reading.name,
                                           QStringLiteral("frame %1").arg(reading.lines),
                                           QStringLiteral("not a CAN frame")});
            return;
        }
        ++reading.frames;
        const QByteArray payload = received.payload();
        LogFrame frame;
        frame.id = received.frameId();
        frame.extended = received.hasExtendedFrameFormat();
        frame.remote = type == QCanBusFrame::RemoteRequestFrame;
        frame.fd = received.hasFlexibleDataRateFormat();
        frame.lineNumber = reading.lines;
        // One interface is listened to; candump names the first one can0.
        frame.channel = 0;
        frame.time = FrameTime::fromNanoseconds(quint64(frameTimeNs(received)));
        frame.data = payload;
        if (m_visitor.frame)
            m_visitor.frame(frame);
        if (m_end.frames && reading.frames >= *m_end.frames)
            finish();
    }

    const BusAddress& m_bus;
    const SessionEnd& m_end;
    const LogVisitor& m_visitor;
    Result<LogReading>& m_result;
    QEventLoop m_loop;
    bool m_ended = false;
};

} // namespace

std::optional<BusAddress> busAddressOf(const QString& text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0 || colon + 1 >= text.size())
        return std::nullopt;
    return BusAddress{text.first(colon), text.sliced(colon + 1)};
}

QStringList busPlugins()
{
    return QCanBus::instance()->plugins();
}

Result<LogReading> listenToBus(const BusAddress& bus, const SessionEnd& end,
                               const LogVisitor& visitor, const SessionHooks& hooks)
{
    Result<LogReading> result;
    result.value.name = bus.text();
    result.value.format = LogFormat::LiveBus;
    if (visitor.formatKnown)
        visitor.formatKnown(LogFormat::LiveBus);
    if (!busPlugins().contains(bus.plugin)) {
        return Result<LogReading>::failure(
            {busProblem(bus, QStringLiteral("no CAN plugin named %1; this machine has: %2")
                                 .arg(bus.plugin, busPlugins().join(QStringLiteral(", "))))});
    }
    QString error;
    const std::unique_ptr<QCanBusDevice> device(
        QCanBus::instance()->createDevice(bus.plugin, bus.interface, &error));
    if (!device)
        return Result<LogReading>::failure(
            {busProblem(bus, QStringLiteral("cannot open the bus: %1").arg(error))});
    // A plugin may make a device that already knows it cannot open (an interface it has not).
    if (device->error() != QCanBusDevice::NoError)
        return Result<LogReading>::failure({busProblem(
            bus, QStringLiteral("cannot open the bus: %1").arg(device->errorString()))});
    // A CAN FD frame on the bus is heard and counted (the device cannot receive it), so the
    // interface is asked to take them where it can.
    device->setConfigurationParameter(QCanBusDevice::CanFdKey, true);

    Session session(bus, end, visitor, result);
    QTimer duration;
    duration.setSingleShot(true);
    QTimer stopLook;
    stopLook.setInterval(kStopLookInterval);
    bool connected = false;
    QObject::connect(device.get(), &QCanBusDevice::framesReceived, &session.loop(),
                     [&] { session.takeFrames(*device); });
    QObject::connect(
        device.get(), &QCanBusDevice::errorOccurred, &session.loop(),
        [&](QCanBusDevice::CanBusError kind) {
            // Frames are only read: a failed write says nothing of the listening.
            if (kind == QCanBusDevice::WriteError)
                return;
            session.fail(
                connected ? device->errorString()
                          : QStringLiteral("cannot open the bus: %1").arg(device->errorString()));
        });
    QObject::connect(device.get(), &QCanBusDevice::stateChanged, &session.loop(),
                     [&](QCanBusDevice::CanBusDeviceState state) {
                         if (state == QCanBusDevice::ConnectedState && !connected) {
                             connected = true;
                             if (end.duration)
                                 duration.start(*end.duration);
                             if (hooks.listening)
                                 hooks.listening();
                         } else if (state == QCanBusDevice::UnconnectedState && connected) {
                             session.fail(QStringLiteral("the interface closed"));
                         }
                     });
    // An interface that never opens (a virtual bus whose server is gone) would hold a session
    // that counts frames forever.
    QTimer opening;
    opening.setSingleShot(true);
    QObject::connect(&opening, &QTimer::timeout, &session.loop(), [&] {
        if (!connected)
            session.fail(QStringLiteral("the interface did not open within %1 s")
                             .arg(std::chrono::seconds(kOpenTimeout).count()));
    });
    QObject::connect(&duration, &QTimer::timeout, &session.loop(), [&] { session.finish(); });
    QObject::connect(&stopLook, &QTimer::timeout, &session.loop(), [&] {
        if (hooks.stopRequested && hooks.stopRequested())
            session.finish();
    });
    if (!device->connectDevice()) {
        if (result.problems.isEmpty())
            result.problems.append(busProblem(
                bus, QStringLiteral("cannot open the bus: %1").arg(device->errorString())));
        return result;
    }
    stopLook.start();
    opening.start(kOpenTimeout);
    if (!session.ended())
        session.loop().exec();
    QObject::disconnect(device.get(), nullptr, &session.loop(), nullptr);
    device->disconnectDevice();
    return result;
}

} // namespace quillner
