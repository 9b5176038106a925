#include "support/program_run.h"

#include <QProcess>

namespace quillner::testing {

Run runProgram(const QString& program, const QStringList& arguments,
               const QString& workingDirectory, const QByteArray& standardInput)
{
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.write(standardInput);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace quillner::testing
