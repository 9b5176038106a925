#include "core/app/counted_noun.h"

namespace quillner {

QString nounFor(qint64 count, const char* singular, const char* plural)
{
    if (count == 1)
        return QString::fromLatin1(singular);
    return plural ? QString::fromLatin1(plural) : QString::fromLatin1(singular) + u's';
}

QString counted(qint64 count, const char* singular, const char* plural)
{
    return QString::number(count) + u' ' + nounFor(count, singular, plural);
}

} // namespace quillner
