#include "programming/JobRunner.h"

#include <algorithm>

#include "device/EzusbDriver.h"
#include "device/Families.h"
#include "platform/Clock.h"
#include "programming/EepromImage.h"
#include "programming/ReconnectCheck.h"

namespace spindle {

namespace {
bool InRange(std::uint32_t index) { return index < static_cast<std::uint32_t>(kMaxDevices); }

// A device leaves the bus and enumerates again in a second or two.
constexpr std::uint64_t kExpectedReconnectMs = 2000;

// The job's steps in the order its worker takes them, each weighted by the
// time the job's estimate expects it to take, between Starting and Finished
// (which weigh nothing, as the loader's and the player's short downloads).
std::vector<ProgressStep> PlanOf(const JobRequest& request) {
    const auto step = [](JobPhase phase, std::uint64_t ms) {
        const auto weight = static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, 0xFFFFFFFFu));
        return ProgressStep{static_cast<int>(phase), weight};
    };
    std::vector<ProgressStep> plan{step(JobPhase::Starting, 0)};
    if (request.kind == JobKind::Fpga) {
        const std::uint64_t size = request.fpga.xsvf ? request.fpga.xsvf->size() : 0;
        plan.push_back(step(JobPhase::Player, kFpgaPlayerStartMs));
        plan.push_back(step(JobPhase::Streaming, ExpectedStreamMs(size)));
        plan.push_back(step(JobPhase::Settling, kFpgaSettleMs));
    } else {
        const EepromJobRequest& eeprom = request.eeprom;
        const auto length = static_cast<std::uint32_t>(eeprom.image ? eeprom.image->size() : 0);
        const ChipGeneration chip = FamilyOf(static_cast<int>(eeprom.familyCode)).chip;
        const std::uint64_t writeMs = ExpectedEepromMs(length, chip, 0);
        const std::uint64_t readMs = ExpectedEepromMs(length, chip, 1) - writeMs;
        plan.push_back(step(JobPhase::Loader, 0));
        if (!eeprom.backupPath.empty()) plan.push_back(step(JobPhase::Backup, readMs));
        plan.push_back(step(JobPhase::Writing, writeMs));
        if (eeprom.verify) plan.push_back(step(JobPhase::Verifying, readMs));
    }
    if (request.confirmFamily != 0) plan.push_back(step(JobPhase::Reconnecting, kExpectedReconnectMs));
    plan.push_back(step(JobPhase::Finished, 0));
    return plan;
}
}  // namespace

bool CJobRunner::StartEeprom(const EepromJobRequest& request, int deadline, std::int64_t recordId,
                              std::uint32_t confirmFamily) {
    const std::uint32_t index = request.deviceIndex;
    if (!InRange(index) || Running(index)) return false;
    // Its last job ended: the worker touches the request no more once joined.
    if (workers_[index].joinable()) workers_[index].join();
    requests_[index] = JobRequest{JobKind::Eeprom, request, {}, recordId, confirmFamily};
    eepromDeadline_[index] = deadline;
    return Launch(index);
}

bool CJobRunner::StartFpga(const FpgaJobRequest& request, int deadline, std::int64_t recordId,
                            std::uint32_t confirmFamily) {
    const std::uint32_t index = request.deviceIndex;
    if (!InRange(index) || Running(index)) return false;
    if (workers_[index].joinable()) workers_[index].join();
    requests_[index] = JobRequest{JobKind::Fpga, {}, request, recordId, confirmFamily};
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
    const std::string place = request.confirmFamily != 0 ? platform_.driver.PlaceOf(static_cast<int>(index)) : "";
    JobResult result = request.kind == JobKind::Fpga ? ProgramFpga(platform_, request.fpga, entry)
                                                     : ProgramEepromImage(platform_, request.eeprom, entry);
    if (request.confirmFamily != 0 && result.Ok()) {
        ConfirmReconnect(platform_, place, static_cast<int>(request.confirmFamily), entry, result);
    }
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
