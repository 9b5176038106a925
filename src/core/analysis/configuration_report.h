#pragma once

#include "core/analysis/recording_test.h"
#include "core/bank/configuration_description.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace quillner {

// A recording tested against the configuration's bank, by its name.
struct ReportRecording
{
    QString name;
    FilterTally tally;
};

// What a report tells: one configuration, the recordings tested against its bank and the names
// of a DBC file's messages.
struct ConfigurationReport
{
    ConfigurationDescription configuration;
    QList<ReportRecording> recordings;
    MessageNames messageNames;
    QString note; // a line under the title ("The filter as the window shows it, not saved yet")
};

// The report as one HTML page that needs nothing else: inline CSS and SVG, no script, nothing
// fetched. The settings in units, the problems, the filter (the 2048 identifiers as a map for
// 2.0A; the list, or the patterns with how many identifiers each passes and all together, for
// 2.0B) and for each recording the shares passed and blocked and its identifiers in a table.
// Every number is the one `show --json` and `filter test --json` give, and is marked with a
// data-key attribute of that name. The same report gives the same bytes: no clock is read.
QByteArray configurationReportHtml(const ConfigurationReport& report);

// The report of a project whose filter a window shows (named by its title): the configuration
// the shown filter gives with the project's general parameters, with a note that says so and
// whether the saved documents give another.
ConfigurationReport shownFilterReport(const QString& projectDir, const CompiledBank& shown,
                                      const QString& windowTitle);

// Writes the report's page in one step (write-then-rename). Throws when it cannot be written.
void saveConfigurationReport(const QString& path, const ConfigurationReport& report);

} // namespace quillner
