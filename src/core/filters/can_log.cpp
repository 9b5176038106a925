#include "core/filters/can_log.h"

#include "core/app/error.h"
#include "core/filters/mask_pattern.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstring>

namespace quillner {

namespace {

constexpr qint64 kPieceSize = 4 << 20;
constexpr int kMaxListedProblems = 20;
constexpr quint32 kErrorFrameFlag = 0x20000000; // candump's mark of an error frame

// Hexadecimal digits by character, -1 for any other: a line is read at the speed of a table.
constexpr std::array<qint8, 256> kHexDigits = [] {
    std::array<qint8, 256> digits{};
    digits.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        digits[size_t(c)] = qint8(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        digits[size_t(c)] = qint8(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        digits[size_t(c)] = qint8(c - 'A' + 10);
    return digits;
}();

int hexDigit(char c)
{
    return kHexDigits[quint8(c)];
}

// The whole text as a hexadecimal number of at most eight digits.
std::optional<quint32> hexNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    quint32 value = 0;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | quint32(digit);
    }
    return value;
}

std::optional<quint32> decimalNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    quint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint64(c - '0');
    }
    return value > 0xFFFFFFFFu ? std::nullopt : std::optional<quint32>(quint32(value));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Splits off the next blank-separated word of the line.
QByteArrayView nextWord(QByteArrayView& rest)
{
    qsizetype start = 0;
    while (start < rest.size() && isBlank(rest[start]))
        ++start;
    qsizetype end = start;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const QByteArrayView word = rest.sliced(start, end - start);
    rest = rest.sliced(end);
    return word;
}

bool isBlankLine(QByteArrayView line)
{
    return std::all_of(line.begin(), line.end(), [](char c) { return isBlank(c); });
}

enum class LineKind { Frame, Other, Unreadable };

// "(time) interface ID#data": ID is three hexadecimal digits, or eight for an extended one.
// Read with pointers: a log of a gigabyte is millions of these lines.
LineKind readCandumpLine(QByteArrayView line, LogFrame& frame)
{
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end && isBlank(*p))
        ++p;
    if (p == end)
        return LineKind::Other;
    if (*p != '(')
        return LineKind::Unreadable;
    const char* close = static_cast<const char*>(std::memchr(p, ')', size_t(end - p)));
    if (!close || close + 1 == end || !isBlank(close[1]))
        return LineKind::Unreadable;
    p = close + 1;
    while (p < end && isBlank(*p))
        ++p;
    const char* const interfaceStart = p;
    while (p < end && !isBlank(*p))
        ++p;
    if (p == interfaceStart)
        return LineKind::Unreadable;
    while (p < end && isBlank(*p))
        ++p;
    // The identifier: three digits and "#", or eight and "#".
    const char* const text = p;
    const qsizetype rest = end - text;
    const int digits = rest > 3 && text[3] == '#' ? 3 : rest > 8 && text[8] == '#' ? 8 : 0;
    if (digits == 0)
        return LineKind::Unreadable;
    quint32 id = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0)
            return LineKind::Unreadable;
        id = id << 4 | quint32(digit);
    }
    frame.extended = digits == 8;
    if (frame.extended && (id & kErrorFrameFlag))
        return LineKind::Other;
    if (id > (frame.extended ? 0x1FFFFFFFu : 0x7FFu))
        return LineKind::Unreadable;
    frame.id = id;
    const char* data = text + digits + 1;
    frame.fd = data < end && *data == '#';
    frame.remote = !frame.fd && data < end && *data == 'R';
    if (frame.remote)
        return LineKind::Frame;
    if (frame.fd)
        ++data;
    // The data, up to the end or to a blank before what candump may add after it.
    while (data < end && (hexDigit(*data) >= 0 || *data == '.'))
        ++data;
    return data == end || isBlank(*data) ? LineKind::Frame : LineKind::Unreadable;
}

bool isTime(QByteArrayView word)
{
    return !word.isEmpty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.';
    });
}

// "time channel ID dir d|r …", "time CANFD channel dir ID …"; everything else is no frame.
LineKind readAscLine(QByteArrayView line, bool decimalIds, LogFrame& frame)
{
    QByteArrayView rest = line;
    if (!isTime(nextWord(rest)))
        return LineKind::Other;
    QByteArrayView channel = nextWord(rest);
    QByteArrayView idText;
    frame.fd = channel == "CANFD";
    if (frame.fd) {
        channel = nextWord(rest);
        nextWord(rest); // Rx or Tx
        idText = nextWord(rest);
    } else {
        idText = nextWord(rest);
        const QByteArrayView direction = nextWord(rest);
        const QByteArrayView kind = nextWord(rest);
        if ((direction != "Rx" && direction != "Tx") || (kind != "d" && kind != "r"))
            return LineKind::Other;
        frame.remote = kind == "r";
    }
    if (!decimalNumber(channel))
        return LineKind::Other;
    frame.extended = idText.endsWith('x') || idText.endsWith('X');
    if (frame.extended)
        idText.chop(1);
    const std::optional<quint32> id = decimalIds ? decimalNumber(idText) : hexNumber(idText);
    if (!id || *id > (frame.extended ? 0x1FFFFFFFu : 0x7FFu))
        return LineKind::Other;
    frame.id = *id;
    return LineKind::Frame;
}

class LineReader
{
public:
    explicit LineReader(const QString& path) : m_file(path)
    {
        if (!m_file.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(QDir::toNativeSeparators(path), m_file.errorString()));
        m_buffer.resize(kPieceSize);
    }

    // The next line without its line end, or nothing at the end of the file.
    std::optional<QByteArrayView> next()
    {
        for (;;) {
            const char* begin = m_buffer.constData() + m_start;
            const void* newline = std::memchr(begin, '\n', size_t(m_end - m_start));
            if (newline) {
                const qsizetype length = static_cast<const char*>(newline) - begin;
                m_start += length + 1;
                return trimmed(QByteArrayView(begin, length));
            }
            if (m_atEnd) {
                if (m_start == m_end)
                    return std::nullopt;
                const QByteArrayView last(begin, m_end - m_start);
                m_start = m_end;
                return trimmed(last);
            }
            refill();
        }
    }

private:
    static QByteArrayView trimmed(QByteArrayView line)
    {
        return line.endsWith('\r') ? line.chopped(1) : line;
    }

    // Keeps the unfinished line and reads the next piece after it.
    void refill()
    {
        const qint64 kept = m_end - m_start;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_start, size_t(kept));
        if (kept == m_buffer.size())
            m_buffer.resize(m_buffer.size() * 2);
        const qint64 read = m_file.read(m_buffer.data() + kept, m_buffer.size() - kept);
        if (read < 0)
            throw Error(m_file.errorString());
        m_start = 0;
        m_end = kept + read;
        m_atEnd = read == 0;
    }

    QFile m_file;
    QByteArray m_buffer;
    qint64 m_start = 0;
    qint64 m_end = 0;
    bool m_atEnd = false;
};

QString identifierText(quint32 id, bool extended)
{
    return QStringLiteral("0x") +
           QString::number(id, 16).toUpper().rightJustified(extended ? 8 : 3, u'0');
}

struct IdentifierCounts
{
    quint32 id;
    bool extended;
    FilterTally::Counts counts;
};

// Every identifier met, standard ones first, each form ascending.
QList<IdentifierCounts> countsInOrder(const FilterTally& tally)
{
    QList<IdentifierCounts> result;
    for (quint32 id = 0; id < quint32(tally.standard.size()); ++id) {
        const FilterTally::Counts& counts = tally.standard[id];
        if (counts.passed + counts.blocked > 0)
            result.append({id, false, counts});
    }
    QList<quint32> extended = tally.extended.keys();
    std::sort(extended.begin(), extended.end());
    for (const quint32 id : extended)
        result.append({id, true, tally.extended.value(id)});
    return result;
}

} // namespace

LogReading readCanLog(const QString& path, const LogVisitor& visitor)
{
    LineReader reader(path);
    LogReading reading;
    std::optional<bool> candump;
    bool decimalIds = false;
    LogFrame frame;
    while (const std::optional<QByteArrayView> line = reader.next()) {
        ++reading.lines;
        if (!candump && !isBlankLine(*line)) {
            QByteArrayView rest = *line;
            candump = nextWord(rest).startsWith('(');
            reading.format = *candump ? LogFormat::Candump : LogFormat::VectorAsc;
            if (visitor.formatKnown)
                visitor.formatKnown(reading.format);
        }
        frame = LogFrame{};
        LineKind kind = LineKind::Other;
        if (candump && *candump) {
            kind = readCandumpLine(*line, frame);
        } else if (candump) {
            kind = readAscLine(*line, decimalIds, frame);
            if (kind == LineKind::Other && line->trimmed().startsWith("base ")) {
                QByteArrayView rest = *line;
                nextWord(rest);
                decimalIds = nextWord(rest) == "dec";
            }
        }
        if (kind == LineKind::Frame) {
            ++reading.frames;
            frame.line = *line;
            frame.lineNumber = reading.lines;
            if (visitor.frame)
                visitor.frame(frame);
        } else {
            if (kind == LineKind::Unreadable && ++reading.unreadableCount <= kMaxListedProblems) {
                reading.unreadable.append({QFileInfo(path).fileName(),
                                           QStringLiteral("line %1").arg(reading.lines),
                                           QStringLiteral("not a candump frame")});
            }
            if (visitor.otherLine)
                visitor.otherLine(*line);
        }
    }
    return reading;
}

void FilterTally::add(const LogFrame& frame, FrameVerdict verdict)
{
    Counts& counts = frame.extended ? extended[frame.id] : standard[frame.id];
    if (verdict == FrameVerdict::Passed) {
        ++counts.passed;
        ++passed;
        return;
    }
    ++counts.blocked;
    ++blocked;
    if (verdict == FrameVerdict::WrongForm) {
        counts.wrongForm = true;
        ++wrongForm;
    }
}

QString filterTallyText(const FilterTally& tally)
{
    QStringList lines;
    for (const IdentifierCounts& entry : countsInOrder(tally)) {
        QString line = QStringLiteral("%1 passed %2 blocked %3")
                           .arg(identifierText(entry.id, entry.extended))
                           .arg(entry.counts.passed)
                           .arg(entry.counts.blocked);
        if (entry.counts.wrongForm)
            line += entry.extended ? QStringLiteral(" (extended frame on a CAN 2.0A gateway)")
                                   : QStringLiteral(" (standard frame on a CAN 2.0B gateway)");
        lines << line;
    }
    lines << QStringLiteral("Total: %1 frames, %2 passed, %3 blocked (%4 of another identifier "
                            "form), %5 unreadable lines")
                 .arg(tally.passed + tally.blocked)
                 .arg(tally.passed)
                 .arg(tally.blocked)
                 .arg(tally.wrongForm)
                 .arg(tally.unreadable);
    return lines.join(u'\n') + u'\n';
}

QJsonObject filterTallyJson(const FilterTally& tally)
{
    QJsonArray identifiers;
    for (const IdentifierCounts& entry : countsInOrder(tally)) {
        identifiers.append(
            QJsonObject{{QStringLiteral("id"), qint64(entry.id)},
                        {QStringLiteral("text"), identifierText(entry.id, entry.extended)},
                        {QStringLiteral("extended"), entry.extended},
                        {QStringLiteral("passed"), qint64(entry.counts.passed)},
                        {QStringLiteral("blocked"), qint64(entry.counts.blocked)},
                        {QStringLiteral("wrongForm"), entry.counts.wrongForm}});
    }
    return {{QStringLiteral("identifiers"), identifiers},
            {QStringLiteral("frames"), qint64(tally.passed + tally.blocked)},
            {QStringLiteral("passed"), qint64(tally.passed)},
            {QStringLiteral("blocked"), qint64(tally.blocked)},
            {QStringLiteral("wrongForm"), qint64(tally.wrongForm)},
            {QStringLiteral("unreadable"), qint64(tally.unreadable)}};
}

} // namespace quillner
