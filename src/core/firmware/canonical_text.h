#pragma once

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
struct CanonicalText
{
    QStringList lines;
    // Something of the file was read; false for a file that is none of the kinds above or that
    // cannot be read at all.
    bool described = false;

    // The lines, each ended by "\n".
    QString text() const;
};

CanonicalText canonicalText(const QString& path);

} // namespace quillner
