#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace quillner::testing {

// How a program run by a test ended: its exit status (-1 when it crashed or did not end within
// a minute) and what it printed.
struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs program with arguments in workingDirectory (the test's own when empty), gives it
// standardInput and waits for it.
Run runProgram(const QString& program, const QStringList& arguments,
               const QString& workingDirectory = {}, const QByteArray& standardInput = {});

} // namespace quillner::testing
