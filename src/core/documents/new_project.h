#pragma once

#include "core/app/app_paths.h"
#include "core/app/problems.h"
#include "core/app/result.h"

#include <QStringList>

namespace quillner {

// The value tells whether the folder was created; the problems are the messages to show, in
// this order, each with neither file nor place. A name whose upper folders do not exist is
// refused without a problem.
using NewProjectAttempt = Result<bool>;

// Checks the destination folder and the typed name and, when both are good, creates the project
// folder (one level) with its bin folder and makes it the current project. The default
// documents are written by the caller. A name that is an absolute path or climbs out with ".."
// is refused, so that a project never lands outside the destination folder.
NewProjectAttempt createProjectFolder(AppPaths& paths, const QString& destination,
                                      const QString& name);

// Writes the documents every new project starts with: pargen.xml with the default general
// parameters and var.xml, the empty translate table. The filter documents come with the first
// save of a filter window.
void writeNewProjectDocuments(const AppPaths& paths);

// A new project at the folder, for the command line: the folder's parent must exist and the
// folder must not exist or be empty; otherwise it throws and writes nothing. Makes the folder,
// its bin folder and the default documents, as the New project window does, and returns the
// project's paths. Quillner.ini is left alone.
AppPaths createProjectAt(const QString& folder);

} // namespace quillner
