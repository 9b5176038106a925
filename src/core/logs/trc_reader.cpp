#include "core/logs/trc_reader.h"

#include "core/logs/text_lines.h"

namespace quillner {

namespace {

// "0300" is a standard identifier, "18EFC034" (or any of more than four digits) an extended one.
LineKind takeIdentifier(QByteArrayView text, LogFrame& frame)
{
    const std::optional<quint32> id = hexNumber(text);
    if (!id)
        return LineKind::Unreadable;
    frame.extended = text.size() > 4;
    if (*id > (frame.extended ? kExtendedIdMax : kStandardIdMax))
        return LineKind::Unreadable;
    frame.id = *id;
    return LineKind::Frame;
}

// "1)" : a message number and its parenthesis.
bool isMessageNumber(QByteArrayView word)
{
    return word.size() >= 2 && word.endsWith(')') && decimalNumber(word.chopped(1)).has_value();
}

// Versions 1.0 to 1.3: "N) offset [bus] [type] ID [-] DLC data|RTR".
LineKind readVersion1(int version, QByteArrayView rest, LogFrame& frame)
{
    if (!isMessageNumber(nextWord(rest)))
        return LineKind::Unreadable;
    frame.timeText = nextWord(rest); // the time offset in milliseconds
    if (version >= 12)
        nextWord(rest); // the bus
    if (version >= 11) {
        const QByteArrayView type = nextWord(rest);
        if (type == "Error")
            return LineKind::ErrorFrame;
        if (type == "Warng")
            return LineKind::Other;
        if (type != "Rx" && type != "Tx")
            return LineKind::Unreadable;
    }
    const QByteArrayView id = nextWord(rest);
    if (version == 10 && id == "FFFFFFFF")
        return LineKind::Other; // a bus status, not a frame
    if (version >= 13 && nextWord(rest) != "-")
        return LineKind::Unreadable;
    const std::optional<quint32> length = decimalNumber(nextWord(rest));
    if (!length || *length > 15)
        return LineKind::Unreadable;
    const QByteArrayView first = nextWord(rest);
    if (version == 10 && first == "ERROR")
        return LineKind::ErrorFrame;
    frame.remote = first == "RTR";
    return takeIdentifier(id, frame);
}

} // namespace

bool isTrcVersionLine(QByteArrayView line)
{
    return withoutLeadingBlanks(line).startsWith(";$FILEVERSION=");
}

Result<Done> TrcReader::readHeader(QByteArrayView line)
{
    const QByteArrayView text = withoutLeadingBlanks(line).trimmed();
    const qsizetype equals = text.indexOf('=');
    if (equals < 0)
        return {};
    const QByteArrayView key = text.first(equals);
    const QByteArrayView value = text.sliced(equals + 1).trimmed();
    if (key == ";$FILEVERSION") {
        static const QByteArrayView kVersions[] = {"1.0", "1.1", "1.2", "1.3", "2.0", "2.1"};
        static const int kCodes[] = {10, 11, 12, 13, 20, 21};
        for (size_t i = 0; i < std::size(kVersions); ++i) {
            if (value == kVersions[i]) {
                m_version = kCodes[i];
                if (m_columns.isEmpty() && m_version >= 20)
                    m_columns = m_version == 20 ? "NOTIdlD" : "NOTBIdRLD";
                return {};
            }
        }
        return Result<Done>::failure(
            {{{},
              {},
              QStringLiteral("PEAK TRC version %1 is not one of 1.0 to 2.1")
                  .arg(QString::fromLatin1(value.first(std::min<qsizetype>(value.size(), 20))))}});
    }
    if (key == ";$COLUMNS") {
        m_columns.clear();
        for (const char c : value) {
            if (c != ',' && !isBlank(c))
                m_columns += c;
        }
    }
    return {};
}

QString TrcReader::version() const
{
    return QStringLiteral("%1.%2").arg(m_version / 10).arg(m_version % 10);
}

LineKind TrcReader::read(QByteArrayView line, LogFrame& frame)
{
    if (m_version < 20)
        return readVersion1(m_version, line, frame);
    // Versions 2.0 and 2.1: one word a column up to the data; the type decides what follows, for
    // an error or status line leaves the identifier empty (2.0) or "-" (2.1).
    QByteArrayView rest = line;
    QByteArrayView id;
    bool typed = false;
    for (const char column : std::as_const(m_columns)) {
        if (column == 'D')
            break;
        const QByteArrayView word = nextWord(rest);
        if (word.isEmpty())
            return LineKind::Unreadable;
        switch (column) {
        case 'O':
            frame.timeText = word;
            break;
        case 'N':
            if (!decimalNumber(word))
                return LineKind::Unreadable;
            break;
        case 'T':
            typed = true;
            if (word == "ER")
                return LineKind::ErrorFrame;
            if (word == "ST" || word == "EC" || word == "EV")
                return LineKind::Other;
            if (word == "RR")
                frame.remote = true;
            else if (word == "FD" || word == "FB" || word == "FE" || word == "BI")
                frame.fd = true;
            else if (word != "DT")
                return LineKind::Unreadable;
            break;
        case 'I':
            id = word;
            break;
        case 'd':
            if (word != "Rx" && word != "Tx")
                return LineKind::Unreadable;
            break;
        default:
            break;
        }
    }
    if (!typed || id.isEmpty())
        return LineKind::Unreadable;
    return takeIdentifier(id, frame);
}

} // namespace quillner
