#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace quillner {

// One record of a CSV file: its fields, and the line it begins on (a quoted field may hold line
// breaks, so the next record may begin further down).
struct CsvRecord
{
    qint64 line = 0;
    QStringList fields;
    // Why the record could not be read ("a quote inside an unquoted field"), at fault's field
    // (from 1); empty when it was read. A record at fault ends at its line's end, or at the end
    // of the text when a quoted field is never closed.
    QString fault;
    int faultColumn = 0;
};

// Comma-separated values as RFC 4180 writes them: fields separated by commas, records by CR LF
// or LF; a field in double quotes may hold commas, line breaks and doubled quotes ("" for one).
// The text is UTF-8; a leading byte-order mark is dropped. Lines that are empty are no records.
QList<CsvRecord> readCsvRecords(const QByteArray& text);

} // namespace quillner
