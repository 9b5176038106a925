#include "core/bank/filter_export.h"

#include "core/app/hex_text.h"
#include "core/device/settings.h"
#include "core/device/socketcan_filter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <array>

namespace quillner {

namespace {

struct NotationName
{
    FilterNotation notation;
    const char* name;
};

constexpr std::array<NotationName, 4> kNames = {{
    {FilterNotation::Candump, "candump"},
    {FilterNotation::SocketCan, "socketcan"},
    {FilterNotation::PythonCan, "python-can"},
    {FilterNotation::Json, "json"},
}};

QString hexWord(quint32 value, int digits)
{
    return hex::upperText(value, digits);
}

// candump sets CAN_EFF_FLAG itself for an identifier of eight digits and reads the mask as it
// is, so an extended filter's identifier is written with eight digits and a standard one's with
// three.
QString candumpText(const QList<SocketCanFilter>& filters)
{
    QStringList items;
    for (const SocketCanFilter& filter : filters) {
        items << (filter.extended() ? hexWord(filter.canId & kCanEffMask, 8)
                                    : hexWord(filter.canId & kCanSffMask, 3)) +
                     u':' + hexWord(filter.canMask, 8);
    }
    return items.join(u',') + u'\n';
}

QString socketCanText(const QList<SocketCanFilter>& filters, bool remoteBlocked)
{
    QString text = QStringLiteral("/* The device's receive filter for a classic CAN_RAW socket "
                                  "(setsockopt CAN_RAW_FILTER):\n"
                                  " * a frame is received when one filter matches. Each mask holds "
                                  "CAN_EFF_FLAG, so that a\n"
                                  " * frame of the other form never matches%1. */\n")
                       .arg(remoteBlocked ? QStringLiteral(", and CAN_RTR_FLAG, as the device "
                                                           "receives no remote frame")
                                          : QString());
    if (filters.isEmpty())
        return text + QStringLiteral("/* No frame is received: set no filter (a length of 0). "
                                     "*/\n");
    text += QStringLiteral("static const struct can_filter quillner_filter[] = {\n");
    for (const SocketCanFilter& filter : filters)
        text += QStringLiteral("    {0x%1, 0x%2},\n")
                    .arg(hexWord(filter.canId, 8), hexWord(filter.canMask, 8));
    return text + QStringLiteral("};\n");
}

QString pythonCanText(const QList<SocketCanFilter>& filters, bool remoteBlocked)
{
    QString text;
    if (remoteBlocked)
        text += QStringLiteral("# The device receives no remote frame; python-can's filters "
                               "cannot say so.\n");
    text += QStringLiteral("can_filters = [\n");
    for (const SocketCanFilter& filter : filters) {
        const bool extended = filter.extended();
        text += QStringLiteral("    {\"can_id\": 0x%1, \"can_mask\": 0x%2, \"extended\": %3},\n")
                    .arg(hexWord(filter.canId & (extended ? kCanEffMask : kCanSffMask),
                                 extended ? 8 : 3),
                         hexWord(filter.canMask & (extended ? kCanEffMask : kCanSffMask),
                                 extended ? 8 : 3),
                         extended ? QStringLiteral("True") : QStringLiteral("False"));
    }
    return text + QStringLiteral("]\n");
}

QString jsonText(const QList<SocketCanFilter>& filters, const ConfigurationBank& bank)
{
    QJsonArray items;
    for (const SocketCanFilter& filter : filters) {
        items.append(QJsonObject{{QStringLiteral("can_id"), qint64(filter.canId)},
                                 {QStringLiteral("can_mask"), qint64(filter.canMask)},
                                 {QStringLiteral("extended"), filter.extended()},
                                 {QStringLiteral("dataOnly"), filter.dataOnly()}});
    }
    const QJsonObject object{
        {QStringLiteral("schema"), 1},
        {QStringLiteral("frameFormat"), frameFormatName(frameFormatOfBank(bank))},
        {QStringLiteral("remoteFrames"), receivesRemoteFrames(bank)},
        {QStringLiteral("filters"), items},
    };
    return QString::fromUtf8(QJsonDocument(object).toJson());
}

} // namespace

std::optional<FilterNotation> filterNotationNamed(const QString& name)
{
    for (const NotationName& entry : kNames) {
        if (name.trimmed().toLower() == QLatin1StringView(entry.name))
            return entry.notation;
    }
    return std::nullopt;
}

QStringList filterNotationNameList()
{
    QStringList names;
    for (const NotationName& entry : kNames)
        names << QString::fromLatin1(entry.name);
    return names;
}

QString filterNotationNames()
{
    return filterNotationNameList().join(QStringLiteral(", "));
}

Result<QString> exportFilter(const ConfigurationBank& bank, FilterNotation notation)
{
    const QList<SocketCanFilter> filters = socketCanFilters(bank);
    const bool remoteBlocked = !receivesRemoteFrames(bank);
    if (filters.isEmpty() &&
        (notation == FilterNotation::Candump || notation == FilterNotation::PythonCan))
        return Result<QString>::failure(
            {{{},
              {},
              QStringLiteral("the device receives no frame with this filter (every identifier "
                             "hidden); %1 would receive every frame without filters, so it "
                             "cannot be told so")
                  .arg(notation == FilterNotation::Candump ? QStringLiteral("candump")
                                                           : QStringLiteral("python-can"))}});
    switch (notation) {
    case FilterNotation::Candump:
        return {candumpText(filters), {}, {}};
    case FilterNotation::SocketCan:
        return {socketCanText(filters, remoteBlocked), {}, {}};
    case FilterNotation::PythonCan:
        return {pythonCanText(filters, remoteBlocked), {}, {}};
    case FilterNotation::Json:
        return {jsonText(filters, bank), {}, {}};
    }
    return {};
}

} // namespace quillner
