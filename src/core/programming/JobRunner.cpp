#include "programming/JobRunner.h"

#include <algorithm>
#include <span>

#include "platform/Clock.h"

namespace spindle {

namespace {
bool InRange(std::uint32_t index) { return index < static_cast<std::uint32_t>(kMaxDevices); }

// What each step of a job is expected to take: a fixed time and a time per
// KiB of the job's file. Writing and streaming cost what the countdown's
// estimates give them; an EEPROM read (backup, verify) has no page-write
// cycles and takes about a third of a write.
struct StepCost {
    JobPhase phase;
    std::uint32_t fixedMs;
    std::uint32_t msPerKiB;
};
constexpr StepCost kEepromSteps[] = {
    {JobPhase::Loader, 1000, 0},
    {JobPhase::Backup, 0, 1400},
    {JobPhase::Writing, 0, 4181},  // 245 ms per 60 bytes
    {JobPhase::Verifying, 0, 1400},
};
constexpr StepCost kFpgaSteps[] = {
    {JobPhase::Player, 1000 + kFpgaPlayerStartMs, 0},
    {JobPhase::Streaming, 0, 608},  // 0.594 ms per byte
    {JobPhase::Settling, kFpgaSettleMs, 0},
};

// The job's steps in the order its worker takes them, each weighted by its
// expected time, between Starting and Finished (which weigh nothing).
std::vector<ProgressStep> PlanOf(const JobRequest& request) {
    const bool fpga = request.kind == JobKind::Fpga;
    const std::shared_ptr<const std::string>& file = fpga ? request.fpga.xsvf : request.eeprom.image;
    const std::uint64_t bytes = file ? file->size() : 0;
    std::vector<ProgressStep> plan{{static_cast<int>(JobPhase::Starting), 0}};
    const std::span<const StepCost> steps = fpga ? std::span<const StepCost>(kFpgaSteps) : kEepromSteps;
    for (const StepCost& cost : steps) {
        if (cost.phase == JobPhase::Backup && request.eeprom.backupPath.empty()) continue;
        if (cost.phase == JobPhase::Verifying && !request.eeprom.verify) continue;
        const std::uint64_t ms = std::min<std::uint64_t>(cost.fixedMs + cost.msPerKiB * bytes / 1024, 0xFFFFFFFFu);
        plan.push_back({static_cast<int>(cost.phase), static_cast<std::uint32_t>(ms)});
    }
    plan.push_back({static_cast<int>(JobPhase::Finished), 0});
    return plan;
}
}  // namespace

bool CJobRunner::StartEeprom(const EepromJobRequest& request, int deadline, std::int64_t recordId) {
    const std::uint32_t index = request.deviceIndex;
    if (!InRange(index) || Running(index)) return false;
    // Its last job ended: the worker touches the request no more once joined.
    if (workers_[index].joinable()) workers_[index].join();
    requests_[index] = JobRequest{JobKind::Eeprom, request, {}, recordId};
    eepromDeadline_[index] = deadline;
    return Launch(index);
}

bool CJobRunner::StartFpga(const FpgaJobRequest& request, int deadline, std::int64_t recordId) {
    const std::uint32_t index = request.deviceIndex;
    if (!InRange(index) || Running(index)) return false;
    if (workers_[index].joinable()) workers_[index].join();
    requests_[index] = JobRequest{JobKind::Fpga, {}, request, recordId};
    fpgaDeadline_[index] = deadline;
    return Launch(index);
}

bool CJobRunner::Launch(std::uint32_t index) {
    busy_[index].store(1);
    entries_.Prepare(index, requests_[index].kind, platform_.clock.NowMs(), PlanOf(requests_[index]));
    workers_[index] = std::thread(&CJobRunner::Run, this, index);
    return true;
}

void CJobRunner::Run(std::uint32_t index) {
    const JobRequest& request = requests_[index];
    JobEntry& entry = entries_[index];
    JobResult result = request.kind == JobKind::Fpga ? ProgramFpga(platform_, request.fpga, entry)
                                                     : ProgramEepromImage(platform_, request.eeprom, entry);
    if (endHook_) endHook_(request, result);
    entry.result = std::move(result);
    entry.Enter(JobPhase::Finished, 0);
    entry.finishedMs.store(platform_.clock.NowMs(), std::memory_order_relaxed);
    entry.finished.store(true, std::memory_order_release);
    busy_[index].store(0);
}

bool CJobRunner::AnyBusy() const {
    for (const auto& flag : busy_) {
        if (flag.load() == 1) return true;
    }
    return false;
}

bool CJobRunner::Running(std::uint32_t index) const {
    return Busy(index) || (entries_.Used(index) && !entries_[index].finished.load(std::memory_order_acquire));
}

std::vector<EndedJob> CJobRunner::CollectEnded() {
    std::vector<EndedJob> ended;
    for (std::uint32_t index = 0; InRange(index); ++index) {
        JobEntry& entry = entries_[index];
        if (!entry.finished.load(std::memory_order_acquire)) continue;
        bool expected = false;
        if (!entry.reported.compare_exchange_strong(expected, true)) continue;
        ended.push_back({index, Kind(index), entry.result});
    }
    return ended;
}

void CJobRunner::WaitForJobs() {
    for (std::thread& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
}

}  // namespace spindle
