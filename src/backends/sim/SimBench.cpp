#include "sim/SimBench.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/EzusbRequests.h"
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
    std::lock_guard guard(*lock_);
    if (returned != nullptr) *returned = 0;
    const auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    SimDevice& device = *it->second;
    // A handle outlives the device it named when that device was removed.
    const auto present = devices_.find(device.config_.index);
    if (present == devices_.end() || present->second.get() != &device) return false;
    return device.HandleLocked(code, in, inLength, out, outLength, returned);
}

void SimBench::Close(DeviceHandle handle) {
    std::lock_guard guard(*lock_);
    handles_.erase(handle);
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
    for (auto& [index, device] : devices_) PatchDocumentLocked(*device);
    return SaveLocked();
}

namespace {

// Puts each value into `target` (an object of slot number -> slot form),
// rewriting only the entries whose bytes changed, so the author's choice of
// text or hex form survives for the others.
void PatchSlots(Json& target, const std::map<int, SlotBytes>& slots) {
    if (!target.is_object()) target = Json::object();
    for (const auto& [slot, bytes] : slots) {
        const std::string key = std::to_string(slot);
        bool same = false;
        // An existing entry may be keyed in hex ("0x11"); find it by value.
        std::string existingKey;
        for (auto it = target.begin(); it != target.end(); ++it) {
            char* end = nullptr;
            const long number = std::strtol(it.key().c_str(), &end, 0);
            if (end != nullptr && *end == '\0' && number == slot) existingKey = it.key();
        }
        if (!existingKey.empty()) {
            try {
                same = SlotFromJson(target[existingKey]) == bytes;
            } catch (const BenchFileError&) {
                same = false;
            }
            if (!same) target[existingKey] = SlotToJson(bytes);
        } else {
            target[key] = SlotToJson(bytes);
        }
    }
}

}  // namespace

void SimBench::DeviceChangedLocked(SimDevice& device) {
    PatchDocumentLocked(device);
    if (!filePath_.empty()) SaveLocked();
}

void SimBench::PatchDocumentLocked(SimDevice& device) {
    if (!document_.is_object() || !document_.contains("devices") || !document_["devices"].is_array()) return;
    for (Json& entry : document_["devices"]) {
        if (!entry.is_object() || !entry.contains("index")) continue;
        try {
            if (DeviceConfigFromJson(entry).index != device.config_.index) continue;
        } catch (const BenchFileError&) {
            continue;
        }
        PatchSlots(entry["slots"], device.config_.slots);
        if (device.config_.lantern) PatchSlots(entry["lantern"]["slots"], device.config_.lantern->slots);
        break;
    }
}

bool SimBench::SaveLocked() {
    if (filePath_.empty()) return false;
    const std::string text = document_.dump(2) + "\n";

    // Write a temporary file in the same folder, then rename it over the
    // bench file, so a reader sees either the old or the new file whole.
    std::string folder = ".";
    std::string name = filePath_;
    const auto slash = filePath_.find_last_of('/');
    if (slash != std::string::npos) {
        folder = filePath_.substr(0, slash == 0 ? 1 : slash);
        name = filePath_.substr(slash + 1);
    }
    std::string pattern = folder + "/." + name + ".XXXXXX.tmp";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemps(buffer.data(), 4);
    if (fd < 0) {
        lastSaveError_ = StrPrintf("cannot create a temporary file beside %s: %s", filePath_.c_str(),
                                   std::strerror(errno));
        return false;
    }
    const std::string temporary(buffer.data());
    struct stat original {};
    if (::stat(filePath_.c_str(), &original) == 0) ::fchmod(fd, original.st_mode & 07777);

    bool ok = true;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
        } else {
            written += static_cast<std::size_t>(n);
        }
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temporary.c_str(), filePath_.c_str()) != 0) ok = false;
    if (!ok) {
        lastSaveError_ = StrPrintf("cannot save %s: %s", filePath_.c_str(), std::strerror(errno));
        ::unlink(temporary.c_str());
        return false;
    }
    ++saves_;
    lastSaveError_.clear();
    return true;
}

}  // namespace spindle::sim
