#include "cli_support.h"

#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/update/device_update.h"
#include "core/update/update_outcome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <mutex>

#include <cstdio>

namespace quillner::cli {

namespace {

bool g_quiet = false;

} // namespace

void stopOnProblems(const Problems& problems)
{
    if (problems.isEmpty())
        return;
    const QString text = problemLines(problems).join(u'\n');
    if (problems.first().kind == ProblemKind::Usage)
        usageError(text);
    throw Error(text);
}

[[noreturn]] void usageError(const QString& text, const QString& command)
{
    throw UsageError{text, command};
}

QString usageHint(const QString& command)
{
    return command.isEmpty() ? QStringLiteral("Try 'quillner-cli --help'.")
                             : QStringLiteral("Try 'quillner-cli help %1'.").arg(command);
}

int stoppedBy(const Problems& problems, const QString& command)
{
    const QString text = problemLines(problems).join(u'\n');
    if (!problems.isEmpty() && problems.first().kind == ProblemKind::Usage) {
        complain(QStringLiteral("error"), text + u'\n' + usageHint(command));
        return kExitUsage;
    }
    complain(QStringLiteral("error"), text);
    return kExitFailure;
}

int stoppedBy(const QString& text)
{
    return stoppedBy({{{}, {}, text}});
}

bool lenientOf(const CommandLine& line)
{
    const bool lenient = line.isSet("lenient");
    if (lenient && line.isSet("strict"))
        line.usageError(QStringLiteral("--lenient and --strict exclude each other"));
    return lenient;
}

int portIndexOf(const QString& text, const char* option, const CommandLine& line)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || text.trimmed() != text || port < 0 || port >= kFlasherPortCount)
        line.usageError(
            QStringLiteral("%1 takes a port index from 0 (COM1) to %2 (COM%3), not '%4'")
                .arg(QLatin1StringView(option))
                .arg(kFlasherPortCount - 1)
                .arg(kFlasherPortCount)
                .arg(text));
    return port;
}

QString portText(int port)
{
    return QStringLiteral("%1 (port %2)").arg(flasherPortName(port)).arg(port);
}

std::chrono::milliseconds secondsOf(const CommandLine& line, const char* option)
{
    const QString text = line.value(option);
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    // Written so that "nan", which converts, is refused as well.
    if (!ok || !(seconds > 0 && seconds <= 86400))
        line.usageError(QStringLiteral("--%1 takes seconds from 0 to 86400, not '%2'")
                            .arg(QLatin1StringView(option), text));
    return std::chrono::milliseconds(qint64(seconds * 1000));
}

std::optional<std::chrono::milliseconds> timeoutOf(const CommandLine& line)
{
    if (!line.isSet("timeout"))
        return std::nullopt;
    return secondsOf(line, "timeout");
}

void setQuiet(bool quiet)
{
    g_quiet = quiet;
}

bool isQuiet()
{
    return g_quiet;
}

void say(const QString& text)
{
    if (g_quiet)
        return;
    static QTextStream stream(stdout);
    stream << text;
    stream.flush();
}

void complain(const QString& kind, const QString& text)
{
    if (g_quiet && kind != QLatin1StringView("error"))
        return;
    // The ports of a batch tell their waits from their own threads.
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    static QTextStream stream(stderr);
    stream << kind << ": " << text << '\n';
    stream.flush();
}

void warnAll(const Problems& problems)
{
    for (const Problem& problem : problems)
        complain(QStringLiteral("warning"), problem.toString());
}

Result<AppPaths> projectNamed(const QString& folder)
{
    return existingProjectPaths(folder);
}

AppPaths requireProject(const QString& folder)
{
    const Result<AppPaths> paths = projectNamed(folder);
    stopOnProblems(paths.problems);
    return paths.value;
}

namespace {

constexpr qint64 kMostStandardInput = qint64(256) << 20;

} // namespace

InputFile::InputFile(const QString& given)
{
    if (given != QLatin1StringView("-")) {
        m_path = absoluteNativePath(given);
        return;
    }
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        throw Error(QStringLiteral("standard input cannot be read: %1").arg(input.errorString()));
    m_copy = std::make_unique<QTemporaryFile>();
    if (!m_copy->open())
        throw Error(
            QStringLiteral("no temporary file for standard input: %1").arg(m_copy->errorString()));
    char buffer[1 << 16];
    qint64 kept = 0;
    for (;;) {
        const qint64 got = input.read(buffer, sizeof buffer);
        if (got < 0)
            throw Error(
                QStringLiteral("standard input cannot be read: %1").arg(input.errorString()));
        if (got == 0)
            break;
        // A firmware or a bank is far smaller; an endless stream must not fill the disk.
        kept += got;
        if (kept > kMostStandardInput)
            throw Error(QStringLiteral("standard input holds more than %1 MiB, more than any "
                                       "firmware, bank or document")
                            .arg(kMostStandardInput >> 20));
        if (m_copy->write(buffer, got) != got)
            throw Error(
                QStringLiteral("standard input cannot be kept: %1").arg(m_copy->errorString()));
    }
    if (!m_copy->flush())
        throw Error(QStringLiteral("standard input cannot be kept: %1").arg(m_copy->errorString()));
    m_path = m_copy->fileName();
}

QString InputFile::displayName() const
{
    return m_copy ? QStringLiteral("standard input") : m_path;
}

} // namespace quillner::cli
