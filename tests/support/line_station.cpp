#include "support/line_station.h"

#include "support/program_run.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillner::testing {

namespace {

// clang-format off
constexpr auto kLineFlasher = R"py(#!/usr/bin/python3
import fcntl, os, select, sys, threading, time

merged, port = sys.argv[1], sys.argv[2]
row = os.path.basename(os.path.dirname(merged))
station = os.path.basename(os.path.dirname(os.path.dirname(merged)))
state = os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), "state")

# The batch that started it: readable once that process is gone.
parent = os.getppid()
batch = os.pidfd_open(parent)
if os.getppid() != parent:
    sys.exit(1)

def started(key):
    n = 1
    while True:
        try:
            os.close(os.open(os.path.join(state, "start-%s-%d" % (key, n)), os.O_CREAT | os.O_EXCL))
            return n
        except FileExistsError:
            n += 1

def held():
    for key in (station, "all"):
        try:
            with open(os.path.join(state, "hold-" + key)) as f:
                first = int(f.read())
        except FileNotFoundError:
            continue
        if started(key) >= first:
            return True
    return False

def gate_opened():
    opened_r, opened_w = os.pipe()
    def wait():
        fd = os.open(os.path.join(state, "gate"), os.O_RDONLY)
        fcntl.flock(fd, fcntl.LOCK_SH)
        os.write(opened_w, b"x")
    threading.Thread(target=wait, daemon=True).start()
    return opened_r

with open(os.path.join(state, "duration")) as f:
    duration = float(f.read())
if held():
    events = os.open(os.path.join(state, "events"), os.O_WRONLY)
    os.write(events, ("held %s %s\n" % (station, row)).encode())
    os.close(events)
    ready, _, _ = select.select([batch, gate_opened()], [], [])
    if batch in ready:
        os._exit(1)
# The device takes its time from the tool's start, however long the interpreter took to start.
with open("/proc/self/stat") as f:
    began = int(f.read().rsplit(")", 1)[1].split()[19]) / os.sysconf("SC_CLK_TCK")
ready, _, _ = select.select([batch], [], [], max(0.0, duration - (time.clock_gettime(time.CLOCK_BOOTTIME) - began)))
if ready:
    os._exit(1)
with open(os.path.join(state, "flashed"), "a") as f:
    f.write("%s %s %s\n" % (station, row, port))
print("flashed " + row)
)py";
// clang-format on

} // namespace

void writeLineFlasher(const QString& toolFolder, double secondsPerDevice)
{
    const QString state = toolFolder + QStringLiteral("/state");
    QDir().mkpath(state);
    QFile duration(state + QStringLiteral("/duration"));
    if (duration.open(QIODevice::WriteOnly))
        duration.write(QByteArray::number(secondsPerDevice));
    QFile tool(toolFolder + QStringLiteral("/Morvex.exe"));
    if (tool.open(QIODevice::WriteOnly))
        tool.write(kLineFlasher);
    tool.close();
    tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
}

LineEvents::LineEvents(const QString& toolFolder)
{
    const QByteArray state = QFile::encodeName(toolFolder + QStringLiteral("/state"));
    const QByteArray events = state + "/events";
    ::mkfifo(events.constData(), 0600);
    // Open to read and write: the stand-ins' writes never block, and no end of file comes
    // between them.
    m_events = ::open(events.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    m_gate = ::open((state + "/gate").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_gate >= 0 && ::flock(m_gate, LOCK_EX) != 0) {
        ::close(m_gate);
        m_gate = -1;
    }
}

LineEvents::~LineEvents()
{
    openGate();
    if (m_events >= 0)
        ::close(m_events);
}

bool LineEvents::waitForHeld(const QHash<QString, int>& counts)
{
    const auto reached = [&] {
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (m_held.value(it.key()) < it.value())
                return false;
        }
        return true;
    };
    while (!reached()) {
        pollfd ready{m_events, POLLIN, 0};
        if (::poll(&ready, 1, 120000) <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::read(m_events, buffer, sizeof buffer);
        if (got > 0)
            m_pending.append(buffer, got);
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = m_pending.left(end).split(' ');
            m_pending.remove(0, end + 1);
            if (words.size() == 3 && words[0] == "held")
                ++m_held[QString::fromUtf8(words[1])];
        }
    }
    return true;
}

void LineEvents::openGate()
{
    if (m_gate >= 0) {
        ::flock(m_gate, LOCK_UN);
        ::close(m_gate);
        m_gate = -1;
    }
}

QHash<QString, QStringList> flashedRows(const QString& toolFolder)
{
    QHash<QString, QStringList> rows;
    QFile file(toolFolder + QStringLiteral("/state/flashed"));
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3)
            rows[QString::fromUtf8(words[1])].append(QString::fromUtf8(words[0]));
    }
    return rows;
}

} // namespace quillner::testing
