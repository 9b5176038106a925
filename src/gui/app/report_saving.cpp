#include "gui/app/report_saving.h"

#include "core/app/app_paths.h"
#include "gui/app/ui_seams.h"

namespace quillner {

void saveReportAs(QWidget* parent, const QString& projectDir,
                  const std::function<ConfigurationReport()>& makeReport)
{
    const std::optional<QString> path =
        chooseFile(parent, FileChoice::Save, QStringLiteral("Save report"),
                   joinPath(projectDir, QStringLiteral("report.html")),
                   QStringLiteral("HTML pages (*.html);;All files (*)"));
    if (path)
        saveConfigurationReport(*path, makeReport());
}

} // namespace quillner
