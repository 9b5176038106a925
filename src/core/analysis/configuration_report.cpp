#include "core/analysis/configuration_report.h"
#include "core/device/identifier_text.h"

#include "core/app/counted_noun.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/device/configuration_bank.h"
#include "core/device/settings.h"
#include "core/filters/pattern_fit.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace quillner {

namespace {

// The two colours of the map and the share bars, the same as the 2.0A window's map.
constexpr auto kPassColour = "#1f77b4";
constexpr auto kBlockColour = "#dedede";

constexpr int kMapColumns = 64;
constexpr int kMapCell = 10;
constexpr int kMapLeft = 44; // the row labels
constexpr int kMapTop = 16;  // the column labels

constexpr auto kStyle = R"(
body { font-family: "DejaVu Sans", Verdana, sans-serif; color: #333; background: #fff;
       margin: 24px; max-width: 960px; }
h1 { font-size: 1.5em; margin-bottom: 4px; }
h2 { font-size: 1.2em; border-bottom: 1px solid #ccc; padding-bottom: 2px; margin-top: 28px; }
p.source, p.note, footer { color: #666; font-size: 0.9em; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { border: 1px solid #ccc; padding: 2px 8px; text-align: left; }
th { background: #f3f3f0; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
td.pattern, td.id { font-family: "DejaVu Sans Mono", "Courier New", monospace; }
svg text { font-family: "DejaVu Sans Mono", monospace; font-size: 9px; fill: #333; }
.v { fill: %1; } .h { fill: %2; }
.grid { stroke: #fff; stroke-width: 1; }
.legend span { display: inline-block; width: 10px; height: 10px; margin: 0 4px 0 12px;
               border: 1px solid #999; }
ul.problems li { color: #8a4b00; }
)";

// Text as the page holds it: markup escaped, and each character XML 1.0 does not allow (the
// control characters but tab, line feed and carriage return, a lone surrogate, U+FFFE and
// U+FFFF) written as U+FFFD, so that the page stays well-formed XML whatever a name holds.
QString escaped(const QString& text)
{
    QString kept = text;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        const char16_t c = kept[i].unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < kept.size() &&
                          QChar::isLowSurrogate(kept[i + 1].unicode());
        if (pair) {
            ++i;
            continue;
        }
        const bool allowed = (c >= 0x20 || c == u'\t' || c == u'\n' || c == u'\r') &&
                             !QChar::isSurrogate(c) && c != 0xFFFE && c != 0xFFFF;
        if (!allowed)
            kept[i] = QChar(QChar::ReplacementCharacter);
    }
    return kept.toHtmlEscaped();
}

QString number(qint64 value)
{
    return QString::number(value);
}

// "75.0 %" of the whole; a dash for nothing.
QString share(qint64 part, qint64 whole)
{
    if (whole <= 0)
        return QStringLiteral("&#8212;");
    return QString::number(100.0 * double(part) / double(whole), 'f', 1) + QStringLiteral(" %");
}

QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

// A number in a span that names it for whoever reads the page by machine.
QString marked(const QString& key, qint64 value)
{
    return QStringLiteral("<span data-key=\"%1\">%2</span>").arg(key, number(value));
}

QString settingsSection(const QJsonObject& description)
{
    const QJsonObject settings = description.value(QStringLiteral("settings")).toObject();
    QString html = QStringLiteral("<section id=\"settings\"><h2>Settings</h2><table><tbody>\n");
    for (const Setting setting : allSettings()) {
        const QString key = settingName(setting);
        const QJsonObject entry = settings.value(key).toObject();
        const QJsonValue value = entry.value(QStringLiteral("value"));
        const QString valueText =
            value.isDouble() ? number(value.toInteger()) : value.toString(QStringLiteral("?"));
        const QString unit = entry.value(QStringLiteral("unit")).toString();
        const QString shown = value.isNull()
                                  ? QStringLiteral("no value a window writes")
                                  : valueText + (unit.isEmpty() ? QString() : u' ' + unit);
        html += QStringLiteral("<tr><th scope=\"row\">%1</th><td data-key=\"%2\" "
                               "data-value=\"%3\">%4</td></tr>\n")
                    .arg(escaped(capitalised(settingDescription(setting))), key,
                         escaped(value.isNull() ? QString() : valueText), escaped(shown));
    }
    return html + QStringLiteral("</tbody></table></section>\n");
}

QString problemsSection(const Problems& problems)
{
    if (problems.isEmpty())
        return {};
    QString html =
        QStringLiteral("<section id=\"problems\"><h2>Problems</h2><ul class=\"problems\">\n");
    for (const QString& line : problemLines(problems))
        html += QStringLiteral("<li>%1</li>\n").arg(escaped(line));
    return html + QStringLiteral("</ul></section>\n");
}

// The 2048 identifiers as the device's bitmap has them: 32 rows of 64, one row for each 0x40;
// runs of one state in a row are one rectangle with a title that names them.
QString identifierMapSvg(const ConfigurationBank& bank, qint64 visible)
{
    const int rows = kStandardIdCount / kMapColumns;
    const int width = kMapLeft + kMapColumns * kMapCell;
    const int height = kMapTop + rows * kMapCell;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"map\" "
                                 "width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\" "
                                 "aria-label=\"Map of the 2048 identifiers: %3 visible, %4 "
                                 "hidden\">\n")
                      .arg(width)
                      .arg(height)
                      .arg(visible)
                      .arg(kStandardIdCount - visible);
    for (int row = 0; row < rows; row += 4) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>\n")
                   .arg(kMapLeft - 4)
                   .arg(kMapTop + row * kMapCell + 8)
                   .arg(identifierText(quint32(row * kMapColumns), false));
    }
    for (int column = 0; column < kMapColumns; column += 16) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\">+%3</text>\n")
                   .arg(kMapLeft + column * kMapCell)
                   .arg(kMapTop - 4)
                   .arg(QStringLiteral("0x") + hex::upperText(column, 2));
    }
    for (int row = 0; row < rows; ++row) {
        int column = 0;
        while (column < kMapColumns) {
            const int first = row * kMapColumns + column;
            const bool state = identifierVisible(bank, first);
            int end = column + 1;
            while (end < kMapColumns && identifierVisible(bank, row * kMapColumns + end) == state)
                ++end;
            const int last = row * kMapColumns + end - 1;
            const QString ids = first == last ? identifierText(quint32(first), false)
                                              : identifierText(quint32(first), false) +
                                                    QStringLiteral("&#8211;") +
                                                    identifierText(quint32(last), false);
            svg += QStringLiteral("<rect class=\"%1\" x=\"%2\" y=\"%3\" width=\"%4\" "
                                  "height=\"%5\"><title>%6 %7</title></rect>\n")
                       .arg(state ? QStringLiteral("v") : QStringLiteral("h"))
                       .arg(kMapLeft + column * kMapCell)
                       .arg(kMapTop + row * kMapCell)
                       .arg((end - column) * kMapCell)
                       .arg(kMapCell)
                       .arg(ids, state ? QStringLiteral("visible") : QStringLiteral("hidden"));
            column = end;
        }
    }
    // White lines between the cells, so that each identifier is a cell of its own.
    QString grid;
    for (int column = 1; column < kMapColumns; ++column)
        grid +=
            QStringLiteral("M%1 %2V%3").arg(kMapLeft + column * kMapCell).arg(kMapTop).arg(height);
    for (int row = 1; row < rows; ++row)
        grid += QStringLiteral("M%1 %2H%3").arg(kMapLeft).arg(kMapTop + row * kMapCell).arg(width);
    svg += QStringLiteral("<path class=\"grid\" d=\"%1\"/>\n</svg>\n").arg(grid);
    return svg;
}

QString legend(const QString& pass, const QString& block)
{
    return QStringLiteral("<p class=\"legend\"><span style=\"background:%1\"></span>%2"
                          "<span style=\"background:%3\"></span>%4</p>\n")
        .arg(QLatin1StringView(kPassColour), pass, QLatin1StringView(kBlockColour), block);
}

QString filterSection(const ConfigurationDescription& configuration, const QJsonObject& description)
{
    const QJsonObject filter = description.value(QStringLiteral("filter")).toObject();
    const BankDescription& bank = configuration.description;
    const QString kind = filter.value(QStringLiteral("kind")).toString();
    const QString function = filter.value(QStringLiteral("function")).toString();
    QString html = QStringLiteral("<section id=\"filter\"><h2>Receive filter</h2>\n<p>Kind: "
                                  "<span data-key=\"filter.kind\">%1</span>")
                       .arg(escaped(kind));
    if (!function.isEmpty())
        html += QStringLiteral(", function <span data-key=\"filter.function\">%1</span>")
                    .arg(escaped(function));
    html += QStringLiteral("</p>\n");

    switch (bank.filterKind) {
    case BankDescription::FilterKind::Identifiers20A: {
        const qint64 visible = filter.value(QStringLiteral("identifierCount")).toInteger();
        html += QStringLiteral("<p>%1 of 2048 identifiers visible, %2 hidden.</p>\n")
                    .arg(marked(QStringLiteral("filter.identifierCount"), visible),
                         marked(QStringLiteral("filter.hiddenCount"), kStandardIdCount - visible));
        html += identifierMapSvg(configuration.bank, visible);
        html += legend(QStringLiteral("visible"), QStringLiteral("hidden"));
        QStringList hidden;
        for (const BankDescription::IdentifierRange& range : bank.hiddenIdentifiers) {
            hidden << (range.first == range.last ? identifierText(quint32(range.first), false)
                                                 : identifierText(quint32(range.first), false) +
                                                       QStringLiteral("&#8211;") +
                                                       identifierText(quint32(range.last), false));
        }
        if (!hidden.isEmpty())
            html += QStringLiteral("<p>Hidden: %1</p>\n").arg(hidden.join(QStringLiteral(", ")));
        break;
    }
    case BankDescription::FilterKind::NoFilter20B:
        html += QStringLiteral("<p>No 2.0B filter: every extended frame passes.</p>\n");
        break;
    case BankDescription::FilterKind::IdentifierList20B: {
        const qint64 listed = filter.value(QStringLiteral("identifierCount")).toInteger();
        html += QStringLiteral("<p>%1 %2 listed; %3.</p>\n")
                    .arg(marked(QStringLiteral("filter.identifierCount"), listed),
                         nounFor(listed, "identifier"),
                         function == QLatin1String("negative")
                             ? QStringLiteral("every identifier but these passes")
                             : QStringLiteral("these pass, no other"));
        html += QStringLiteral("<table class=\"list\"><thead><tr><th>Identifier</th>"
                               "<th>Decimal</th></tr></thead><tbody>\n");
        for (const quint32 id : bank.identifiers) {
            html += QStringLiteral("<tr data-id=\"%1\"><td class=\"id\">%2</td><td class=\"n\">%1"
                                   "</td></tr>\n")
                        .arg(number(id), identifierText(id, true));
        }
        html += QStringLiteral("</tbody></table>\n");
        break;
    }
    case BankDescription::FilterKind::Mask20B: {
        QList<IdPattern> patterns;
        html += QStringLiteral("<table class=\"patterns\"><thead><tr><th>Pattern (bit 28 to 0)"
                               "</th><th>Identifiers passed</th></tr></thead><tbody>\n");
        for (const BankDescription::MaskPattern& pattern : bank.patterns) {
            const IdPattern bits = idPatternOf(pattern.pattern);
            patterns.append(bits);
            html += QStringLiteral("<tr><td class=\"pattern\">%1</td><td class=\"n\" "
                                   "data-key=\"passed\">%2</td></tr>\n")
                        .arg(escaped(pattern.pattern), number(qint64(bits.size())));
        }
        const qint64 patternCount = filter.value(QStringLiteral("patternCount")).toInteger();
        const qint64 passedTotal = qint64(passedCount(patterns));
        html += QStringLiteral("</tbody></table>\n<p>%1 %2; together they pass %3 %4.</p>\n")
                    .arg(marked(QStringLiteral("filter.patternCount"), patternCount),
                         nounFor(patternCount, "pattern"),
                         marked(QStringLiteral("filter.passedTotal"), passedTotal),
                         nounFor(passedTotal, "identifier"));
        break;
    }
    }
    return html + QStringLiteral("</section>\n");
}

// The shares passed and blocked as one bar.
QString shareBar(qint64 passed, qint64 frames)
{
    constexpr int kWidth = 480;
    const int passedWidth = frames > 0 ? int(double(kWidth) * double(passed) / double(frames)) : 0;
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"16\" "
                          "role=\"img\" aria-label=\"%2 passed\"><rect x=\"0\" y=\"0\" "
                          "width=\"%1\" height=\"16\" fill=\"%3\"/><rect x=\"0\" y=\"0\" "
                          "width=\"%4\" height=\"16\" fill=\"%5\"/></svg>\n")
        .arg(kWidth)
        .arg(share(passed, frames), QLatin1StringView(kBlockColour))
        .arg(passedWidth)
        .arg(QLatin1StringView(kPassColour));
}

QString recordingSection(const ReportRecording& recording, const MessageNames& names)
{
    const QJsonObject totals = filterTallyJson(recording.tally);
    const qint64 frames = totals.value(QStringLiteral("frames")).toInteger();
    const qint64 passed = totals.value(QStringLiteral("passed")).toInteger();
    const qint64 blocked = totals.value(QStringLiteral("blocked")).toInteger();
    QString html = QStringLiteral("<section class=\"recording\" data-recording=\"%1\">"
                                  "<h2>Recording %1</h2>\n")
                       .arg(escaped(recording.name));
    const qint64 unreadable = totals.value(QStringLiteral("unreadable")).toInteger();
    html += QStringLiteral("<p>%1 %8: %2 passed (%3), %4 blocked (%5), of them %6 of the "
                           "other identifier form; %7 %9.</p>\n")
                .arg(marked(QStringLiteral("frames"), frames),
                     marked(QStringLiteral("passed"), passed), share(passed, frames),
                     marked(QStringLiteral("blocked"), blocked), share(blocked, frames),
                     marked(QStringLiteral("wrongForm"),
                            totals.value(QStringLiteral("wrongForm")).toInteger()),
                     marked(QStringLiteral("unreadable"), unreadable), nounFor(frames, "frame"),
                     nounFor(unreadable, "unreadable line"));
    html += shareBar(passed, frames);
    html += legend(QStringLiteral("passed"), QStringLiteral("blocked"));
    const bool named = !names.isEmpty();
    html +=
        QStringLiteral("<table class=\"tally\"><thead><tr><th>Identifier</th><th>Frames</th>"
                       "<th>Passed</th><th>Blocked</th><th>Verdict</th>%1</tr></thead><tbody>\n")
            .arg(named ? QStringLiteral("<th>DBC message</th>") : QString());
    for (const IdentifierRow& row : identifierRows(recording.tally, names)) {
        html += QStringLiteral("<tr data-id=\"%1\" data-extended=\"%2\"><td class=\"id\">%3</td>"
                               "<td class=\"n\" data-key=\"frames\">%4</td>"
                               "<td class=\"n\" data-key=\"passed\">%5</td>"
                               "<td class=\"n\" data-key=\"blocked\">%6</td><td>%7</td>")
                    .arg(number(row.id),
                         row.extended ? QStringLiteral("true") : QStringLiteral("false"), row.text,
                         number(qint64(row.frames())), number(qint64(row.passed)),
                         number(qint64(row.blocked)), row.verdict());
        if (named)
            html += QStringLiteral("<td>%1</td>").arg(escaped(row.messageName));
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</tbody></table></section>\n");
}

} // namespace

QByteArray configurationReportHtml(const ConfigurationReport& report)
{
    const ConfigurationDescription& configuration = report.configuration;
    const QJsonObject description = configurationDescriptionJson(configuration);
    const QString path = description.value(QStringLiteral("source"))
                             .toObject()
                             .value(QStringLiteral("path"))
                             .toString();
    const QString name = QFileInfo(QDir::fromNativeSeparators(path)).fileName();
    const QString kind = capitalised(configurationKindName(configuration.kind));

    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n"
                                  "<meta charset=\"utf-8\"/>\n"
                                  "<meta name=\"viewport\" content=\"width=device-width\"/>\n"
                                  "<title>Quillner configuration: %1</title>\n<style>%2</style>\n"
                                  "</head>\n<body>\n<header><h1>Configuration of %1</h1>\n"
                                  "<p class=\"source\">%3: <span data-key=\"source.path\">%4</span>"
                                  "</p>\n")
                       .arg(escaped(name),
                            QString::fromLatin1(kStyle).arg(QLatin1StringView(kPassColour),
                                                            QLatin1StringView(kBlockColour)),
                            kind, escaped(path));
    if (!report.note.isEmpty())
        html += QStringLiteral("<p class=\"note\">%1</p>\n").arg(escaped(report.note));
    html += QStringLiteral("</header>\n");
    html += settingsSection(description);
    html += problemsSection(configuration.problems);
    html += filterSection(configuration, description);
    for (const ReportRecording& recording : report.recordings)
        html += recordingSection(recording, report.messageNames);
    html += QStringLiteral("<footer><p>Written by Quillner %1.</p></footer>\n</body>\n</html>\n")
                .arg(QStringLiteral(QUILLNER_VERSION));
    return html.toUtf8();
}

ConfigurationReport shownFilterReport(const QString& projectDir, const CompiledBank& shown,
                                      const QString& windowTitle)
{
    const AppPaths paths = projectPaths(projectDir);
    const CompiledBank saved =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    ConfigurationReport report;
    report.configuration = describeCompiledProject(projectDir, shown);
    report.note =
        QStringLiteral("The filter as the \"%1\" window shows it%2.")
            .arg(windowTitle, shown.value == saved.value ? QStringLiteral(", as saved")
                                                         : QStringLiteral(", not saved yet"));
    return report;
}

void saveConfigurationReport(const QString& path, const ConfigurationReport& report)
{
    writeFileAtomically(path, configurationReportHtml(report));
}

} // namespace quillner
