#include "programming/JobTable.h"

namespace spindle {

const char* JobPhaseText(JobPhase phase) {
    switch (phase) {
        case JobPhase::Starting: return "starting";
        case JobPhase::Backup: return "saving a backup";
        case JobPhase::Loader: return "loading the loader";
        case JobPhase::Writing: return "writing";
        case JobPhase::Verifying: return "verifying";
        case JobPhase::Player: return "loading the FPGA player";
        case JobPhase::Streaming: return "streaming";
        case JobPhase::Settling: return "waiting for the device";
        case JobPhase::Reconnecting: return "waiting for the device to come back";
        case JobPhase::Finished: return "finished";
    }
    return "";
}

void CJobTable::Prepare(std::uint32_t index, JobKind kind, std::uint64_t nowMs,
                        const std::vector<ProgressStep>& plan) {
    JobEntry& entry = (*this)[index];
    entry.finished.store(false, std::memory_order_relaxed);
    entry.reported.store(false, std::memory_order_relaxed);
    entry.stop.store(false, std::memory_order_relaxed);
    entry.secondsLeft.store(0, std::memory_order_relaxed);
    entry.startedMs.store(nowMs, std::memory_order_relaxed);
    entry.finishedMs.store(0, std::memory_order_relaxed);
    entry.result = JobResult{};
    entry.progress.Plan(plan);
    entry.kind.store(static_cast<int>(kind), std::memory_order_release);
}

JobSnapshot CJobTable::Snapshot(std::uint32_t index) const {
    const JobEntry& entry = (*this)[index];
    JobSnapshot snapshot;
    snapshot.deviceIndex = index;
    snapshot.finished = entry.finished.load(std::memory_order_acquire);
    snapshot.kind = static_cast<JobKind>(entry.kind.load(std::memory_order_acquire));
    snapshot.at = entry.progress.Now();
    snapshot.startedMs = entry.startedMs.load(std::memory_order_relaxed);
    if (snapshot.finished) snapshot.ok = entry.result.Ok();
    return snapshot;
}

}  // namespace spindle
