#pragma once

#include "core/app/app_paths.h"
#include "core/app/result.h"
#include "core/firmware/srec_merge.h"
#include "core/production/flash_journal.h"
#include "core/production/station_journal.h"
#include "core/update/device_update.h"

#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

class QThreadPool;

namespace quillner {

// How a batch flashes its rows.
struct BatchFlashing
{
    QList<int> ports; // serial port indexes, 0 (COM1) to 7 (COM8), each one device at a time
    std::optional<std::chrono::milliseconds> timeout; // for each device
    // Told when a port is still taken by an earlier tool's processes; the port waits for them.
    std::function<void(const QString& message)> portWaiting;
};

// A row whose firmware was built and verified, ready for a device.
struct FlashRequest
{
    qint64 row = 0; // its line in the table
    QString name;
    QString serial;
    QString folder;       // its project folder
    MergeResult merged;   // the verified merge of its firmware
    bool claimed = false; // claimed in the journal before it was built: the port need not ask
};

// The ports of a production station. Rows handed in as they are built go to the next free port in
// row order, one device per port at a time, the ports at the same time; the flashing tool is
// waited for, and each attempt is in the journal before its port takes the next row. A port
// claims its row in the journal first: a row that another station of the line settled is not
// flashed here, and one it holds is asked for again later.
class FlashStation
{
public:
    // Called once per row handed in, as its attempt ends, with its record (already in the
    // journal), from the ports' threads; or, with the claim's answer Settled, as the line tells
    // that another station settled it.
    using Done =
        std::function<void(qsizetype index, const FlashRecord& record, const RowClaim& claim)>;

    // toolPaths gives ExeDir and DataDir, where the flashing tool is looked for; masterDir holds
    // the firmware the rows were merged into.
    FlashStation(const BatchFlashing& flashing, const AppPaths& toolPaths, const QString& masterDir,
                 StationJournal& journal, Done done);
    // Waits for the attempts under way.
    ~FlashStation();

    FlashStation(const FlashStation&) = delete;
    FlashStation& operator=(const FlashStation&) = delete;

    // Returns once fewer built rows wait than the station has ports (or it stopped): a row is
    // built, and on a line claimed, only as the ports are about to want it, so that the stations
    // of a line share the rows rather than each building all of them.
    void awaitRoom();
    void add(qsizetype index, FlashRequest request);
    // Waits for as long, or until the journal cannot be written or reached: false once it
    // cannot.
    bool pause(std::chrono::milliseconds wait);
    // A row that is not flashed as the journal failed with fault (the first fault told stays
    // the station's): no port takes another row, and finish tells this one as not flashed with
    // those left.
    void setAside(qsizetype index, FlashRequest request, const QString& fault);
    // No more rows come: returns once every row handed in has had its attempt. Once the journal
    // cannot be written, no port takes another row: those left are told as not flashed, and the
    // journal's fault is returned (empty when there was none).
    QString finish();

private:
    void runPort(int port);
    // The next row for a port: a waiting one, else one held elsewhere once it is time to ask
    // again. None when the port is done.
    std::optional<std::pair<qsizetype, FlashRequest>> nextRow();
    FlashRecord flash(const FlashRequest& request, int port) const;
    // The tool's launch for the row on the port: refused when its project no longer plans the
    // same firmware, or its merged file is not the one that was built and verified. Throws when
    // the merged file cannot be read.
    Result<FlasherLaunch> rowLaunch(const FlashRequest& request, int port) const;

    BatchFlashing m_flashing;
    AppPaths m_toolPaths;
    QString m_masterDir;
    StationJournal& m_journal;
    Done m_done;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<qsizetype, FlashRequest> m_waiting; // by row index, so that rows go in order
    // Rows that another station holds, with when to ask for them again.
    std::map<qsizetype, std::pair<FlashRequest, std::chrono::steady_clock::time_point>> m_held;
    bool m_closed = false;
    QString m_journalFault; // once set, no row is flashed any more
    std::unique_ptr<QThreadPool> m_ports;
};

} // namespace quillner
