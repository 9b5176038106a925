#include "core/logs/format_recognition.h"

#include "core/logs/asc_reader.h"
#include "core/logs/blf_reader.h"
#include "core/logs/candump_reader.h"
#include "core/logs/text_lines.h"
#include "core/logs/trc_reader.h"

#include <algorithm>

namespace quillner {

namespace {

constexpr qsizetype kShownLineChars = 60;

bool isFrame(LineKind kind)
{
    return kind == LineKind::Frame || kind == LineKind::ErrorFrame;
}

// The line's format when the line alone tells it.
std::optional<LogFormat> formatOfLine(QByteArrayView line)
{
    if (isTrcVersionLine(line))
        return LogFormat::PeakTrc;
    if (isCommentLine(line))
        return std::nullopt;
    if (isAscHeaderLine(line))
        return LogFormat::VectorAsc;
    LogFrame frame;
    if (isFrame(readCandumpLogLine(line, frame)))
        return LogFormat::Candump;
    frame = {};
    if (isFrame(readCandumpScreenLine(line, frame)))
        return LogFormat::CandumpScreen;
    frame = {};
    if (isFrame(AscReader().read(line, frame)))
        return LogFormat::VectorAsc;
    frame = {};
    if (isFrame(TrcReader().read(line, frame)))
        return LogFormat::PeakTrc;
    return std::nullopt;
}

QString shownLine(QByteArrayView line)
{
    const qsizetype controls = std::count_if(line.begin(), line.end(),
                                             [](char c) { return quint8(c) < 0x20 && c != '\t'; });
    if (controls > 0 && controls * 10 >= std::min<qsizetype>(line.size(), 100))
        return QStringLiteral("binary data");
    QString text =
        QString::fromUtf8(line.first(std::min<qsizetype>(line.size(), kShownLineChars * 4)))
            .trimmed();
    for (QChar& c : text) {
        if (c.unicode() < 0x20)
            c = u'?';
    }
    if (text.size() > kShownLineChars)
        text = text.left(kShownLineChars) + QStringLiteral("…");
    return text;
}

} // namespace

Recognition recogniseFormat(QByteArrayView start, bool whole)
{
    Recognition recognition;
    if (isBlf(start.data(), start.size())) {
        recognition.format = LogFormat::VectorBlf;
        return recognition;
    }
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.sliced(3);
    qsizetype position = 0;
    while (position < start.size()) {
        qsizetype end = start.indexOf('\n', position);
        if (end < 0) {
            if (!whole)
                break;
            end = start.size();
        }
        QByteArrayView line = start.sliced(position, end - position);
        if (line.endsWith('\r'))
            line.chop(1);
        position = end + 1;
        if (isBlankLine(line))
            continue;
        if (recognition.firstLine.isEmpty())
            recognition.firstLine = shownLine(line);
        recognition.format = formatOfLine(line);
        if (recognition.format)
            return recognition;
    }
    if (recognition.firstLine.isEmpty())
        recognition.firstLine = position == 0 && !start.isEmpty()
                                    ? shownLine(start.first(std::min<qsizetype>(start.size(), 200)))
                                    : QStringLiteral("(blank)");
    return recognition;
}

} // namespace quillner
