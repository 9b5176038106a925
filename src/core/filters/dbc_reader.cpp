#include "core/filters/dbc_reader.h"
#include "core/device/identifier_text.h"

#include "core/app/file_io.h"
#include "core/app/hex_text.h"
#include "core/device/bank_layout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace quillner {

namespace {

constexpr quint32 kExtendedFlag = 0x80000000u;
constexpr quint32 kStandardIdMaximum = kStandardIdCount - 1;
const QString kIndependentSignals = QStringLiteral("VECTOR__INDEPENDENT_SIG_MSG");
// No line of a DBC file comes near this; a longer one is read in pieces and not taken.
constexpr qint64 kMostLineLength = 1 << 16;

template <typename T> Result<T> refused(const QString& text)
{
    return Result<T>::failure({Problem{{}, {}, text}});
}

} // namespace

Result<QList<DbcMessage>> readDbcMessages(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return refused<QList<DbcMessage>>(
            cannotReadFileMessage(shown, QStringLiteral("It is not a regular file")));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused<QList<DbcMessage>>(cannotOpenFileMessage(shown, file.errorString()));
    static const QRegularExpression message(
        QStringLiteral(R"(^\s*BO_\s+(\d+)\s+([A-Za-z0-9_]+)\s*:\s*(\d+)\s+\S+)"));
    const QString fileName = info.fileName();
    Result<QList<DbcMessage>> result;
    int lineNumber = 0;
    int messageLines = 0;
    bool continued = false; // the rest of a line longer than any DBC line
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine(kMostLineLength);
        if (bytes.isEmpty() && file.error() != QFileDevice::NoError)
            return refused<QList<DbcMessage>>(cannotReadFileMessage(shown, file.errorString()));
        const bool whole = bytes.endsWith('\n') || file.atEnd();
        const bool piece = continued;
        continued = !whole;
        if (piece)
            continue;
        ++lineNumber;
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (!line.startsWith(QLatin1StringView("BO_ ")) &&
            !line.startsWith(QLatin1StringView("BO_\t")))
            continue;
        ++messageLines;
        const QString where = QStringLiteral("line %1").arg(lineNumber);
        const QRegularExpressionMatch match = message.match(line);
        bool ok = false;
        const quint64 raw = match.hasMatch() ? match.captured(1).toULongLong(&ok) : 0;
        if (!whole || !ok || raw > 0xFFFFFFFFu) {
            result.warnings.append({fileName, where, QStringLiteral("not a message line")});
            continue;
        }
        DbcMessage dbc;
        dbc.name = match.captured(2);
        if (dbc.name == kIndependentSignals)
            continue;
        dbc.extended = (raw & kExtendedFlag) != 0;
        dbc.id = quint32(raw) & ~kExtendedFlag;
        dbc.line = lineNumber;
        if (!dbc.extended && dbc.id <= kPatternBits && dbc.id > kStandardIdMaximum) {
            result.warnings.append(
                {fileName, where,
                 QStringLiteral("the identifier of %1, %2, is not an 11-bit identifier; for an "
                                "extended frame the DBC sets bit 31")
                     .arg(dbc.name, identifierText(dbc.id, true))});
            continue;
        }
        if (dbc.id > (dbc.extended ? kPatternBits : kStandardIdMaximum)) {
            result.warnings.append({fileName, where,
                                    QStringLiteral("the identifier of %1 does not fit %2 bits")
                                        .arg(dbc.name)
                                        .arg(dbc.extended ? 29 : 11)});
            continue;
        }
        result.value.append(dbc);
    }
    if (messageLines == 0)
        return refused<QList<DbcMessage>>(
            QStringLiteral("%1 holds no message (no BO_ line): it is no DBC file to take "
                           "identifiers from")
                .arg(shown));
    return result;
}

Result<DbcSelection> selectDbcMessages(const QList<DbcMessage>& messages, const QString& names,
                                       FrameFormat format, const QString& fileName)
{
    QList<DbcMessage> chosen = messages;
    if (!names.trimmed().isEmpty()) {
        chosen.clear();
        for (const QString& given : names.split(u',', Qt::SkipEmptyParts)) {
            const QString name = given.trimmed();
            if (name.isEmpty())
                continue;
            const auto found = std::find_if(messages.begin(), messages.end(),
                                            [&](const DbcMessage& m) { return m.name == name; });
            if (found == messages.end())
                return refused<DbcSelection>(
                    QStringLiteral("No message named %1 in %2").arg(name, fileName));
            chosen.append(*found);
        }
    }
    const bool extended = format == FrameFormat::Extended;
    DbcSelection selection;
    for (const DbcMessage& message : std::as_const(chosen)) {
        if (message.extended == extended) {
            selection.identifiers.append(message.id);
            continue;
        }
        selection.skipped.append(
            QStringLiteral("%1 (%2 identifier %3 on a CAN %4 project)")
                .arg(message.name,
                     message.extended ? QStringLiteral("extended") : QStringLiteral("standard"),
                     identifierText(message.id, message.extended), frameFormatName(format)));
    }
    std::sort(selection.identifiers.begin(), selection.identifiers.end());
    selection.identifiers.erase(
        std::unique(selection.identifiers.begin(), selection.identifiers.end()),
        selection.identifiers.end());
    return {selection, {}, {}};
}

Result<Done> refuseEmptyDbcSelection(const DbcSelection& selection, FrameFormat format,
                                     const QString& fileName, bool allowAll)
{
    if (allowAll || !selection.identifiers.isEmpty())
        return {};
    return refused<Done>(
        QStringLiteral("%1 gives no identifier of this CAN %2 project: the filter would %3; "
                       "nothing was written (--allow-all writes it on purpose)")
            .arg(fileName, frameFormatName(format),
                 format == FrameFormat::Extended
                     ? QStringLiteral("let every extended frame through")
                     : QStringLiteral("hide every identifier")));
}

} // namespace quillner
