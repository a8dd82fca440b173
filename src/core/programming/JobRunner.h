#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "inventory/DeviceScan.h"
#include "platform/Platform.h"
#include "programming/EepromProgramming.h"
#include "programming/FpgaProgramming.h"
#include "programming/JobTable.h"

namespace spindle {

// What a device's last job was started with. The user-interface thread
// writes it before the worker starts; the worker only reads it.
struct JobRequest {
    JobKind kind = JobKind::None;
    EepromJobRequest eeprom;  // EEPROM jobs
    FpgaJobRequest fpga;      // FPGA jobs
    std::int64_t recordId = 0;  // the production record the job's end completes (0: none)
    // After a job that worked, wait for the device to come back and check it
    // is of this family (ConfirmReconnect); 0: no confirmation asked.
    std::uint32_t confirmFamily = 0;
};

// A job whose worker has ended, as collected (once) for its completion box.
struct EndedJob {
    std::uint32_t deviceIndex = 0;
    JobKind kind = JobKind::None;
    JobResult result;
};

// The programming jobs of every device: the requests, one worker thread per
// device, the entries the workers report their progress in, the busy flags
// and the countdown deadlines. Workers of different devices run side by
// side; a worker writes only its own device's entry and busy flag. The
// user-interface thread starts jobs, reads the flags and entries, and keeps
// the deadlines (tick values of the frame's countdown).
class CJobRunner {
public:
    // Runs on the worker once the job's steps are done, before the job is
    // marked finished: whoever collects the job finds what the hook wrote.
    using EndHook = std::function<void(const JobRequest&, const JobResult&)>;

    explicit CJobRunner(Platform& platform) : platform_(platform) {}
    ~CJobRunner() { WaitForJobs(); }
    CJobRunner(const CJobRunner&) = delete;
    CJobRunner& operator=(const CJobRunner&) = delete;

    // Set before the first job starts.
    void SetEndHook(EndHook hook) { endHook_ = std::move(hook); }

    // Start the worker of the request's device, which is busy from here on,
    // before its worker runs: a second job or a scan between now and the
    // worker's start must not reach it. `deadline` is the countdown tick at
    // which the job is expected to end. False, and nothing started, when the
    // device is busy or its index is out of range.
    bool StartEeprom(const EepromJobRequest& request, int deadline, std::int64_t recordId = 0,
                     std::uint32_t confirmFamily = 0);
    bool StartFpga(const FpgaJobRequest& request, int deadline, std::int64_t recordId = 0,
                   std::uint32_t confirmFamily = 0);

    bool Busy(std::uint32_t index) const { return busy_[index % kMaxDevices].load() == 1; }
    bool AnyBusy() const;
    // Busy, or started and not yet finished.
    bool Running(std::uint32_t index) const;
    // The kind of the device's current or last job (None: never started).
    JobKind Kind(std::uint32_t index) const {
        return static_cast<JobKind>(entries_[index].kind.load(std::memory_order_acquire));
    }
    // The deadline of the device's current or last job, by its kind.
    int Deadline(std::uint32_t index) const {
        return Kind(index) == JobKind::Fpga ? fpgaDeadline_[index % kMaxDevices] : eepromDeadline_[index % kMaxDevices];
    }
    // The jobs whose workers have ended since the last call, each once.
    std::vector<EndedJob> CollectEnded();
    // Blocks until every worker has ended.
    void WaitForJobs();

    // The state itself, for the frame's views onto it.
    JobBusyFlags& BusyFlags() { return busy_; }
    const JobBusyFlags& BusyFlags() const { return busy_; }
    CJobTable& Entries() { return entries_; }
    const CJobTable& Entries() const { return entries_; }
    std::array<int, kMaxDevices>& EepromDeadlines() { return eepromDeadline_; }
    std::array<int, kMaxDevices>& FpgaDeadlines() { return fpgaDeadline_; }

private:
    bool Launch(std::uint32_t index);
    void Run(std::uint32_t index);

    Platform& platform_;
    EndHook endHook_;
    JobBusyFlags busy_{};
    CJobTable entries_;
    std::array<JobRequest, kMaxDevices> requests_{};
    std::array<int, kMaxDevices> eepromDeadline_{};
    std::array<int, kMaxDevices> fpgaDeadline_{};
    std::array<std::thread, kMaxDevices> workers_;
};

}  // namespace spindle
