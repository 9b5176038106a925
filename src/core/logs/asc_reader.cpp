#include "core/logs/asc_reader.h"

#include "core/logs/text_lines.h"

#include <algorithm>

namespace quillner {

namespace {

bool isTime(QByteArrayView word)
{
    return !word.isEmpty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.';
    });
}

// The Flags column of a CANFD line: an FD frame (EDL), and a remote frame when EDL is clear.
constexpr quint32 kFdFlagEdl = 0x1000;
constexpr quint32 kFdFlagRemote = 0x0010;
constexpr quint32 kMaxFdDataBytes = 64;

bool isErrorFrameWord(QByteArrayView word)
{
    return word.compare("ErrorFrame", Qt::CaseInsensitive) == 0;
}

} // namespace

bool isAscHeaderLine(QByteArrayView line)
{
    const QByteArrayView text = withoutLeadingBlanks(line);
    return text.startsWith("date ") || text.startsWith("base hex") || text.startsWith("base dec") ||
           text.startsWith("Begin Triggerblock") || text.startsWith("Begin TriggerBlock") ||
           text.startsWith("internal events logged") ||
           text.startsWith("no internal events logged");
}

// "time channel ID dir d|r …", "time CANFD channel dir ID …"; everything else is no frame.
LineKind AscReader::read(QByteArrayView line, LogFrame& frame)
{
    QByteArrayView rest = line;
    const QByteArrayView time = nextWord(rest);
    if (!isTime(time)) {
        const QByteArrayView text = withoutLeadingBlanks(line);
        if (text.startsWith("base ")) {
            QByteArrayView words = text;
            nextWord(words);
            m_decimalIds = nextWord(words) == "dec";
        }
        return LineKind::Other;
    }
    frame.timeText = time;
    QByteArrayView channel = nextWord(rest);
    if (channel == "CANFD")
        return readFdLine(rest, frame);
    QByteArrayView idText = nextWord(rest);
    if (isErrorFrameWord(idText))
        return decimalNumber(channel) ? LineKind::ErrorFrame : LineKind::Other;
    const QByteArrayView direction = nextWord(rest);
    const QByteArrayView kind = nextWord(rest);
    if ((direction != "Rx" && direction != "Tx") || (kind != "d" && kind != "r"))
        return LineKind::Other;
    frame.remote = kind == "r";
    if (!decimalNumber(channel))
        return LineKind::Other;
    return takeIdentifier(idText, frame) ? LineKind::Frame : LineKind::Other;
}

// "channel dir ID [name] BRS ESI DLC length data… duration bits Flags CRC …": only the Flags
// tell the frame, for a classic frame on a CAN FD channel is written on such a line too (EDL
// clear, its remote bit beside it). A line that says CANFD but has not these columns is meant as
// a frame and cannot be judged: it is unreadable, never passed over.
LineKind AscReader::readFdLine(QByteArrayView rest, LogFrame& frame) const
{
    const QByteArrayView channel = nextWord(rest);
    const QByteArrayView direction = nextWord(rest);
    const QByteArrayView idText = nextWord(rest);
    if (isErrorFrameWord(idText))
        return decimalNumber(channel) ? LineKind::ErrorFrame : LineKind::Other;
    if (!decimalNumber(channel) || (direction != "Rx" && direction != "Tx"))
        return LineKind::Unreadable;
    QByteArrayView brs = nextWord(rest);
    if (brs != "0" && brs != "1")
        brs = nextWord(rest); // after a symbolic name
    const QByteArrayView esi = nextWord(rest);
    const QByteArrayView dlc = nextWord(rest);
    const std::optional<quint32> length = decimalNumber(nextWord(rest));
    if ((brs != "0" && brs != "1") || (esi != "0" && esi != "1") || dlc.size() != 1 ||
        hexDigit(dlc.front()) < 0 || !length || *length > kMaxFdDataBytes)
        return LineKind::Unreadable;
    for (quint32 byte = 0; byte < *length; ++byte)
        nextWord(rest);
    nextWord(rest); // the message's duration
    nextWord(rest); // its length in bits
    const std::optional<quint32> flags = hexNumber(nextWord(rest));
    if (!flags || !takeIdentifier(idText, frame))
        return LineKind::Unreadable;
    frame.fd = (*flags & kFdFlagEdl) != 0;
    frame.remote = !frame.fd && (*flags & kFdFlagRemote) != 0;
    return LineKind::Frame;
}

bool AscReader::takeIdentifier(QByteArrayView idText, LogFrame& frame) const
{
    frame.extended = idText.endsWith('x') || idText.endsWith('X');
    if (frame.extended)
        idText.chop(1);
    const std::optional<quint32> id = m_decimalIds ? decimalNumber(idText) : hexNumber(idText);
    if (!id || *id > (frame.extended ? kExtendedIdMax : kStandardIdMax))
        return false;
    frame.id = *id;
    return true;
}

} // namespace quillner
