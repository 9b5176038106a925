#include "core/app/profile_file.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QFileInfo>
#include <QList>

#include <algorithm>

namespace quillner {

namespace {

// The settings file holds one short entry; anything larger, or anything that is no regular file
// (a FIFO would hold the start-up before any window shows, /dev/zero would never end), is read as
// a file that cannot be read.
constexpr qint64 kMostProfileBytes = 1 << 20;

// One line of the file: its bytes as stored, line end included, so that a line the writer does
// not change goes back exactly; and its text for the reader, without the end.
struct ProfileLine
{
    QByteArray bytes;
    QString text;
};

struct ProfileText
{
    QList<ProfileLine> lines;
    QByteArray lineEnd = "\r\n"; // the file's own, for the lines the writer adds
};

// The file's bytes cut into lines.
ProfileText profileText(const QByteArray& bytes)
{
    ProfileText text;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', start);
        const qsizetype end = newline < 0 ? bytes.size() : newline + 1;
        QByteArray line = bytes.mid(start, end - start);
        QByteArray content = line;
        if (content.endsWith('\n'))
            content.chop(1);
        if (content.endsWith('\r'))
            content.chop(1);
        if (text.lines.isEmpty() && newline >= 0)
            text.lineEnd = line.mid(content.size());
        text.lines.append({line, QString::fromUtf8(content)});
        start = end;
    }
    // Every leading byte-order mark goes from the text, so that the reader and the writer see
    // the same first line however many marks an editor left; the bytes keep them.
    if (!text.lines.isEmpty()) {
        QString& first = text.lines.first().text;
        while (first.startsWith(QChar(0xFEFF)))
            first.remove(0, 1);
    }
    return text;
}

QByteArray profileBytes(const QString& path)
{
    return readFileBytes(path, FileSize::atMost(kMostProfileBytes));
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
    ProfileText profile;
    try {
        profile = profileText(profileBytes(path));
    } catch (const Error&) {
        return {};
    }
    bool inSection = false;
    for (const ProfileLine& line : profile.lines) {
        QString name, k, v;
        if (sectionName(line.text, &name)) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
        } else if (inSection && keyValue(line.text, &k, &v) &&
                   k.compare(key, Qt::CaseInsensitive) == 0) {
            // A value wholly in matching quotes is given without them, as Windows does.
            if (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front())
                v = v.mid(1, v.size() - 2);
            return v;
        }
    }
    return {};
}

Result<bool> writeProfileString(const QString& path, const QString& section, const QString& key,
                                const QString& value)
{
    ProfileText profile;
    // A folder in the file's place holds nothing of the user's to lose: the writing is tried,
    // and fails naming the file.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isDir()) {
        try {
            profile = profileText(profileBytes(path));
        } catch (const Error& error) {
            return Result<bool>::failure(
                {{QFileInfo(path).fileName(),
                  {},
                  error.message() + QStringLiteral("; it is kept as it is")}});
        }
    }
    QList<ProfileLine>& lines = profile.lines;
    const QByteArray entry = (key + u'=' + storedValue(value)).toUtf8() + profile.lineEnd;

    qsizetype sectionStart = -1;
    qsizetype sectionEnd = -1; // one past the last line of the section
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        QString name, k, v;
        if (sectionName(lines[i].text, &name)) {
            if (sectionStart >= 0 && sectionEnd < 0)
                sectionEnd = i;
            if (sectionStart < 0 && name.compare(section, Qt::CaseInsensitive) == 0)
                sectionStart = i;
        } else if (sectionStart >= 0 && sectionEnd < 0 && keyValue(lines[i].text, &k, &v) &&
                   k.compare(key, Qt::CaseInsensitive) == 0) {
            // The key as the file spells it, and the bytes before it, stay: a byte-order mark,
            // the blanks of the user's layout.
            const QByteArray& old = lines[i].bytes;
            const qsizetype keyAt = std::max<qsizetype>(old.indexOf(k.toUtf8()), 0);
            lines[i].bytes =
                old.left(keyAt) + (k + u'=' + storedValue(value)).toUtf8() + profile.lineEnd;
            replaced = true;
        }
    }
    if (!replaced) {
        // A last line without its end gets one before anything follows it.
        if (!lines.isEmpty() && !lines.last().bytes.endsWith('\n'))
            lines.last().bytes += profile.lineEnd;
        if (sectionStart < 0) {
            lines.append({(u'[' + section + u']').toUtf8() + profile.lineEnd, {}});
            lines.append({entry, {}});
        } else {
            qsizetype insertAt = sectionEnd < 0 ? lines.size() : sectionEnd;
            // Keep the new key next to the section's other keys, before its trailing blank lines.
            while (insertAt > sectionStart + 1 && lines[insertAt - 1].text.trimmed().isEmpty())
                --insertAt;
            lines.insert(insertAt, {entry, {}});
        }
    }

    QByteArray data;
    for (const ProfileLine& line : lines)
        data += line.bytes;
    try {
        writeFileAtomically(path, data);
    } catch (const Error&) {
        throw Error(QStringLiteral("Unable to write to %1").arg(path));
    }
    return {true, {}, {}};
}

} // namespace quillner
