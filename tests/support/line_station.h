#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace quillner::testing {

// The stand-in flashing tool of a production line's stations, written into a tool folder beside a
// copy of quillner-cli: "$1" the merged firmware (OUT/ROW/New_SX51804.sx, where OUT is named
// after its station), "$2" the port. It works state/duration seconds on a device from its start
// (its interpreter's start included), then appends
// "STATION ROW PORT" to state/flashed: a device flashed to the end. When the batch that started
// it dies first, it ends without a word, as a device left half written.
//
// It can be held, so that a test knows where each station is: with a file state/hold-STATION
// (or state/hold-all) holding a number N, that station's (every station's) N-th start and later
// ones tell "held STATION ROW" on the FIFO state/events and wait for the gate, state/gate, that
// the test keeps locked, before they work.
void writeLineFlasher(const QString& toolFolder, double secondsPerDevice);

// The test's side of the stand-in's events and gate.
class LineEvents
{
public:
    explicit LineEvents(const QString& toolFolder);
    ~LineEvents();

    LineEvents(const LineEvents&) = delete;
    LineEvents& operator=(const LineEvents&) = delete;

    bool isValid() const { return m_events >= 0 && m_gate >= 0; }
    // Waits for the events until heldCount(station) reaches count for each station given (its
    // ports all held). False when none came for two minutes: a safety net, not a measure.
    bool waitForHeld(const QHash<QString, int>& counts);
    int heldCount(const QString& station) const { return m_held.value(station); }
    // Opens the gate for good: the held stand-ins and later ones go on.
    void openGate();

private:
    int m_events = -1;
    int m_gate = -1;
    QByteArray m_pending;
    QHash<QString, int> m_held;
};

// state/flashed as rows to the stations that flashed them, each time.
QHash<QString, QStringList> flashedRows(const QString& toolFolder);

} // namespace quillner::testing
