#include "core/update/flasher_run.h"

#include "core/app/error.h"

#include <QElapsedTimer>
#include <QProcess>

namespace quillner {

namespace {

// Lines of the tool's output as they come; a line longer than this is passed on in pieces, so
// that a tool printing without line ends cannot grow the buffer without end.
constexpr qsizetype kMostLineLength = 1 << 16;
// How long an ended tool is given to go before it is killed.
constexpr int kEndGraceMilliseconds = 2000;

} // namespace

FlasherLines::FlasherLines(const FlasherOutput& output, QString& lastLine)
    : m_output(output), m_lastLine(lastLine)
{
}

void FlasherLines::add(const QByteArray& bytes)
{
    m_pending += bytes;
    qsizetype newline;
    while ((newline = m_pending.indexOf('\n')) >= 0) {
        emitLine(m_pending.left(newline));
        m_pending.remove(0, newline + 1);
    }
    if (m_pending.size() > kMostLineLength) {
        emitLine(m_pending);
        m_pending.clear();
    }
}

void FlasherLines::finish()
{
    if (!m_pending.isEmpty())
        emitLine(m_pending);
    m_pending.clear();
}

void FlasherLines::emitLine(QByteArray line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    const QString text = QString::fromLocal8Bit(line);
    if (!text.trimmed().isEmpty())
        m_lastLine = text.trimmed();
    if (m_output)
        m_output(text);
}

void startWatchedFlasherProcess(QProcess& process, const FlasherLaunch& launch)
{
    prepareFlasherProcess(process, launch);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        throw Error(QStringLiteral("%1 could not be started. %2")
                        .arg(QString::fromLatin1(kFlasherName), process.errorString()));
}

FlasherVerdict runFlasher(const FlasherLaunch& launch,
                          std::optional<std::chrono::milliseconds> timeout,
                          const FlasherOutput& output,
                          const std::function<void(qint64 processId)>& started)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    startWatchedFlasherProcess(process, launch);
    if (started)
        started(process.processId());

    FlasherVerdict verdict;
    verdict.processId = process.processId();
    FlasherLines lines(output, verdict.lastLine);
    bool timedOut = false;
    while (process.state() != QProcess::NotRunning) {
        int wait = 100;
        if (timeout) {
            const qint64 left = timeout->count() - clock.elapsed();
            if (left <= 0) {
                timedOut = true;
                break;
            }
            wait = int(std::min<qint64>(left, wait));
        }
        process.waitForReadyRead(wait);
        lines.add(process.readAll());
    }
    if (timedOut) {
        process.terminate();
        if (!process.waitForFinished(kEndGraceMilliseconds)) {
            process.kill();
            process.waitForFinished(-1);
        }
    }
    lines.add(process.readAll());
    lines.finish();
    if (!timedOut)
        return finishedFlasherVerdict(process.exitStatus() == QProcess::NormalExit,
                                      process.exitCode(), verdict.lastLine, verdict.processId,
                                      clock.elapsed());
    verdict.milliseconds = clock.elapsed();
    verdict.outcome = FlasherVerdict::Outcome::TimedOut;
    return verdict;
}

FlasherVerdict finishedFlasherVerdict(bool exitedNormally, int exitCode, const QString& lastLine,
                                      qint64 processId, qint64 milliseconds)
{
    FlasherVerdict verdict;
    verdict.lastLine = lastLine;
    verdict.processId = processId;
    verdict.milliseconds = milliseconds;
    if (exitedNormally) {
        verdict.exitCode = exitCode;
        verdict.outcome =
            exitCode == 0 ? FlasherVerdict::Outcome::Succeeded : FlasherVerdict::Outcome::Failed;
    }
    return verdict;
}

QString flasherVerdictText(const FlasherVerdict& verdict)
{
    const QString tool = QString::fromLatin1(kFlasherName);
    const QString last =
        verdict.lastLine.isEmpty() ? QString() : QStringLiteral(": ") + verdict.lastLine;
    switch (verdict.outcome) {
    case FlasherVerdict::Outcome::Succeeded:
        return QStringLiteral("%1 ended with status 0%2").arg(tool, last);
    case FlasherVerdict::Outcome::TimedOut:
        return QStringLiteral("%1 did not end within %2 s and was ended%3")
            .arg(tool)
            .arg(double(verdict.milliseconds) / 1000.0, 0, 'f', 1)
            .arg(last);
    case FlasherVerdict::Outcome::Failed:
        break;
    }
    if (verdict.exitCode < 0)
        return QStringLiteral("%1 crashed%2").arg(tool, last);
    return QStringLiteral("%1 failed with status %2%3").arg(tool).arg(verdict.exitCode).arg(last);
}

} // namespace quillner
