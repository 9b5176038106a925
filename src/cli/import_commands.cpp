// quillner-cli import: a project's documents rebuilt from a bank or a merged firmware.

#include "import_commands.h"
#include "core/bank/bank_decode.h"
#include "core/bank/bank_import.h"
#include "core/documents/project_edit.h"
#include "core/filters/filter_safety.h"
#include "core/filters/stored_entries.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <variant>

namespace quillner::cli {

namespace {

// A folder that already holds a project is written over only when the user says so.
Result<Done> checkDestination(const QString& folder, bool replace)
{
    if (replace || !QFileInfo(folder).isDir())
        return {};
    const QStringList documents = projectDocumentsIn(folder);
    if (!documents.isEmpty()) {
        return Result<Done>::failure(
            {{{},
              {},
              QStringLiteral("\"%1\" already holds project documents (%2); nothing was "
                             "written (--replace writes over them)")
                  .arg(QDir::toNativeSeparators(folder), documents.join(QStringLiteral(", ")))}});
    }
    return {};
}

int runImport(const CommandLine& line)
{
    const QStringList& positional = line.arguments();
    if (positional.size() != 2)
        line.usageError(QStringLiteral("import takes a FIRMWARE or BANK file and a DIR"));
    if (positional[1].isEmpty())
        line.usageError(QStringLiteral("import needs a DIR"));

    const QString folder = absoluteNativePath(positional[1]);
    // A folder that exists may be a project another command is writing.
    const ProjectEdit edit(folder);
    const Result<Done> destination = checkDestination(folder, line.isSet("replace"));
    if (!destination.whole())
        return stoppedBy(destination.problems);
    const InputFile input(positional[0]);
    const Result<ConfigurationBank> read = readBankFile(input.path());
    if (!read.whole())
        return stoppedBy(read.problems);
    const ConfigurationBank& bank = read.value;
    const BankImport imported = importBank(bank);
    if (!imported.exact()) {
        const bool forced = line.isSet("force");
        for (const Problem& obstacle : imported.obstacles)
            complain(forced ? QStringLiteral("warning") : QStringLiteral("error"),
                     obstacle.toString());
        if (!forced) {
            return stoppedBy(QStringLiteral("no project compiles to the bank of %1; nothing was "
                                            "written (--force writes what can be kept)")
                                 .arg(input.displayName()));
        }
    }
    if (imported.exact()) {
        const Result<std::optional<int>> difference =
            firstRebuildDifference(imported.project, bank);
        if (!difference.whole())
            return stoppedBy(difference.problems);
        if (const std::optional<int> offset = difference.value) {
            return stoppedBy(QStringLiteral("the rebuilt documents compile to another bank (first "
                                            "difference at offset %1); nothing was written")
                                 .arg(*offset));
        }
    }
    // The bank may pass every extended frame as it is; its documents are written so only when
    // asked for, as every filter that opens the gateway.
    if (const auto* filter20B = std::get_if<Filter20B>(&imported.project.filter)) {
        const Result<Done> open = refuseOpenGateway(*filter20B, line.isSet("allow-all"));
        if (!open.whole())
            return stoppedBy(open.problems);
    }
    for (const Problem& note : imported.notes)
        complain(QStringLiteral("note"), note.toString());
    const Result<QStringList> written = writeImportedProject(edit, imported.project);
    if (!written.whole())
        return stoppedBy(written.problems);
    for (const QString& path : written.value)
        say(QStringLiteral("Written: %1\n").arg(QDir::toNativeSeparators(path)));
    std::visit([](const auto& filter) { say(storedEntriesText(filter) + u'\n'); },
               imported.project.filter);
    return kExitSuccess;
}

} // namespace

const CommandSpec& importCommand()
{
    static const CommandSpec spec{
        "import",
        "import (FIRMWARE | BANK) DIR [--force] [--replace] [--allow-all]",
        "Rebuild a project's documents from a bank image or firmware.",
        R"(Writes into DIR the project documents that compile to bank 1 of FIRMWARE (an
S-record firmware such as New_SX51804.sx) or to the 16384-byte bank file BANK:
pargen.xml, the filter document of the frame format (Filter20A.xml or
Filter20B.xml) and var.xml, as a new project has it. DIR and its bin folder are
made when missing. "-" reads the file from standard input.

A bank that no project gives (reserved bytes set, codes no window writes, an
erased bank) is refused with the list of what stands in the way, and nothing is
written. A 2.0B bank through which every extended frame passes (no filter, a
negative list of no identifier, a pattern that fixes no bit) is written only
with --allow-all.
)",
        {{"force", Takes::Nothing, "",
          "Write what can be kept anyway; the list is told as warnings."},
         {"replace", Takes::Nothing, "",
          "Write over the project documents DIR already holds; nothing\nelse in it is touched."},
         {"allow-all", Takes::Nothing, "",
          "Write a 2.0B filter that lets every extended frame through."}},
        R"(Example:
  quillner-cli import PROJECTS/Alpha/New_SX51804.sx PROJECTS/Alpha-copy
)",
        {Takes::File, Takes::Folder},
        false,
        runImport};
    return spec;
}

} // namespace quillner::cli
