#include "programming/JobTable.h"

#include <utility>

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

void JobEntry::Enter(JobPhase next, std::uint32_t stepTotal, std::uint32_t doneAlready) {
    done.store(doneAlready, std::memory_order_relaxed);
    total.store(stepTotal, std::memory_order_relaxed);
    phase.store(static_cast<int>(next), std::memory_order_release);
    Mark(next, doneAlready, stepTotal);
}

void JobEntry::Advance(std::uint32_t bytes) {
    const std::uint32_t before = done.fetch_add(bytes, std::memory_order_relaxed);
    const std::uint32_t stepTotal = total.load(std::memory_order_relaxed);
    if (stepTotal == 0) return;
    const auto quarter = [stepTotal](std::uint64_t at) { return 4 * at / stepTotal; };
    if (quarter(before) != quarter(std::uint64_t{before} + bytes)) {
        Mark(static_cast<JobPhase>(phase.load(std::memory_order_relaxed)), before + bytes, stepTotal);
    }
}

void JobEntry::Mark(JobPhase at, std::uint32_t doneNow, std::uint32_t stepTotal) {
    std::lock_guard guard(milestoneMutex_);
    milestones_.push_back({at, doneNow, stepTotal});
}

std::vector<JobMilestone> JobEntry::TakeMilestones() {
    std::lock_guard guard(milestoneMutex_);
    return std::exchange(milestones_, {});
}

void JobEntry::ClearMilestones() {
    std::lock_guard guard(milestoneMutex_);
    milestones_.clear();
}

void CJobTable::Prepare(std::uint32_t index, JobKind kind, std::uint64_t nowMs) {
    JobEntry& entry = (*this)[index];
    entry.finished.store(false, std::memory_order_relaxed);
    entry.reported.store(false, std::memory_order_relaxed);
    entry.stop.store(false, std::memory_order_relaxed);
    entry.secondsLeft.store(0, std::memory_order_relaxed);
    entry.startedMs.store(nowMs, std::memory_order_relaxed);
    entry.finishedMs.store(0, std::memory_order_relaxed);
    entry.result = JobResult{};
    entry.ClearMilestones();
    entry.Enter(JobPhase::Starting, 0);
    entry.kind.store(static_cast<int>(kind), std::memory_order_release);
}

JobSnapshot CJobTable::Snapshot(std::uint32_t index) const {
    const JobEntry& entry = (*this)[index];
    JobSnapshot snapshot;
    snapshot.deviceIndex = index;
    snapshot.finished = entry.finished.load(std::memory_order_acquire);
    snapshot.kind = static_cast<JobKind>(entry.kind.load(std::memory_order_acquire));
    snapshot.phase = static_cast<JobPhase>(entry.phase.load(std::memory_order_acquire));
    snapshot.done = entry.done.load(std::memory_order_relaxed);
    snapshot.total = entry.total.load(std::memory_order_relaxed);
    snapshot.startedMs = entry.startedMs.load(std::memory_order_relaxed);
    if (snapshot.finished) snapshot.ok = entry.result.Ok();
    return snapshot;
}

}  // namespace spindle
