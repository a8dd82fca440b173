#include "sim/SimBench.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "device/EzusbRequests.h"
#include "platform/AtomicFile.h"
#include "platform/DebugTrace.h"
#include "platform/Format.h"

namespace spindle::sim {

using Json = nlohmann::ordered_json;

SimBench::SimBench() : lock_(std::make_shared<std::mutex>()) {}

SimBench::~SimBench() {
    std::lock_guard guard(*lock_);
    // Devices handed out to tests may outlive the bench: cut them loose.
    for (auto& [index, device] : devices_) device->SetPersistenceCallbackLocked(nullptr);
}

DeviceHandle SimBench::Open(const std::string& path) {
    std::lock_guard guard(*lock_);
    if (path.rfind(kDevicePathPrefix, 0) != 0) return kInvalidHandle;
    const auto index = DeviceIndexFromPath(path);
    if (!index || DeviceName(*index) != DeviceNameFromPath(path)) return kInvalidHandle;
    const auto it = devices_.find(*index);
    if (it == devices_.end() || !it->second->TryOpenLocked()) return kInvalidHandle;
    const DeviceHandle handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = it->second;
    return handle;
}

bool SimBench::IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                         std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) {
    if (code == ioctl::kVendorOrClassRequest) {
        int delayMs = 0;
        {
            std::lock_guard guard(*lock_);
            const auto it = handles_.find(handle);
            if (it != handles_.end()) delayMs = it->second->config_.faults.vendorRequestDelayMs;
        }
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
    std::lock_guard guard(*lock_);
    if (returned != nullptr) *returned = 0;
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    SimDevice& device = *it->second;
    // A handle outlives the device it named when that device was removed.
    const auto present = devices_.find(device.config_.index);
    if (present == devices_.end() || present->second.get() != &device) return false;
    const std::uint64_t now = clock_ != nullptr ? clock_->NowMs() : 0;
    if (clock_ != nullptr) {
        device.CatchUpLocked(now);
        device.AdvanceThermalLocked(now);
    }
    const bool done = device.HandleLocked(code, in, inLength, out, outLength, returned);
    if (clock_ != nullptr) device.MarkHostTimeLocked(now);
    if (!done && trace_ != nullptr && code == ioctl::kVendorOrClassRequest && !device.vendorLog_.empty() &&
        device.vendorLog_.back().timedOut) {
        const VendorRequestRecord& request = device.vendorLog_.back();
        trace_->Write(StrPrintf("Ezusb-%d: vendor request 0x%02X (value 0x%04X) timed out: the running program "
                                "did not complete it",
                                device.config_.index, request.request, request.value));
    }
    return done;
}

void SimBench::SetDebugTrace(IDebugTrace* trace) {
    std::lock_guard guard(*lock_);
    trace_ = trace;
}

void SimBench::SetClock(const IClock* clock) {
    std::lock_guard guard(*lock_);
    clock_ = clock;
}

void SimBench::Close(DeviceHandle handle) {
    std::lock_guard guard(*lock_);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return;
    // What the program did while the host waited before closing is seen by
    // whoever looks at the device next.
    SimDevice& device = *it->second;
    const auto present = devices_.find(device.config_.index);
    if (clock_ != nullptr && present != devices_.end() && present->second.get() == &device) {
        device.CatchUpLocked(clock_->NowMs());
    }
    handles_.erase(it);
}

std::shared_ptr<SimDevice> SimBench::Device(int index) const {
    std::lock_guard guard(*lock_);
    const auto it = devices_.find(index);
    return it == devices_.end() ? nullptr : it->second;
}

std::vector<int> SimBench::DeviceIndexes() const {
    std::lock_guard guard(*lock_);
    std::vector<int> indexes;
    for (const auto& [index, device] : devices_) indexes.push_back(index);
    return indexes;
}

std::shared_ptr<SimDevice> SimBench::AddDevice(const DeviceConfig& config) {
    std::lock_guard guard(*lock_);
    return AddDeviceLocked(config);
}

std::shared_ptr<SimDevice> SimBench::AddDeviceLocked(const DeviceConfig& config) {
    if (config.index < 0) throw BenchFileError(StrPrintf("device index %d is negative", config.index));
    if (devices_.count(config.index) != 0) {
        throw BenchFileError(StrPrintf("device index %d is used twice", config.index));
    }
    auto device = std::make_shared<SimDevice>(config, lock_);
    device->SetPersistenceCallbackLocked([this](SimDevice& changed) { DeviceChangedLocked(changed); });
    devices_[config.index] = device;
    return device;
}

bool SimBench::RemoveDevice(int index) {
    std::lock_guard guard(*lock_);
    const auto it = devices_.find(index);
    if (it == devices_.end()) return false;
    it->second->SetPersistenceCallbackLocked(nullptr);
    devices_.erase(it);
    return true;
}

int SimBench::OpenHandleCount() const {
    std::lock_guard guard(*lock_);
    return static_cast<int>(handles_.size());
}

int SimBench::OpenHandleCount(int index) const {
    std::lock_guard guard(*lock_);
    int count = 0;
    for (const auto& [handle, device] : handles_) count += device->config_.index == index ? 1 : 0;
    return count;
}

std::string SimBench::FilePath() const {
    std::lock_guard guard(*lock_);
    return filePath_;
}

int SimBench::SaveCount() const {
    std::lock_guard guard(*lock_);
    return saves_;
}

std::string SimBench::LastSaveError() const {
    std::lock_guard guard(*lock_);
    return lastSaveError_;
}

bool SimBench::Save() {
    std::lock_guard guard(*lock_);
    if (filePath_.empty()) return false;
    return SaveLocked();
}

namespace {
std::array<int, 4> TecState(const TecModel& tec) {
    return {tec.tecOn ? 1 : 0, tec.fanOn ? 1 : 0, tec.setpoint, tec.temperature};
}
}  // namespace

SimBench::PersistentState::PersistentState(const SimDevice& device)
    : slots(device.config_.slots), eeprom(device.EepromContentsLocked()) {
    if (device.config_.jtag) jtag = device.config_.jtag->state;
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

void SimBench::DeviceChangedLocked(SimDevice& /*device*/) {
    if (!filePath_.empty()) SaveLocked();
}

void SimBench::PatchChangesLocked(Json& document, const SimDevice& device) const {
    if (!document.is_object() || !document.contains("devices") || !document["devices"].is_array()) return;
    static const PersistentState kNothingSaved;
    const auto saved = saved_.find(device.config_.index);
    const PersistentState& before = saved == saved_.end() ? kNothingSaved : saved->second;
    for (Json& entry : document["devices"]) {
        if (!entry.is_object() || !entry.contains("index")) continue;
        try {
            if (DeviceConfigFromJson(entry).index != device.config_.index) continue;
        } catch (const BenchFileError&) {
            continue;
        }
        PatchSlots(entry, "slots", device.config_.slots, before.slots);
        if (device.config_.lantern) {
            PatchSlots(entry["lantern"], "slots", device.config_.lantern->slots, before.lanternSlots);
        }
        const std::vector<std::uint8_t> eeprom = device.EepromContentsLocked();
        if (eeprom != before.eeprom) {
            Json& member = entry["eeprom"];
            if (!member.is_object()) member = Json::object();
            member["contents"] = EepromContentsText(eeprom);
        }
        if (device.config_.tec && TecState(*device.config_.tec) != before.tec) {
            Json& member = entry["tec"];
            if (!member.is_object()) member = Json::object();
            const TecModel& tec = *device.config_.tec;
            member["tecOn"] = tec.tecOn;
            member["fanOn"] = tec.fanOn;
            member["setpoint"] = tec.setpoint;
            member["temperature"] = tec.temperature;
        }
        if (device.config_.psocRegisters) {
            PatchRegisters(entry, "psocRegisters", *device.config_.psocRegisters, before.psocRegisters);
        }
        if (device.config_.jtag && device.config_.jtag->state != before.jtag) {
            Json& member = entry["jtag"];
            if (!member.is_object()) member = Json::object();
            const JtagBenchConfig& chain = *device.config_.jtag;
            if (!member.contains("idcode")) member["idcode"] = StrPrintf("0x%08X", chain.device.idcode);
            member["configured"] = chain.state.configured;
            member["bits"] = chain.state.bits;
            member["crc"] = StrPrintf("0x%08X", chain.state.crc);
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
    for (const auto& [index, device] : devices_) PatchChangesLocked(onDisk, *device);

    // Saved after every change a device makes (each slot, each EEPROM page,
    // each JTAG transfer): whole on every save, not flushed to disk.
    const FileWriteResult written = ReplaceFileAtomically(filePath_, onDisk.dump(2) + "\n", FileFlush::WholeOnly);
    if (!written.Succeeded()) {
        lastSaveError_ = written.error;
        return false;
    }
    document_ = std::move(onDisk);
    for (const auto& [index, device] : devices_) saved_[index] = PersistentState(*device);
    ++saves_;
    lastSaveError_.clear();
    return true;
}

}  // namespace spindle::sim
