#pragma once

#include "core/app/result.h"
#include "core/bank/bank_compiler.h"
#include "core/device/configuration_bank.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/logs/frame_tally.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

namespace quillner {

// A recording played against a bank's receive filter, as `filter test` does for one log: every
// frame judged as the device judges it and counted by identifier.
struct RecordingTest
{
    QString name; // the recording's file name
    FilterTally tally;
    Problems unreadable;    // the first lines that are no frame, with their line numbers
    bool cancelled = false; // stopped on request: the tally holds the frames read before
};

// How far the reading is: bytes of the recording read so far, and its size; a total of 0 when
// the size says nothing of it (a binary recording).
using RecordingProgress = std::function<void(qint64 done, qint64 total)>;
// Asked now and then while the recording is read; true stops the reading.
using CancelRequest = std::function<bool()>;

// Reads the recording (every format `filter test` reads) and judges each frame by the bank.
// Progress is told in steps, not for every frame, so that a recording of millions of frames is
// read at the reader's speed. A problem when the recording cannot be read; a reading cancelled
// is whole, with cancelled set.
Result<RecordingTest> testRecording(const ConfigurationBank& bank, const QString& path,
                                    const RecordingProgress& progress = {},
                                    const CancelRequest& cancel = {});

// The bank the project's documents give once a filter window's "OK" has saved its filter: the
// general parameters from pargenPath, the filter as shown. Writes nothing in the project; a
// problem when no temporary folder can be made for the filter.
CompiledBank compileWithFilter(const QString& pargenPath, const Filter20A& filter);
CompiledBank compileWithFilter(const QString& pargenPath, const Filter20B& filter);

// The names of a DBC file's messages by identifier form and identifier.
class MessageNames
{
public:
    MessageNames() = default;
    explicit MessageNames(const QList<DbcMessage>& messages);

    // The message's name; empty for an identifier of no message.
    QString name(quint32 id, bool extended) const;
    bool isEmpty() const { return m_names.isEmpty(); }

private:
    QHash<quint64, QString> m_names;
};

// One identifier of a tally, with its numbers as `filter test --json` gives them.
struct IdentifierRow
{
    quint32 id = 0;
    bool extended = false;
    QString text; // "0x123", "0x18FEF100"
    quint64 passed = 0;
    quint64 blocked = 0;
    bool wrongForm = false; // of the identifier form the device does not receive
    QString messageName;    // from a DBC file; empty without one

    quint64 frames() const { return passed + blocked; }
    // "passed", "blocked", "blocked (other form)" or, when some of its frames pass and others
    // do not, "partly passed".
    QString verdict() const;
};

// The tally's identifiers in `filter test --json` order: standard identifiers, then extended
// ones, each ascending.
QList<IdentifierRow> identifierRows(const FilterTally& tally, const MessageNames& names = {});

// "Total: 1200 frames, 900 passed, 300 blocked (0 of another identifier form), 0 unreadable
// lines", as `filter test` ends.
QString recordingTotalsText(const FilterTally& tally);

} // namespace quillner
