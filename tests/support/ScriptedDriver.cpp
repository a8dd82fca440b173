#include "support/ScriptedDriver.h"

#include <algorithm>
#include <cstring>

#include "device/EzusbRequests.h"

namespace spindle::test {

std::uint32_t ScriptedDriver::Request::Pipe() const {
    if ((code != ioctl::kBulkWrite && code != ioctl::kBulkRead) || in.size() < 4) return 0;
    return DecodeLe32(in.data());
}

ScriptedDriver::ScriptedDriver() {
    deviceDescriptor[0] = 18;
    deviceDescriptor[1] = 1;
}

DeviceHandle ScriptedDriver::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    openedPaths.push_back(path);
    if (unopenablePaths.count(path) != 0) return kInvalidHandle;
    return nextHandle_++;
}

void ScriptedDriver::Close(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    closedHandles.push_back(handle);
}

bool ScriptedDriver::IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in,
                               std::uint32_t inLength, std::uint8_t* out, std::uint32_t outLength,
                               std::uint32_t* returned) {
    std::lock_guard lock(mutex_);
    Request request;
    request.handle = handle;
    request.code = code;
    if (in != nullptr) request.in.assign(in, in + inLength);
    request.outLength = outLength;
    const bool hostToDevice = code == ioctl::kBulkWrite || code == ioctl::kAnchorDownload ||
                              code == ioctl::kVendorRequest ||
                              (code == ioctl::kVendorOrClassRequest && inLength >= 1 && in[0] == 0);
    if (hostToDevice && out != nullptr) request.data.assign(out, out + outLength);

    bool fail = false;
    if (auto it = failNext_.find(code); it != failNext_.end() && it->second > 0) {
        --it->second;
        fail = true;
    }
    if (!fail && failWhen) fail = failWhen(request);

    std::uint32_t delivered = 0;
    if (!fail) {
        if (code == ioctl::kBulkRead) {
            if (!replies_.empty()) {
                const auto reply = std::move(replies_.front());
                replies_.pop_front();
                delivered = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), outLength));
                if (delivered > 0) std::memcpy(out, reply.data(), delivered);
                request.data.assign(reply.begin(), reply.begin() + delivered);
            }
        } else if (code == ioctl::kGetDeviceDescriptor) {
            delivered = std::min<std::uint32_t>(outLength, deviceDescriptor.size());
            std::memcpy(out, deviceDescriptor.data(), delivered);
            request.data.assign(out, out + delivered);
        } else if (code == ioctl::kGetStringDescriptor) {
            const std::uint8_t index = inLength >= 1 ? in[0] : 0;
            const auto raw = rawStringDescriptors.find(index);
            const auto it = stringDescriptors.find(index);
            std::vector<std::uint8_t> bytes;
            if (raw != rawStringDescriptors.end()) {
                bytes = raw->second;
            } else if (it != stringDescriptors.end()) {
                bytes.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(2 + 2 * it->second.size(), 0xFF)));
                bytes.push_back(3);
                for (char c : it->second) {
                    bytes.push_back(static_cast<std::uint8_t>(c));
                    bytes.push_back(0);
                }
            }
            if (bytes.empty()) {
                fail = true;
            } else {
                delivered = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), outLength));
                std::memcpy(out, bytes.data(), delivered);
                request.data.assign(bytes.begin(), bytes.begin() + delivered);
            }
        } else {
            delivered = outLength;
        }
    }
    request.succeeded = !fail;
    if (returned != nullptr) *returned = fail ? 0 : delivered;
    requests_.push_back(std::move(request));
    return !fail;
}

void ScriptedDriver::QueueBulkReply(std::vector<std::uint8_t> reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

void ScriptedDriver::FailNext(std::uint32_t code, int count) {
    std::lock_guard lock(mutex_);
    failNext_[code] += count;
}

void ScriptedDriver::SetDeviceIds(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t productStringIndex) {
    deviceDescriptor[8] = static_cast<std::uint8_t>(vendorId & 0xFF);
    deviceDescriptor[9] = static_cast<std::uint8_t>(vendorId >> 8);
    deviceDescriptor[10] = static_cast<std::uint8_t>(productId & 0xFF);
    deviceDescriptor[11] = static_cast<std::uint8_t>(productId >> 8);
    deviceDescriptor[15] = productStringIndex;
}

std::vector<ScriptedDriver::Request> ScriptedDriver::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::vector<std::uint8_t>> ScriptedDriver::BulkWrites() const {
    std::lock_guard lock(mutex_);
    std::vector<std::vector<std::uint8_t>> writes;
    for (const auto& r : requests_)
        if (r.IsBulkWrite()) writes.push_back(r.data);
    return writes;
}

std::size_t ScriptedDriver::BulkReadCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(requests_.begin(), requests_.end(), [](const Request& r) { return r.IsBulkRead(); }));
}

std::vector<std::uint32_t> ScriptedDriver::BulkReadLengths() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> lengths;
    for (const auto& r : requests_)
        if (r.IsBulkRead()) lengths.push_back(r.outLength);
    return lengths;
}

std::size_t ScriptedDriver::PendingReplies() const {
    std::lock_guard lock(mutex_);
    return replies_.size();
}

void ScriptedDriver::Clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    openedPaths.clear();
    closedHandles.clear();
}

}  // namespace spindle::test
