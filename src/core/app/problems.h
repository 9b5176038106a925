#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace quillner {

// What a problem stops, as the command line tells it by its exit status: a failure of the
// work (1), or a request that is not one the command takes (2).
enum class ProblemKind { Failure, Usage };

// One thing that could not be read or done, with where it was met.
struct Problem
{
    QString file;     // the file's name ("pargen.xml"); empty when no file is concerned
    QString location; // the element, child or line ("Ser_Baud", "child 12", "line 5"); may be empty
    QString text;     // what is wrong, in the user's words
    ProblemKind kind = ProblemKind::Failure;

    // "file, location: text" with the parts that are present; the text alone without either.
    QString toString() const;

    friend bool operator==(const Problem&, const Problem&) = default;
};

using Problems = QList<Problem>;

// The problems as lines of text, in order.
QStringList problemLines(const Problems& problems);

// The problems as JSON, in order: each an object of "file", "location" and "text".
QJsonObject problemJson(const Problem& problem);
QJsonArray problemsJson(const Problems& problems);

} // namespace quillner
