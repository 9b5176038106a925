#include "gui/app/report_saving.h"

#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "gui/app/ui_seams.h"

namespace quillner {

void saveReportAs(QWidget* parent, const QString& projectDir,
                  const std::function<Result<ConfigurationReport>()>& makeReport)
{
    const std::optional<QString> path =
        chooseFile(parent, FileChoice::Save, QStringLiteral("Save report"),
                   joinPath(projectDir, QStringLiteral("report.html")),
                   QStringLiteral("HTML pages (*.html);;All files (*)"));
    if (!path)
        return;
    const Result<ConfigurationReport> report = makeReport();
    if (!report.whole())
        return reportError(parent, problemLines(report.problems).join(u'\n'));
    saveConfigurationReport(*path, report.value);
    // A save that says nothing leaves the user to look for the page.
    showPlainMessage(parent, QStringLiteral("Report written: %1").arg(toNativeSeparators(*path)));
}

} // namespace quillner
