#include "core/logs/candump_reader.h"

#include "core/logs/text_lines.h"

#include <cstring>

namespace quillner {

namespace {

constexpr quint32 kErrorFrameFlag = 0x20000000; // candump's mark of an error frame

// The value of the digits, all of them read whatever they are, so that a line is read without a
// branch for each; false when one is no hexadecimal digit.
template <int Digits> bool readHexDigits(const char* text, quint32& value)
{
    int all = 0;
    value = 0;
    for (int i = 0; i < Digits; ++i) {
        const int digit = hexDigit(text[i]);
        all |= digit;
        value = value << 4 | quint32(digit & 0x0F);
    }
    return all >= 0;
}

// Reads "ID" of three or eight hexadecimal digits up to the delimiter at text[3] or text[8];
// the digits read, or 0 when there is no such identifier.
int readIdentifier(const char* text, const char* end, char delimiter, quint32& id)
{
    const qsizetype rest = end - text;
    if (rest > 3 && text[3] == delimiter)
        return readHexDigits<3>(text, id) ? 3 : 0;
    if (rest > 8 && text[8] == delimiter)
        return readHexDigits<8>(text, id) ? 8 : 0;
    return 0;
}

bool isDataByte(char c)
{
    return hexDigit(c) >= 0 || c == '.';
}

// Whether each of eight bytes is a hexadecimal digit or '.', told for all at once: every byte
// below 0x80 is compared with the ranges by an addition that carries into its own top bit alone.
bool areDataBytes(quint64 bytes)
{
    constexpr quint64 kOnes = 0x0101010101010101;
    constexpr quint64 kTops = kOnes * 0x80;
    const auto atLeast = [](quint64 value, char low) {
        return (value + kOnes * quint64(0x80 - low)) & kTops;
    };
    const auto atMost = [](quint64 value, char high) {
        return ~(value + kOnes * quint64(0x7F - high)) & kTops;
    };
    const quint64 lower = bytes | kOnes * 0x20; // 'A' to 'F' as 'a' to 'f'
    const quint64 data = (atLeast(bytes, '0') & atMost(bytes, '9')) |
                         (atLeast(lower, 'a') & atMost(lower, 'f')) |
                         (atLeast(bytes, '.') & atMost(bytes, '.'));
    return (bytes & kTops) == 0 && data == kTops;
}

// The first byte from p that is no data byte, or end.
const char* endOfData(const char* p, const char* end)
{
    for (quint64 bytes = 0; end - p >= 8; p += 8) {
        std::memcpy(&bytes, p, 8);
        if (!areDataBytes(bytes))
            break;
    }
    while (p < end && isDataByte(*p))
        ++p;
    return p;
}

bool endsWord(const char* p, const char* end)
{
    return p == end || isBlank(*p);
}

// "_" and a raw length code of a classic frame.
const char* rawLengthCode(const char* p, const char* end)
{
    if (p + 1 < end && *p == '_' && hexDigit(p[1]) >= 0)
        return p + 2;
    return p;
}

// The identifier's form and range; eight digits with bit 29 are an error frame.
LineKind takeIdentifier(quint32 id, int digits, LogFrame& frame)
{
    frame.extended = digits == 8;
    if (frame.extended && (id & kErrorFrameFlag))
        return LineKind::ErrorFrame;
    if (id > (frame.extended ? kExtendedIdMax : kStandardIdMax))
        return LineKind::Unreadable;
    frame.id = id;
    return LineKind::Frame;
}

} // namespace

// Read with pointers: a log of a gigabyte is millions of these lines.
LineKind readCandumpLogLine(QByteArrayView line, LogFrame& frame)
{
    const char* p = line.data();
    const char* const end = p + line.size();
    while (p < end && isBlank(*p))
        ++p;
    if (p == end)
        return LineKind::Other;
    if (*p != '(')
        return LineKind::Unreadable;
    const char* close = findByte(p, end, ')');
    if (!close || close + 1 == end || !isBlank(close[1]))
        return LineKind::Unreadable;
    frame.timeText = QByteArrayView(p + 1, close);
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
    quint32 id = 0;
    const int digits = readIdentifier(p, end, '#', id);
    if (digits == 0)
        return LineKind::Unreadable;
    const LineKind kind = takeIdentifier(id, digits, frame);
    if (kind != LineKind::Frame)
        return kind;
    const char* data = p + digits + 1;
    frame.fd = data < end && *data == '#';
    frame.remote = !frame.fd && data < end && (*data == 'R' || *data == 'r');
    if (frame.remote) {
        ++data;
        if (data < end && hexDigit(*data) >= 0)
            data = rawLengthCode(data + 1, end);
        return endsWord(data, end) ? LineKind::Frame : LineKind::Unreadable;
    }
    if (frame.fd) {
        data += 1;
        if (data < end && !isBlank(*data)) {
            if (hexDigit(*data) < 0)
                return LineKind::Unreadable;
            ++data; // the flags
        }
    }
    // The data, up to the end or to a blank before what candump may add after it.
    data = endOfData(data, end);
    if (!frame.fd)
        data = rawLengthCode(data, end);
    return endsWord(data, end) ? LineKind::Frame : LineKind::Unreadable;
}

LineKind readCandumpScreenLine(QByteArrayView line, LogFrame& frame)
{
    if (line.startsWith('\t'))
        return LineKind::Other;
    QByteArrayView rest = line;
    while (!rest.isEmpty() && isBlank(rest.front()))
        rest = rest.sliced(1);
    if (rest.isEmpty())
        return LineKind::Other;
    if (rest.front() == '(') {
        // "(1700000000.123456)", "(000.000123)", "(2023-11-13 10:00:00.123456)"
        const qsizetype close = rest.indexOf(')');
        if (close < 0)
            return LineKind::Unreadable;
        frame.timeText = rest.sliced(1, close - 1);
        rest = rest.sliced(close + 1);
    }
    const QByteArrayView interface = nextWord(rest);
    QByteArrayView idText = nextWord(rest);
    if (interface.isEmpty())
        return LineKind::Unreadable;
    if (idText == "RX" || idText == "TX") {
        // -x: the direction, then "B" or "-" (bit rate switch) and "E" or "-" (error state).
        const QByteArrayView brs = nextWord(rest);
        const QByteArrayView esi = nextWord(rest);
        if ((brs != "B" && brs != "-") || (esi != "E" && esi != "-"))
            return LineKind::Unreadable;
        idText = nextWord(rest);
    }
    const QByteArrayView length = nextWord(rest);
    if (idText.size() != 3 && idText.size() != 8)
        return LineKind::Unreadable;
    const std::optional<quint32> id = hexNumber(idText);
    if (!id)
        return LineKind::Unreadable;
    const bool classic = length.size() == 3 && (length.front() == '[' || length.front() == '{') &&
                         hexDigit(length[1]) >= 0 &&
                         length.back() == (length.front() == '[' ? ']' : '}');
    const bool fd = length.size() == 4 && length.front() == '[' && length.back() == ']' &&
                    decimalNumber(length.sliced(1, 2)).has_value();
    if (!classic && !fd)
        return LineKind::Unreadable;
    const LineKind kind = takeIdentifier(*id, int(idText.size()), frame);
    if (kind != LineKind::Frame)
        return kind;
    frame.fd = fd;
    frame.remote = classic && withoutLeadingBlanks(rest).startsWith("remote request");
    return LineKind::Frame;
}

QByteArray candumpLogLine(const LogFrame& frame)
{
    QByteArray line;
    line.reserve(64 + 3 * frame.data.size());
    line += '(';
    line += QByteArray::number(frame.time.seconds);
    line += '.';
    line += QByteArray::number(frame.time.nanoseconds / 1000).rightJustified(6, '0');
    line += ") can";
    line += QByteArray::number(frame.channel);
    line += ' ';
    line += QByteArray::number(frame.id, 16).toUpper().rightJustified(frame.extended ? 8 : 3, '0');
    line += '#';
    if (frame.remote && !frame.fd) {
        line += 'R';
        return line;
    }
    if (frame.fd)
        line += "#0";
    line += frame.data.toByteArray().toHex().toUpper();
    return line;
}

} // namespace quillner
