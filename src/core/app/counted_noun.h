#pragma once

#include <QString>

namespace quillner {

// The noun for a count: the singular for exactly one, else the plural, which is the singular
// with an "s" unless it is given ("entry", "entries"). Every message that counts says "1 pattern"
// and "2 patterns" through it.
QString nounFor(qint64 count, const char* singular, const char* plural = nullptr);

// "1 pattern", "0 patterns", "3 error frames": the count and its noun.
QString counted(qint64 count, const char* singular, const char* plural = nullptr);

} // namespace quillner
