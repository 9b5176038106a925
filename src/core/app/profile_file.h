#pragma once

#include <QString>

namespace quillner {

// A Windows-profile (INI) file read and written as plain text, so that values such as
// "\Alpha" come back exactly as they were stored. Section and key names compare without case.

// The value, or an empty text when the file, the section or the key is missing or unreadable.
// Blanks around the value are dropped, then one pair of matching quotes around it.
QString readProfileString(const QString& path, const QString& section, const QString& key);

// Sets one value, creating the file, the section or the key as needed and keeping every other
// line. A value that begins or ends with a blank or a quote is stored in double quotes, so that
// readProfileString gives it back exactly. Throws "Unable to write to path" when the file cannot be
// written.
void writeProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value);

} // namespace quillner
