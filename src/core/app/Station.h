#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "inventory/DeviceRecord.h"
#include "inventory/DeviceTree.h"
#include "platform/Outcome.h"
#include "programming/JobTable.h"

namespace spindle {

class CMainFrame;

// What a station programs: every device of `family` that arrives gets the
// EEPROM image (read back, then confirmed when it comes back), and then the
// XSVF file when one is given (confirmed again).
struct StationOptions {
    std::uint32_t family = 0;
    std::string imagePath;
    std::string xsvfPath;  // empty: no FPGA step
    int count = 0;         // devices to take; 0: no limit
};

enum class StationState { Programming, Passed, Failed };

// One device the station took, as a tile shows it.
struct StationTile {
    std::uint32_t deviceIndex = 0;
    std::string serial;  // as it arrived
    StationState state = StationState::Programming;
    JobKind step = JobKind::Eeprom;  // the job running or last run
    JobPhase phase = JobPhase::Starting;
    int percent = 0;      // of the whole job, while programming
    int secondsLeft = 0;  // while waiting for the device to come back
    std::string detail;   // once done: what it came back as, or the first problem
};

struct StationSnapshot {
    std::vector<StationTile> tiles;  // by device index
    int taken = 0;
    int passed = 0;
    int failed = 0;
    int count = 0;  // as asked; 0: no limit
    bool stopping = false;
    bool finished = false;
};

// Station mode on the frame's jobs: it follows the bus, and programs each
// device of the family that arrives, once. A device stays on its tile,
// passed or failed, until it is unplugged; plugged in again it is a new
// device. Front ends drive it from their ticks (the window's timer, the
// command-line tool's loop): nothing here blocks or calls back.
//
// The station's jobs are its own to report: Tick collects their results
// (the frame's countdown shows no completion box for them).
class CStation {
public:
    CStation(CMainFrame& frame, StationOptions options);
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    // Reads and checks the image (and the XSVF file) once for every device.
    // The image's own refusals (unreadable, empty, too large) are shown as
    // Program shows them; the outcome's failures say every refusal, for the
    // caller to show the others (an image for the other chip generation, a
    // family without logic, a file that is not XSVF). The station then takes
    // no device.
    Outcome Start();
    // One look at the jobs and the bus: the results that came in, started
    // devices' next steps, a scan when the bus moved (every 2 s on a back
    // end that cannot tell), and jobs on the devices that arrived. Returns
    // one line per device whose result came in ("Ezusb-3 Kestrel KES10234:
    // PASS, came back as ... (2 passed, 0 failed, of 3)").
    std::vector<std::string> Tick(std::uint64_t nowMs);
    // Takes no new device; the jobs running go on to their end.
    void Stop();
    // A job of the station runs.
    bool Programming() const;
    // Stopped (or every device of the count taken) and no job running.
    bool Finished() const;
    // Finished with the whole count taken, and every device passed.
    bool AllPassed() const;
    StationSnapshot Snapshot() const;

private:
    struct Tile {
        StationTile view;
        DeviceRecord record;
    };
    static constexpr std::uint64_t kRescanMs = 2000;

    void CollectResults(std::vector<std::string>& lines);
    void Scan();
    void TakeArrivals(std::vector<std::string>& lines);
    bool StartStep(Tile& tile, JobKind step);
    void Finish(Tile& tile, bool passed, const std::string& detail, std::vector<std::string>& lines);
    bool Taking() const;

    CMainFrame& frame_;
    StationOptions options_;
    bool started_ = false;
    bool stopping_ = false;
    std::shared_ptr<const std::string> image_;
    std::shared_ptr<const std::string> xsvf_;
    std::map<std::uint32_t, Tile> tiles_;
    int taken_ = 0;
    int passed_ = 0;
    int failed_ = 0;
    bool scanned_ = false;
    std::uint64_t generation_ = 0;
    std::uint64_t lastScanMs_ = 0;
    DeviceRecordTable records_{};
    CDeviceTree tree_;
};

}  // namespace spindle
