#include "support/report_reading.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace quillner::testing {

namespace {

quint32 hexValue(const QString& text)
{
    return text.mid(2).toUInt(nullptr, 16);
}

// "0x100–0x13F visible" or "0x7DF hidden" on the map.
void markCells(ReadReport& report, const QString& title)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(0x[0-9A-F]+)(?:\\x{2013}(0x[0-9A-F]+))? (visible|hidden)$"));
    const QRegularExpressionMatch match = pattern.match(title);
    if (!match.hasMatch())
        return;
    const quint32 first = hexValue(match.captured(1));
    const quint32 last = match.captured(2).isEmpty() ? first : hexValue(match.captured(2));
    const int state = match.captured(3) == QLatin1String("visible") ? 1 : 0;
    for (quint32 id = first; id <= last && id < 2048; ++id)
        report.mapCells[id] = report.mapCells[id] == -1 ? state : 2;
    ++report.mapRects;
}

} // namespace

ReadReport readReport(const QByteArray& html)
{
    ReadReport report;
    report.mapCells.fill(-1);
    QXmlStreamReader xml(html);
    QStringList open; // the element names from the root down
    bool inMap = false;
    bool inRect = false;
    bool inSettings = false;
    bool inPatterns = false;
    bool inList = false;
    ReadReport::Recording* recording = nullptr;
    ReadReport::Row* row = nullptr;
    int cell = 0;
    QString key;

    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString name = xml.name().toString();
            const QXmlStreamAttributes attributes = xml.attributes();
            open << name;
            for (const QXmlStreamAttribute& attribute : attributes) {
                const QString attributeName = attribute.name().toString();
                if (attributeName.startsWith(QLatin1String("on")))
                    report.scripts << attributeName;
                if ((attributeName == QLatin1String("src") ||
                     attributeName == QLatin1String("href")) &&
                    !attribute.value().startsWith(u'#'))
                    report.references << attribute.value().toString();
            }
            if (name == QLatin1String("script"))
                report.scripts << name;
            const QString cls = attributes.value(QStringLiteral("class")).toString();
            key = attributes.value(QStringLiteral("data-key")).toString();
            if (name == QLatin1String("section")) {
                inSettings = attributes.value(QStringLiteral("id")) == QLatin1String("settings");
                if (cls == QLatin1String("recording")) {
                    report.recordings.append(ReadReport::Recording{});
                    recording = &report.recordings.last();
                    recording->name = attributes.value(QStringLiteral("data-recording")).toString();
                } else {
                    recording = nullptr;
                }
            } else if (name == QLatin1String("svg") && cls == QLatin1String("map")) {
                inMap = true;
            } else if (name == QLatin1String("rect") && inMap) {
                inRect = true;
            } else if (name == QLatin1String("table")) {
                inPatterns = cls == QLatin1String("patterns");
                inList = cls == QLatin1String("list");
            } else if (name == QLatin1String("tr") &&
                       attributes.hasAttribute(QStringLiteral("data-id"))) {
                const quint32 id = attributes.value(QStringLiteral("data-id")).toUInt();
                if (inList) {
                    report.listedIds << id;
                } else if (recording) {
                    recording->rows.append(ReadReport::Row{});
                    row = &recording->rows.last();
                    row->id = id;
                    row->extended =
                        attributes.value(QStringLiteral("data-extended")) == QLatin1String("true");
                    cell = 0;
                }
            } else if (name == QLatin1String("td")) {
                if (inSettings && !key.isEmpty())
                    report.settings.insert(
                        key, attributes.value(QStringLiteral("data-value")).toString());
            }
        } else if (xml.isCharacters() && !open.isEmpty()) {
            const QString text = xml.text().toString();
            const QString element = open.last();
            if (element == QLatin1String("title") && open.size() >= 2 &&
                open[open.size() - 2] == QLatin1String("head"))
                report.title += text;
            else if (element == QLatin1String("title") && inRect)
                markCells(report, text);
            else if (element == QLatin1String("span") && !key.isEmpty()) {
                if (recording)
                    recording->totals.insert(key, text.toLongLong());
                else
                    report.filter.insert(key, text);
            } else if (element == QLatin1String("td") && inPatterns &&
                       key == QLatin1String("passed"))
                report.patternCounts << text.toLongLong();
            else if (element == QLatin1String("td") && row) {
                switch (cell) {
                case 0:
                    row->text = text;
                    break;
                case 1:
                    row->frames = text.toLongLong();
                    break;
                case 2:
                    row->passed = text.toLongLong();
                    break;
                case 3:
                    row->blocked = text.toLongLong();
                    break;
                case 4:
                    row->verdict = text;
                    break;
                case 5:
                    row->message = text;
                    break;
                default:
                    break;
                }
            } else if (element == QLatin1String("style") && text.contains(QLatin1String("url(")))
                report.references << QStringLiteral("url(...) in the style");
        } else if (xml.isEndElement()) {
            const QString name = xml.name().toString();
            if (name == QLatin1String("td") && row)
                ++cell;
            if (name == QLatin1String("tr"))
                row = nullptr;
            if (name == QLatin1String("rect"))
                inRect = false;
            if (name == QLatin1String("svg"))
                inMap = false;
            if (name == QLatin1String("table"))
                inPatterns = inList = false;
            key.clear();
            if (!open.isEmpty())
                open.removeLast();
        }
    }
    if (xml.hasError())
        report.error = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
    return report;
}

} // namespace quillner::testing
