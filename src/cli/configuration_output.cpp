#include "configuration_output.h"

#include "cli_support.h"

#include <QJsonDocument>

namespace quillner::cli {

bool acceptCompile(const CompiledBank& compiled, bool lenient, const QString& stopped)
{
    const bool goesOn = bankMayGoOn(compiled, lenient);
    for (const Problem& problem : compiled.problems)
        complain(goesOn ? QStringLiteral("warning") : QStringLiteral("error"), problem.toString());
    for (const Problem& problem : compiled.warnings)
        complain(QStringLiteral("warning"), problem.toString());
    if (!goesOn) {
        complain(QStringLiteral("error"),
                 QStringLiteral("the project's documents could not be read; ") + stopped);
    }
    return goesOn;
}

std::optional<ConfigurationDescription> describeProjectForCommand(const AppPaths& paths,
                                                                  bool lenient)
{
    const CompiledBank compiled =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    if (!acceptCompile(compiled, lenient))
        return std::nullopt;
    return describeCompiledProject(paths.ProjectDir, compiled);
}

void printConfiguration(const ConfigurationDescription& configuration, bool json)
{
    if (json)
        say(QString::fromUtf8(QJsonDocument(configurationDescriptionJson(configuration)).toJson()));
    else
        say(configurationDescriptionText(configuration));
}

} // namespace quillner::cli
