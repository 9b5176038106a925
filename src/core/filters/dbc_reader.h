#pragma once

#include "core/app/problems.h"

#include <QList>
#include <QString>

namespace quillner {

// A message of a DBC file: "BO_ 2566844926 EEC1: 8 Engine". In the file's identifier bit 31
// marks an extended (29-bit) identifier; `id` is without it.
struct DbcMessage
{
    QString name;
    quint32 id = 0;
    bool extended = false;
    int line = 0; // counted from 1

    friend bool operator==(const DbcMessage&, const DbcMessage&) = default;
};

// The messages of a DBC file, from its BO_ lines; nothing else of the file is read. The
// placeholder message for signals of no message (VECTOR__INDEPENDENT_SIG_MSG) is left out.
// A BO_ line that cannot be read, or whose identifier does not fit its form, is a problem with
// its line number. Throws when the file cannot be read.
Partial<QList<DbcMessage>> readDbcMessages(const QString& path);

} // namespace quillner
