#pragma once

#include "core/analysis/configuration_report.h"

#include <functional>

class QWidget;

namespace quillner {

// "Save report...": asks where to save the page (report.html in the project folder to begin
// with) and, unless the user cancels, makes the report, writes it there and says so ("Report
// written: PATH"). A report that cannot be made is the general error report, and nothing is
// written.
void saveReportAs(QWidget* parent, const QString& projectDir,
                  const std::function<Result<ConfigurationReport>()>& makeReport);

} // namespace quillner
