#pragma once

#include "core/app/problems.h"
#include "core/app/result.h"
#include "core/device/settings.h"

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

// The messages of a DBC file, from its BO_ lines; nothing else of the file is read. Message
// names may begin with a digit, as vehicle files have them ("BO_ 1275 2017_5: 8 XXX"). The
// placeholder message for signals of no message (VECTOR__INDEPENDENT_SIG_MSG) is left out. A BO_
// line that cannot be read, or whose identifier does not fit its form, is left out with a
// warning naming its line and the reason: the other messages may still be taken. Refused when
// the file cannot be read, is not a regular file, or holds no message at all: a DBC with
// nothing to take is no success.
Result<QList<DbcMessage>> readDbcMessages(const QString& path);

// What a project takes from a DBC file's messages.
struct DbcSelection
{
    QList<quint32> identifiers; // of the project's frame format, ascending, no duplicates
    QStringList skipped;        // "EEC1 (extended identifier 0x18F00400 on a CAN 2.0A project)"
};

// The messages named in `names` (separated by commas, blanks around a name ignored; all
// messages when empty), split by the frame format. Refused with "No message named X in FILE" for
// a name of none.
Result<DbcSelection> selectDbcMessages(const QList<DbcMessage>& messages, const QString& names,
                                       FrameFormat format, const QString& fileName);

// Refused when the selection holds no identifier of the project's frame format: writing it would
// hide every 2.0A identifier, or let every extended frame through; unless allowAll.
Result<Done> refuseEmptyDbcSelection(const DbcSelection& selection, FrameFormat format,
                                     const QString& fileName, bool allowAll);

} // namespace quillner
