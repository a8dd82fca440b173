#include "sim/SimBench.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

#include "device/EzusbRequests.h"
#include "platform/AtomicFile.h"
#include "platform/DebugTrace.h"
#include "platform/Format.h"

namespace spindle::sim {

using Json = nlohmann::ordered_json;

SimBench::SimBench() = default;

SimBench::~SimBench() {
    std::lock_guard guard(lock_);
    // Devices handed out to tests may outlive the bench: cut them loose.
    for (auto& [index, device] : devices_) device->SetPersistenceCallback(nullptr);
    if (holdFd_ >= 0) ::close(holdFd_);  // lets go of every hold
}

namespace {

// A bench's devices are held through byte N of a lock file named after the
// bench file's real path, in the temporary folder (not beside the bench
// file, whose folder may be read-only and is the user's). Locks on an open
// file description are the bench's own: two benches of one process exclude
// each other as two processes do, and a lock goes with the bench that took
// it, also when a process dies.
std::string HoldFilePath(const std::string& benchFile) {
    std::error_code error;
    std::string real = std::filesystem::weakly_canonical(benchFile, error).string();
    if (error) real = benchFile;
    return (std::filesystem::temp_directory_path(error) /
            StrPrintf("spindle-bench-%016llx.holds", static_cast<unsigned long long>(std::hash<std::string>{}(real))))
        .string();
}

bool LockByte(int fd, int index, short type, bool test = false) {
    struct flock region {};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = index;
    region.l_len = 1;
    if (test) return ::fcntl(fd, F_OFD_GETLK, &region) == 0 && region.l_type != F_UNLCK;
    return ::fcntl(fd, F_OFD_SETLK, &region) == 0;
}

}  // namespace

int SimBench::HoldFileLocked() {
    if (!holdFileTried_) {
        holdFileTried_ = true;
        std::string path;
        {
            std::lock_guard save(saveLock_);
            path = filePath_;
        }
        // Without a file nobody else reaches these devices; a hold file that
        // cannot be made leaves devices unheld, as before.
        if (!path.empty()) holdFd_ = ::open(HoldFilePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    }
    return holdFd_;
}

bool SimBench::HoldLocked(int index) {
    for (const auto& [handle, device] : handles_) {
        if (device->Index() == index) return true;  // held already
    }
    const int fd = HoldFileLocked();
    return fd < 0 || LockByte(fd, index, F_WRLCK);
}

void SimBench::ReleaseLocked(int index) {
    for (const auto& [handle, device] : handles_) {
        if (device->Index() == index) return;  // another handle still holds it
    }
    if (holdFd_ >= 0) LockByte(holdFd_, index, F_UNLCK);
}

std::uint64_t SimBench::BenchNowLocked() const { return clock_ != nullptr ? clock_->NowMs() : 0; }

bool SimBench::Presence::Scheduled(std::uint64_t nowMs, std::uint64_t originMs) const {
    const std::uint64_t elapsed = nowMs >= originMs ? nowMs - originMs : 0;
    return (!arrivesAfterMs || elapsed >= *arrivesAfterMs) && (!leavesAfterMs || elapsed < *leavesAfterMs);
}

void SimBench::RefreshPresenceLocked() {
    const std::uint64_t now = BenchNowLocked();
    for (const auto& [index, device] : devices_) {
        Presence& presence = presence_[index];
        if (presence.backAtMs && now >= *presence.backAtMs) presence.backAtMs.reset();
        const bool present = presence.Scheduled(now, originMs_) && !presence.backAtMs;
        if (present == presence.present) continue;
        presence.present = present;
        ++generation_;
        if (present) {
            device->PowerUp();
            continue;
        }
        for (auto it = handles_.begin(); it != handles_.end();) {
            it = it->second == device ? handles_.erase(it) : std::next(it);
        }
        ReleaseLocked(index);
    }
}

std::uint64_t SimBench::BusGeneration() {
    std::lock_guard guard(lock_);
    RefreshPresenceLocked();
    return generation_;
}

bool SimBench::Present(int index) {
    std::lock_guard guard(lock_);
    RefreshPresenceLocked();
    const auto it = presence_.find(index);
    return devices_.count(index) != 0 && it != presence_.end() && it->second.present;
}

void SimBench::SetReconnectMs(std::int64_t ms) {
    std::lock_guard guard(lock_);
    reconnectMs_ = ms;
}

DeviceHandle SimBench::Open(const std::string& path) {
    std::lock_guard guard(lock_);
    if (path.rfind(kDevicePathPrefix, 0) != 0) return kInvalidHandle;
    const auto index = DeviceIndexFromPath(path);
    if (!index || DeviceName(*index) != DeviceNameFromPath(path)) return kInvalidHandle;
    RefreshPresenceLocked();
    const auto it = devices_.find(*index);
    if (it == devices_.end() || !presence_[*index].present) return kInvalidHandle;
    {
        std::lock_guard device(it->second->lock_);
        if (!it->second->TryOpenLocked()) return kInvalidHandle;
    }
    if (!HoldLocked(*index)) return kInvalidHandle;
    const DeviceHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = it->second;
    return handle;
}

bool SimBench::DeviceBusy(const std::string& path) {
    std::lock_guard guard(lock_);
    const auto index = DeviceIndexFromPath(path);
    if (!index || devices_.count(*index) == 0) return false;
    for (const auto& [handle, device] : handles_) {
        if (device->Index() == *index) return false;  // this bench holds it
    }
    const int fd = HoldFileLocked();
    return fd >= 0 && LockByte(fd, *index, F_WRLCK, true);
}

bool SimBench::IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                         std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) {
    if (returned != nullptr) *returned = 0;
    std::shared_ptr<SimDevice> found;
    IDebugTrace* trace = nullptr;
    IClock* clock = nullptr;
    bool pace = false;
    {
        std::lock_guard guard(lock_);
        RefreshPresenceLocked();
        const auto it = handles_.find(handle);
        if (it == handles_.end()) return false;
        // A handle outlives the device it named when that device was removed.
        const auto present = devices_.find(it->second->Index());
        if (present == devices_.end() || present->second != it->second) return false;
        found = it->second;
        trace = trace_;
        clock = clock_;
        pace = pacing_;
    }
    SimDevice& device = *found;
    if (code == ioctl::kVendorOrClassRequest) {
        int delayMs = 0;
        {
            std::lock_guard guard(device.lock_);
            delayMs = device.config_.faults.vendorRequestDelayMs;
        }
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
    bool done = false;
    std::uint64_t waitMs = 0;
    std::string timedOut;
    {
        std::lock_guard guard(device.lock_);
        const std::uint64_t now = clock != nullptr ? clock->NowMs() : 0;
        if (clock != nullptr) {
            device.CatchUpLocked(now);
            device.AdvanceThermalLocked(now);
        }
        done = device.HandleLocked(code, in, inLength, out, outLength, returned);
        device.requestFailed_ = device.requestFailed_ || !done;
        if (clock != nullptr) {
            device.MarkHostTimeLocked(now);
            if (pace) waitMs = device.PacingWaitLocked(clock->NowMs());
        }
        if (!done && trace != nullptr && code == ioctl::kVendorOrClassRequest && !device.vendorLog_.empty() &&
            device.vendorLog_.back().timedOut) {
            const VendorRequestRecord& request = device.vendorLog_.back();
            timedOut = StrPrintf("Ezusb-%d: vendor request 0x%02X (value 0x%04X) timed out: the running program "
                                 "did not complete it",
                                 device.config_.index, request.request, request.value);
        }
    }
    device.SavePendingChange();
    if (!timedOut.empty()) trace->Write(timedOut);
    // The answer comes when the chip's time for it has passed.
    if (waitMs > 0) clock->Sleep(static_cast<std::uint32_t>(std::min<std::uint64_t>(waitMs, 0xFFFFFFFFu)));
    return done;
}

void SimBench::SetDebugTrace(IDebugTrace* trace) {
    std::lock_guard guard(lock_);
    trace_ = trace;
}

void SimBench::SetClock(IClock* clock) {
    std::lock_guard guard(lock_);
    clock_ = clock;
    originMs_ = BenchNowLocked();
    RefreshPresenceLocked();
}

void SimBench::SetPacing(bool pace) {
    std::lock_guard guard(lock_);
    pacing_ = pace;
}

bool SimBench::Pacing() const {
    std::lock_guard guard(lock_);
    return pacing_;
}

void SimBench::Close(DeviceHandle handle) {
    std::shared_ptr<SimDevice> device;
    IClock* clock = nullptr;
    int index = 0;
    {
        std::lock_guard guard(lock_);
        const auto it = handles_.find(handle);
        if (it == handles_.end()) return;
        index = it->second->Index();
        const auto present = devices_.find(index);
        if (present != devices_.end() && present->second == it->second) device = it->second;
        clock = clock_;
        handles_.erase(it);
        ReleaseLocked(index);
    }
    if (!device) return;
    // What the program did while the host waited before closing is seen by
    // whoever looks at the device next.
    if (clock != nullptr) {
        {
            std::lock_guard guard(device->lock_);
            device->CatchUpLocked(clock->NowMs());
        }
        device->SavePendingChange();
    }
    // The job that rewrote the device is done with it: it renumerates.
    std::lock_guard guard(lock_);
    const auto present = devices_.find(index);
    if (present == devices_.end() || present->second != device) return;
    for (const auto& [open, held] : handles_) {
        if (held == device) return;
    }
    {
        std::lock_guard held(device->lock_);
        if (!device->TakeRewrittenLocked()) return;
    }
    Presence& presence = presence_[index];
    if (!presence.present) return;
    const std::int64_t away = presence.reconnectMs.value_or(reconnectMs_);
    presence.backAtMs = away == kForever ? std::numeric_limits<std::uint64_t>::max()
                        : clock_ == nullptr ? 0
                                            : BenchNowLocked() + static_cast<std::uint64_t>(std::max<std::int64_t>(away, 0));
    presence.present = false;
    ++generation_;
    RefreshPresenceLocked();
}

std::shared_ptr<SimDevice> SimBench::Device(int index) const {
    std::lock_guard guard(lock_);
    const auto it = devices_.find(index);
    return it == devices_.end() ? nullptr : it->second;
}

std::vector<int> SimBench::DeviceIndexes() const {
    std::lock_guard guard(lock_);
    std::vector<int> indexes;
    for (const auto& [index, device] : devices_) indexes.push_back(index);
    return indexes;
}

std::shared_ptr<SimDevice> SimBench::AddDevice(const DeviceConfig& config) {
    std::lock_guard guard(lock_);
    std::shared_ptr<SimDevice> device = AddDeviceLocked(config);
    ++generation_;
    return device;
}

std::shared_ptr<SimDevice> SimBench::AddDeviceLocked(const DeviceConfig& config) {
    if (config.index < 0) throw BenchFileError(StrPrintf("device index %d is negative", config.index));
    if (devices_.count(config.index) != 0) {
        throw BenchFileError(StrPrintf("device index %d is used twice", config.index));
    }
    auto device = std::make_shared<SimDevice>(config);
    device->SetPersistenceCallback([this](SimDevice& changed) { DeviceChanged(changed); });
    devices_[config.index] = device;
    Presence& presence = presence_[config.index];
    presence = Presence{config.arrivesAfterMs, config.leavesAfterMs, config.reconnectMs, std::nullopt, true};
    // Its state at the bench's time now is where it starts, not an arrival.
    presence.present = presence.Scheduled(BenchNowLocked(), originMs_);
    return device;
}

bool SimBench::RemoveDevice(int index) {
    std::lock_guard guard(lock_);
    const auto it = devices_.find(index);
    if (it == devices_.end()) return false;
    it->second->SetPersistenceCallback(nullptr);
    devices_.erase(it);
    if (presence_[index].present) ++generation_;
    presence_.erase(index);
    return true;
}

int SimBench::OpenHandleCount() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(handles_.size());
}

int SimBench::OpenHandleCount(int index) const {
    std::lock_guard guard(lock_);
    int count = 0;
    for (const auto& [handle, device] : handles_) count += device->Index() == index ? 1 : 0;
    return count;
}

std::string SimBench::FilePath() const {
    std::lock_guard guard(saveLock_);
    return filePath_;
}

int SimBench::SaveCount() const {
    std::lock_guard guard(saveLock_);
    return saves_;
}

std::string SimBench::LastSaveError() const {
    std::lock_guard guard(saveLock_);
    return lastSaveError_;
}

bool SimBench::Save() {
    std::vector<std::shared_ptr<SimDevice>> devices;
    {
        std::lock_guard guard(lock_);
        for (const auto& [index, device] : devices_) devices.push_back(device);
    }
    std::lock_guard save(saveLock_);
    if (filePath_.empty()) return false;
    for (const auto& device : devices) {
        std::lock_guard guard(device->lock_);
        latest_[device->Index()] = PersistentState(*device);
    }
    return SaveLocked();
}

namespace {
std::array<int, 4> TecState(const TecModel& tec) {
    return {tec.tecOn ? 1 : 0, tec.fanOn ? 1 : 0, tec.setpoint, tec.temperature};
}
}  // namespace

SimBench::PersistentState::PersistentState(const SimDevice& device)
    : index(device.config_.index),
      hasLantern(device.config_.lantern.has_value()),
      hasPsocRegisters(device.config_.psocRegisters.has_value()),
      slots(device.config_.slots),
      eeprom(device.EepromContentsLocked()) {
    if (device.config_.jtag) {
        jtag = device.config_.jtag->state;
        jtagIdcode = device.config_.jtag->device.idcode;
    }
    if (device.config_.lantern) lanternSlots = device.config_.lantern->slots;
    if (device.config_.tec) tec = TecState(*device.config_.tec);
    if (device.config_.psocRegisters) psocRegisters = *device.config_.psocRegisters;
}

namespace {

// Puts each value of `values` (number -> value) that differs from `saved`
// into the object `entry[member]`, rewriting only those entries, so the
// author's choice of key and value form survives for the others and values
// another process saved meanwhile stay. An existing entry may be keyed in
// hex ("0x11"): it is found by its number. `newKey` names a new entry and
// `form` writes a value.
template <typename Number, typename Value, typename NewKey, typename Form>
void PatchNumbered(Json& entry, const char* member, const std::map<Number, Value>& values,
                   const std::map<Number, Value>& saved, NewKey newKey, Form form) {
    for (const auto& [number, value] : values) {
        const auto before = saved.find(number);
        if (before != saved.end() && before->second == value) continue;
        Json& target = entry[member];
        if (!target.is_object()) target = Json::object();
        std::string existingKey;
        for (auto it = target.begin(); it != target.end(); ++it) {
            char* end = nullptr;
            const long parsed = std::strtol(it.key().c_str(), &end, 0);
            if (end != nullptr && *end == '\0' && parsed == static_cast<long>(number)) existingKey = it.key();
        }
        target[existingKey.empty() ? newKey(number) : existingKey] = form(value);
    }
}

void PatchSlots(Json& entry, const char* member, const std::map<int, SlotBytes>& slots,
                const std::map<int, SlotBytes>& saved) {
    PatchNumbered(entry, member, slots, saved, [](int slot) { return std::to_string(slot); }, SlotToJson);
}

void PatchRegisters(Json& entry, const char* member, const std::map<std::uint8_t, std::uint16_t>& registers,
                    const std::map<std::uint8_t, std::uint16_t>& saved) {
    PatchNumbered(
        entry, member, registers, saved, [](std::uint8_t address) { return StrPrintf("0x%02X", address); },
        [](std::uint16_t value) { return StrPrintf("0x%04X", value); });
}

// Holds an exclusive lock on the bench file as it is on disk now. The file
// is replaced by renaming, so a lock taken on a file that was renamed over
// meanwhile is on a file nobody reads any more: it is taken again on the
// new one.
class BenchFileLock {
public:
    explicit BenchFileLock(const std::string& path) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return;  // no file (yet): nothing to merge with
            if (::flock(fd, LOCK_EX) != 0) {
                ::close(fd);
                return;
            }
            struct stat locked {};
            struct stat current {};
            if (::fstat(fd, &locked) == 0 && ::stat(path.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
                locked.st_ino == current.st_ino) {
                fd_ = fd;
                return;
            }
            ::close(fd);
        }
    }
    ~BenchFileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    BenchFileLock(const BenchFileLock&) = delete;
    BenchFileLock& operator=(const BenchFileLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace

void SimBench::DeviceChanged(SimDevice& device) {
    std::lock_guard save(saveLock_);
    if (filePath_.empty()) return;
    {
        std::lock_guard guard(device.lock_);
        latest_[device.config_.index] = PersistentState(device);
    }
    SaveLocked();
}

void SimBench::MarkAllSavedLocked() {
    for (const auto& [index, device] : devices_) {
        std::lock_guard held(device->lock_);
        saved_[index] = PersistentState(*device);
    }
    latest_ = saved_;
}

void SimBench::PatchChangesLocked(Json& document, const PersistentState& now) const {
    if (!document.is_object() || !document.contains("devices") || !document["devices"].is_array()) return;
    static const PersistentState kNothingSaved;
    const auto saved = saved_.find(now.index);
    const PersistentState& before = saved == saved_.end() ? kNothingSaved : saved->second;
    for (Json& entry : document["devices"]) {
        if (!entry.is_object() || !entry.contains("index")) continue;
        try {
            if (DeviceConfigFromJson(entry).index != now.index) continue;
        } catch (const BenchFileError&) {
            continue;
        }
        PatchSlots(entry, "slots", now.slots, before.slots);
        if (now.hasLantern) PatchSlots(entry["lantern"], "slots", now.lanternSlots, before.lanternSlots);
        if (now.eeprom != before.eeprom) {
            Json& member = entry["eeprom"];
            if (!member.is_object()) member = Json::object();
            member["contents"] = EepromContentsText(now.eeprom);
        }
        if (now.tec && now.tec != before.tec) {
            Json& member = entry["tec"];
            if (!member.is_object()) member = Json::object();
            const std::array<int, 4>& tec = *now.tec;
            member["tecOn"] = tec[0] != 0;
            member["fanOn"] = tec[1] != 0;
            member["setpoint"] = tec[2];
            member["temperature"] = tec[3];
        }
        if (now.hasPsocRegisters) PatchRegisters(entry, "psocRegisters", now.psocRegisters, before.psocRegisters);
        if (now.jtag && now.jtag != before.jtag) {
            Json& member = entry["jtag"];
            if (!member.is_object()) member = Json::object();
            if (!member.contains("idcode")) member["idcode"] = StrPrintf("0x%08X", now.jtagIdcode);
            member["configured"] = now.jtag->configured;
            member["bits"] = now.jtag->bits;
            member["crc"] = StrPrintf("0x%08X", now.jtag->crc);
        }
        break;
    }
}

bool SimBench::SaveLocked() {
    if (filePath_.empty()) return false;
    const std::string target = FollowLinks(filePath_);
    const BenchFileLock fileLock(target);

    // What is on disk now: another process may have saved since this bench
    // was loaded.
    Json onDisk = document_;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        try {
            onDisk = ReadBenchDocument(target);
        } catch (const BenchFileError& error) {
            lastSaveError_ = StrPrintf("%s was changed by another program and cannot be read now (%s); "
                                       "the change was not saved",
                                       filePath_.c_str(), error.what());
            return false;
        }
    }
    for (const auto& [index, state] : latest_) PatchChangesLocked(onDisk, state);

    // Saved after every change a device makes (each slot, each EEPROM page,
    // each JTAG transfer): whole on every save, not flushed to disk.
    const FileWriteResult written = ReplaceFileAtomically(filePath_, onDisk.dump(2) + "\n", FileFlush::WholeOnly);
    if (!written.Succeeded()) {
        lastSaveError_ = written.error;
        return false;
    }
    document_ = std::move(onDisk);
    saved_ = latest_;
    ++saves_;
    lastSaveError_.clear();
    return true;
}

}  // namespace spindle::sim
