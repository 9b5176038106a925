#include "core/app/csv_table.h"

namespace quillner {

namespace {

class CsvReader
{
public:
    explicit CsvReader(const QString& text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    qint64 line() const { return m_line; }

    // Reads the record that begins here; empty lines before it are skipped. False at the end.
    bool next(CsvRecord& record)
    {
        while (!atEnd() && isLineBreak(m_text[m_pos]))
            skipLineBreak();
        if (atEnd())
            return false;
        record = CsvRecord{};
        record.line = m_line;
        for (;;) {
            QString field;
            const QString fault = readField(field);
            record.fields.append(field);
            if (!fault.isEmpty()) {
                record.fault = fault;
                record.faultColumn = int(record.fields.size());
                skipRestOfLine();
                return true;
            }
            if (atEnd())
                return true;
            if (m_text[m_pos] == u',') {
                ++m_pos;
                continue;
            }
            skipLineBreak();
            return true;
        }
    }

private:
    static bool isLineBreak(QChar c) { return c == u'\n' || c == u'\r'; }

    void skipLineBreak()
    {
        if (m_text[m_pos] == u'\r' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == u'\n')
            ++m_pos;
        ++m_pos;
        ++m_line;
    }

    void skipRestOfLine()
    {
        while (!atEnd() && !isLineBreak(m_text[m_pos]))
            ++m_pos;
        if (!atEnd())
            skipLineBreak();
    }

    // Reads one field up to the comma or line break after it; returns why it cannot be read.
    QString readField(QString& field)
    {
        if (atEnd() || m_text[m_pos] != u'"') {
            const qsizetype start = m_pos;
            while (!atEnd() && m_text[m_pos] != u',' && !isLineBreak(m_text[m_pos])) {
                if (m_text[m_pos] == u'"')
                    return QStringLiteral("a quote inside an unquoted field");
                ++m_pos;
            }
            field = m_text.sliced(start, m_pos - start);
            return {};
        }
        ++m_pos;
        for (;;) {
            if (atEnd())
                return QStringLiteral("a quoted field that is never closed");
            const QChar c = m_text[m_pos++];
            if (c == u'"') {
                if (!atEnd() && m_text[m_pos] == u'"') {
                    field += u'"';
                    ++m_pos;
                    continue;
                }
                if (!atEnd() && m_text[m_pos] != u',' && !isLineBreak(m_text[m_pos]))
                    return QStringLiteral("text after the closing quote of a field");
                return {};
            }
            if (c == u'\n' || (c == u'\r' && (atEnd() || m_text[m_pos] != u'\n')))
                ++m_line;
            field += c;
        }
    }

    const QString m_text;
    qsizetype m_pos = 0;
    qint64 m_line = 1;
};

} // namespace

QList<CsvRecord> readCsvRecords(const QByteArray& text)
{
    QByteArrayView bytes(text);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    CsvReader reader(QString::fromUtf8(bytes));
    QList<CsvRecord> records;
    CsvRecord record;
    while (reader.next(record))
        records.append(record);
    return records;
}

} // namespace quillner
