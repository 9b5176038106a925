#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace quillner {

// A file of this tool told as one fact a line, in a fixed order, so that two files compare line
// by line (git's textconv): a project document (pargen.xml, Filter20A.xml, Filter20B.xml,
// var.xml), a bank image or an S-record firmware (its bank 1). The kind is recognised by the
// content, never by the file's name, and neither name nor path appears in the text, so the same
// content always gives the same text.
//   document = pargen.xml
//   serial.baud = 115200
//   filter.kind = 2.0A identifiers
//   hidden 0x0400-0x07FF
// What cannot be read is told on a "problem: ..." line of its own, after what could be.
// git runs the textconv on every file its attributes name, and a textconv that fails breaks the
// whole diff: a file that is none of the kinds above, or that cannot be read as one, is told in a
// first line and then shown as it is written; so is a document that holds merge conflict markers,
// which is read exactly when a diff is needed.
struct CanonicalText
{
    QStringList lines;
    // Something of the file was read; false for a file that is none of the kinds above or that
    // cannot be read as one.
    bool described = false;
    // The file's bytes follow the lines as they are written.
    bool verbatim = false;
    // The file could not be read at all (missing, not a regular file): nothing can be shown.
    bool unreadable = false;

    // The lines, each ended by "\n".
    QString text() const;
};

CanonicalText canonicalText(const QString& path);

// Whether the bytes hold a line that git writes around a merge conflict.
bool holdsConflictMarkers(QByteArrayView bytes);

} // namespace quillner
