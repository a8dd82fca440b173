#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "inventory/DeviceRecord.h"
#include "platform/Outcome.h"
#include "platform/Progress.h"

namespace spindle {

enum class JobKind : int { None = 0, Eeprom = 1, Fpga = 2 };

// Where a job is; the jobs panel and the command-line tool show it.
enum class JobPhase : int {
    Starting = 0,
    Backup,     // reading the EEPROM's current contents into the backup file
    Loader,     // downloading the loader into the 8051's RAM
    Writing,    // sending the image
    Verifying,  // reading the image back
    Player,     // FPGA jobs: downloading the player and waiting for it to start
    Streaming,  // FPGA jobs: sending the XSVF file
    Settling,   // FPGA jobs: the wait after the stream, while the device finishes
    Reconnecting,  // waiting for the device to leave and come back with its new firmware
    Finished,
};
const char* JobPhaseText(JobPhase phase);

// What a finished job came to: its outcome (`Ok()` only when every step
// worked and the read-back, when there was one, matched; `failed` each
// failure in order, as the operator reads it) and the job's own counts.
struct JobResult {
    Outcome outcome;
    std::uint32_t bytesWritten = 0;
    bool verified = false;
    std::string backupPath;  // where the EEPROM's old contents went, if a backup was asked for
    // With a confirmation asked for: what the device came back as
    // ("Kestrel KES10234, firmware 3.20.1") and its serial then; empty when
    // it did not come back.
    std::string cameBackAs;
    std::string serialAfter;

    bool Ok() const { return outcome.Ok(); }
    const std::vector<std::string>& Problems() const { return outcome.failed; }
};

// One device's job, as its worker reports it. The worker is the only writer
// while the job runs; the user-interface thread only reads. `result` is
// written before `finished` is set (release) and read only after `finished`
// was seen (acquire), so it needs no lock of its own.
struct JobEntry {
    std::atomic<int> kind{0};   // JobKind
    std::atomic<std::uint64_t> startedMs{0};
    std::atomic<std::uint64_t> finishedMs{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> reported{false};  // the completion was shown / collected
    // Set by a front end to stop the job: the worker finishes the request
    // it is making, sends no further one and reports what was done.
    std::atomic<bool> stop{false};
    // While Reconnecting: the seconds the wait for the device has left.
    std::atomic<int> secondsLeft{0};
    // The job's steps are JobPhase values, planned when the job starts.
    CProgress progress;
    JobResult result;

    bool StopAsked() const { return stop.load(std::memory_order_acquire); }
    JobPhase Phase() const { return static_cast<JobPhase>(progress.Now().step); }

    // The worker's progress calls: a phase of `stepTotal` bytes entered
    // (`doneAlready` of them done), and bytes of it done.
    void Enter(JobPhase next, std::uint32_t stepTotal, std::uint32_t doneAlready = 0) {
        progress.Enter(static_cast<int>(next), stepTotal, doneAlready);
    }
    void Advance(std::uint32_t bytes) { progress.Advance(bytes); }
};

// A copy of one entry for display.
struct JobSnapshot {
    std::uint32_t deviceIndex = 0;
    JobKind kind = JobKind::None;
    ProgressPoint at;  // its step is a JobPhase
    std::uint64_t startedMs = 0;
    bool finished = false;
    bool ok = false;  // valid once finished

    JobPhase Phase() const { return static_cast<JobPhase>(at.step); }
};

// The frame's job table: one entry per device index.
class CJobTable {
public:
    JobEntry& operator[](std::uint32_t index) { return entries_[index % kMaxDevices]; }
    const JobEntry& operator[](std::uint32_t index) const { return entries_[index % kMaxDevices]; }

    // Makes the entry of `index` ready for a new job of these steps (the
    // user-interface thread, before the worker starts).
    void Prepare(std::uint32_t index, JobKind kind, std::uint64_t nowMs, const std::vector<ProgressStep>& plan);
    JobSnapshot Snapshot(std::uint32_t index) const;
    // True when the entry ever held a job.
    bool Used(std::uint32_t index) const {
        return (*this)[index].kind.load(std::memory_order_acquire) != static_cast<int>(JobKind::None);
    }

private:
    std::array<JobEntry, kMaxDevices> entries_{};
};

}  // namespace spindle
