#pragma once

#include "core/app/result.h"
#include "core/bank/bank_compiler.h"
#include "core/documents/general_parameters.h"
#include "core/documents/project_edit.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

namespace quillner {

// The documents of a project rebuilt from a bank: the general parameters and the filter document
// of the frame format they name.
struct ImportedProject
{
    GeneralParameters parameters;
    std::variant<Filter20A, Filter20B> filter;

    bool canTypeB() const { return parameters.canTypeB; }
};

struct BankImport
{
    ImportedProject project;
    // What stands in the way of a rebuild that compiles to the same bank, each with the offset
    // and the setting where it was met and what the documents give instead: bytes no compile
    // writes, codes no window writes, an erased bank. Without obstacles the documents compile to
    // the bank byte for byte.
    Problems obstacles;
    // What the documents hold only so that the bank comes out the same: entries the device does
    // not read, written as placeholders so that the entry count stays.
    Problems notes;

    bool exact() const { return obstacles.isEmpty(); }
};

// The documents that compile to the bank, or, where no documents can, the nearest ones with the
// obstacles listed: a code a document cannot hold becomes the window's meaning of it (a parity
// no window writes becomes None, a frame format, remote-frame or list-function code other than
// 0 becomes 1, a filter mode other than 1 the mask patterns), bytes no compile writes are left
// out, and an erased bank gives the documents of a new project.
BankImport importBank(const ConfigurationBank& bank);

// The project documents a folder may hold: pargen.xml, Filter20A.xml, Filter20B.xml, var.xml.
QStringList projectDocumentNames();
// Those of them that are in the folder (a symbolic link counts, even a dangling one).
QStringList projectDocumentsIn(const QString& folder);

// Writes the documents into the folder, made with its bin folder when missing: pargen.xml, the
// filter document of the frame format and var.xml as a new project has it. Nothing is written
// through a symbolic link: every output is checked before the first is written. Returns the
// paths written, in that order. A problem when the folder is no folder or cannot be made; a
// document that cannot be written throws as the document's writer does.
Result<QStringList> writeImportedProject(const QString& folder, const ImportedProject& project);
// The same, under the lock the caller holds for the folder.
Result<QStringList> writeImportedProject(const ProjectEdit& edit, const ImportedProject& project);

// Where the documents, compiled, first differ from the bank; none when they give it byte for
// byte. The documents are written to a temporary folder and compiled there, so that an import
// can be checked before anything is written where the user asked. A problem when they cannot be
// written there.
Result<std::optional<int>> firstRebuildDifference(const ImportedProject& project,
                                                  const ConfigurationBank& bank);

} // namespace quillner
