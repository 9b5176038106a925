#pragma once

#include "core/app/problems.h"

#include <QString>

namespace quillner {

// A project received from elsewhere may hold symbolic links where its outputs belong: writing
// through one would replace a file wherever it points. An output path is fit when it lies below
// the project folder, no folder between the two and not the file itself is a symbolic link, the
// folders on the way are folders and the file, when it exists, is a regular file. The project
// folder itself is taken as it is (how it was reached is the opener's to check).

// The reason the path may not be written ("Cannot create file "path". ..."); none when it may.
Problems projectOutputProblems(const QString& projectDir, const QString& path);

// Throws the reason when the path may not be written.
void checkProjectOutput(const QString& projectDir, const QString& path);

} // namespace quillner
