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
    QByteArrayView channel = nextWord(rest);
    QByteArrayView idText;
    frame.fd = channel == "CANFD";
    if (frame.fd) {
        channel = nextWord(rest);
        nextWord(rest); // Rx or Tx
        idText = nextWord(rest);
        if (isErrorFrameWord(idText))
            return decimalNumber(channel) ? LineKind::ErrorFrame : LineKind::Other;
    } else {
        idText = nextWord(rest);
        if (isErrorFrameWord(idText))
            return decimalNumber(channel) ? LineKind::ErrorFrame : LineKind::Other;
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
    const std::optional<quint32> id = m_decimalIds ? decimalNumber(idText) : hexNumber(idText);
    if (!id || *id > (frame.extended ? kMaxExtendedId : kMaxStandardId))
        return LineKind::Other;
    frame.id = *id;
    return LineKind::Frame;
}

} // namespace quillner
