#include "core/app/profile_file.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QStringList>

namespace quillner {

namespace {

// The settings file holds one short entry; anything larger, or anything that is no regular file
// (a FIFO would hold the start-up before any window shows, /dev/zero would never end), is read as
// a file that cannot be read.
constexpr qint64 kMostProfileBytes = 1 << 20;

QStringList readLines(const QString& path, bool* ok)
{
    QByteArray bytes;
    try {
        bytes = readFileBytes(path, FileSize::atMost(kMostProfileBytes));
    } catch (const Error&) {
        *ok = false;
        return {};
    }
    *ok = true;
    QString text = QString::fromUtf8(bytes);
    // Every leading byte-order mark goes, so that the reader and the writer see the same first
    // line however many marks an editor left.
    while (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// "[name]" gives name; anything else is no section header.
bool sectionName(const QString& line, QString* name)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(u'[') || !trimmed.endsWith(u']'))
        return false;
    *name = trimmed.mid(1, trimmed.size() - 2).trimmed();
    return true;
}

bool keyValue(const QString& line, QString* key, QString* value)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0 || line.trimmed().startsWith(u';'))
        return false;
    *key = line.left(eq).trimmed();
    *value = line.mid(eq + 1).trimmed();
    return true;
}

bool isQuote(QChar c)
{
    return c == u'"' || c == u'\'';
}

// The value as stored: a value that begins or ends with a blank or a quote is wrapped in double
// quotes, which the reader takes away again, so that it comes back exactly.
QString storedValue(const QString& value)
{
    if (value.isEmpty())
        return value;
    const auto kept = [](QChar c) { return !c.isSpace() && !isQuote(c); };
    if (kept(value.front()) && kept(value.back()))
        return value;
    return u'"' + value + u'"';
}

} // namespace

QString readProfileString(const QString& path, const QString& section, const QString& key)
{
    bool ok = false;
    const QStringList lines = readLines(path, &ok);
    bool inSection = false;
    for (const QString& line : lines) {
        QString name, k, v;
        if (sectionName(line, &name)) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
        } else if (inSection && keyValue(line, &k, &v) &&
                   k.compare(key, Qt::CaseInsensitive) == 0) {
            // A value wholly in matching quotes is given without them, as Windows does.
            if (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front())
                v = v.mid(1, v.size() - 2);
            return v;
        }
    }
    return {};
}

void writeProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value)
{
    bool ok = false;
    QStringList lines = readLines(path, &ok);
    const QString entry = key + u'=' + storedValue(value);

    qsizetype sectionStart = -1;
    qsizetype sectionEnd = -1; // one past the last line of the section
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        QString name, k, v;
        if (sectionName(lines[i], &name)) {
            if (sectionStart >= 0 && sectionEnd < 0)
                sectionEnd = i;
            if (sectionStart < 0 && name.compare(section, Qt::CaseInsensitive) == 0)
                sectionStart = i;
        } else if (sectionStart >= 0 && sectionEnd < 0 && keyValue(lines[i], &k, &v) &&
                   k.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        if (sectionStart < 0) {
            lines << (u'[' + section + u']') << entry;
        } else {
            qsizetype insertAt = sectionEnd < 0 ? lines.size() : sectionEnd;
            // Keep the new key next to the section's other keys, before its trailing blank lines.
            while (insertAt > sectionStart + 1 && lines[insertAt - 1].trimmed().isEmpty())
                --insertAt;
            lines.insert(insertAt, entry);
        }
    }

    QByteArray data;
    for (const QString& line : lines)
        data += line.toUtf8() + "\r\n";
    try {
        writeFileAtomically(path, data);
    } catch (const Error&) {
        throw Error(QStringLiteral("Unable to write to %1").arg(path));
    }
}

} // namespace quillner
