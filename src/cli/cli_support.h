#pragma once

#include "command_table.h"
#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "core/app/problems.h"
#include "core/app/result.h"

#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <chrono>
#include <memory>
#include <optional>

namespace quillner::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
// The command line does not say what to do: an unknown command or option, a missing argument.
inline constexpr int kExitUsage = 2;
// The merge completed but the new firmware does not hold the bank.
inline constexpr int kExitBankNotInFirmware = 3;
// The flashing tool that was waited for failed, or did not end in time.
inline constexpr int kExitFlasherFailed = 4;
inline constexpr int kExitFlasherTimedOut = 5;

// A usage error: told with a hint to the command's help, and the program ends with kExitUsage.
struct UsageError
{
    QString message;
    QString command; // the command whose help the hint names; empty for the program's
};

[[noreturn]] void usageError(const QString& text, const QString& command = {});

// "Try 'quillner-cli help COMMAND'.", or the program's help without a command: the line a usage
// error ends with.
QString usageHint(const QString& command);

// Ends a command on problems rather than its work, as the program tells an error: their lines
// after "error: ", with the hint to the command's help when the first is of kind Usage. Returns
// the exit status of that kind, for the command to return.
int stoppedBy(const Problems& problems, const QString& command = {});
// The same for one problem of the work (kind Failure) told in a text.
int stoppedBy(const QString& text);

// Ends the command with the problems of a core result that has any, as a usage error when the
// first is of kind Usage, as a failure otherwise; for code that cannot return stoppedBy's status.
void stopOnProblems(const Problems& problems);
// The value of a result without problems; stops on its problems as stopOnProblems does.
template <typename T> T valueOrStop(Result<T> result)
{
    stopOnProblems(result.problems);
    return std::move(result.value);
}

// The options several commands share, declared once.
inline const OptionSpec kLenientOption{
    "lenient", Takes::Nothing, "",
    "Warn about a document that exists but cannot be read and go on\nwith zeros for what was not "
    "read; without it such a document\nstops the command before anything is written."};
inline const OptionSpec kStrictOption{
    "strict", Takes::Nothing, "",
    "Accepted and ignored: stopping on an unreadable document is the\ndefault."};
inline const OptionSpec kJsonDescriptionOption{
    "json", Takes::Nothing, "",
    "Print the description as one JSON object of schema 1\n(docs/description-schema.md)."};
inline const OptionSpec kMasterOption{"master", Takes::Folder, "DIR",
                                      "The folder holding SX51804.sx; by default the MASTER folder "
                                      "of\nthe data folder."};
inline const OptionSpec kHomeOption{
    "home", Takes::Folder, "DIR",
    "The data folder, which holds MASTER and PROJECTS. By default\nthis program's folder when it "
    "is a portable folder (writable, or\nholding Quillner.ini or PROJECTS), else "
    "~/.local/share/Quillner."};

// --lenient, refused together with --strict.
bool lenientOf(const CommandLine& line);

// A serial port index as typed for the option ("--port"): 0 (COM1) to 7 (COM8); a usage error
// of the command otherwise.
int portIndexOf(const QString& text, const char* option, const CommandLine& line);
// "COM2 (port 1)": the port's name and the index typed for it.
QString portText(int port);
// The option's value as seconds, more than 0 and at most a day; a usage error otherwise.
std::chrono::milliseconds secondsOf(const CommandLine& line, const char* option);
// --timeout SECONDS, as secondsOf; none when it is not given.
std::optional<std::chrono::milliseconds> timeoutOf(const CommandLine& line);

// -q: nothing but errors reaches the terminal.
void setQuiet(bool quiet);
bool isQuiet();

// Standard output, unless quiet. Every piece goes out at once, so that standard output and
// standard error interleave in the order they were written.
void say(const QString& text);
// "kind: text" on standard error; only errors pass -q.
void complain(const QString& kind, const QString& text);
void warnAll(const Problems& problems);

// The project folder named on the command line; a problem when it is no folder.
Result<AppPaths> projectNamed(const QString& folder);
// The same, ending the command when it is no folder, for code that cannot return a status.
AppPaths requireProject(const QString& folder);

// A file named on the command line, where "-" stands for standard input: its bytes are kept in a
// temporary file for as long as this object lives, so that every reader can take a path.
class InputFile
{
public:
    explicit InputFile(const QString& given);
    QString path() const { return m_path; }
    bool isStandardInput() const { return m_copy != nullptr; }
    // The name to show: the path given, or "standard input".
    QString displayName() const;

private:
    std::unique_ptr<QTemporaryFile> m_copy;
    QString m_path;
};

} // namespace quillner::cli
