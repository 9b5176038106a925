#pragma once

#include "core/app/result.h"

#include <QString>

namespace quillner {

// A Windows-profile (INI) file read and written as plain text, so that values such as
// "\Alpha" come back exactly as they were stored. Section and key names compare without case.

// The value, or an empty text when the file, the section or the key is missing or unreadable.
// Blanks around the value are dropped, then one pair of matching quotes around it.
QString readProfileString(const QString& path, const QString& section, const QString& key);

// Sets one value, creating the file, the section or the key as needed. Every other line is kept
// byte for byte: the user's notes, sections of other programs, lines this reader does not
// understand. A value that begins or ends with a blank or a quote is stored in double quotes, so
// that readProfileString gives it back exactly. A file that exists but cannot be read whole (no
// regular file, unreadable, larger than a settings file may be) is never written: what it holds
// would be lost; the value is then false and the problem says why. Throws "Unable to write to
// path" when the file cannot be written.
Result<bool> writeProfileString(const QString& path, const QString& section, const QString& key,
                                const QString& value);

} // namespace quillner
