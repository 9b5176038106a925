#include "gui/app/report_saving.h"

#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "gui/app/ui_seams.h"

namespace quillner {

void saveReportAs(QWidget* parent, const QString& projectDir,
                  const std::function<ConfigurationReport()>& makeReport)
{
    const std::optional<QString> path =
        chooseFile(parent, FileChoice::Save, QStringLiteral("Save report"),
                   joinPath(projectDir, QStringLiteral("report.html")),
                   QStringLiteral("HTML pages (*.html);;All files (*)"));
    if (!path)
        return;
    saveConfigurationReport(*path, makeReport());
    // A save that says nothing leaves the user to look for the page.
    showPlainMessage(parent, QStringLiteral("Report written: %1").arg(toNativeSeparators(*path)));
}

} // namespace quillner
