#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"

namespace spindle::test {

// A driver port that records every request and answers from a script.
//
// - Bulk reads (0x22204E) are answered, in order, from a queue of replies;
//   a reply shorter than the read leaves the rest of the caller's buffer as
//   it was, a longer one is cut to the read length. With the queue empty a
//   read succeeds and delivers nothing.
// - Bulk writes, vendor requests and anchor downloads succeed and are only
//   recorded (with the bytes the host sent).
// - The device descriptor and string descriptors come from `deviceDescriptor`
//   and `stringDescriptors` (or `rawStringDescriptors`); a missing string
//   index fails.
// - Any request can be made to fail: the next N of one kind (FailNext), or
//   by a predicate.
// - Open succeeds with a fresh handle for every path unless the path is in
//   `unopenablePaths`.
//
// Thread-safe, so programming workers may share one.
class ScriptedDriver : public IEzusbDriver {
public:
    struct Request {
        DeviceHandle handle = 0;
        std::uint32_t code = 0;
        std::vector<std::uint8_t> in;   // the input block (pipe number, request block...)
        std::vector<std::uint8_t> data; // host-to-device: the bytes sent; device-to-host: the bytes delivered
        std::uint32_t outLength = 0;
        bool succeeded = true;

        bool IsBulkWrite() const { return code == ioctl::kBulkWrite; }
        bool IsBulkRead() const { return code == ioctl::kBulkRead; }
        // The pipe of a bulk request (0 for any other request).
        std::uint32_t Pipe() const;
    };

    ScriptedDriver();

    DeviceHandle Open(const std::string& path) override;
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override;
    void Close(DeviceHandle handle) override;

    // --- Script ------------------------------------------------------------
    void QueueBulkReply(std::vector<std::uint8_t> reply);
    // Fails the next `count` requests with this code.
    void FailNext(std::uint32_t code, int count = 1);
    // Fails every request for which this returns true (checked after the
    // other two rules).
    std::function<bool(const Request&)> failWhen;

    std::array<std::uint8_t, 18> deviceDescriptor{};
    void SetDeviceIds(std::uint16_t vendorId, std::uint16_t productId, std::uint8_t productStringIndex = 0);
    // Index -> text, delivered as a USB string descriptor (UTF-16LE).
    std::map<std::uint8_t, std::string> stringDescriptors;
    // Index -> the descriptor's bytes exactly (for a bLength that lies);
    // taken before stringDescriptors.
    std::map<std::uint8_t, std::vector<std::uint8_t>> rawStringDescriptors;
    std::set<std::string> unopenablePaths;

    // --- Record ------------------------------------------------------------
    std::vector<Request> Requests() const;
    // The payloads of successful and failed bulk writes, in order.
    std::vector<std::vector<std::uint8_t>> BulkWrites() const;
    std::size_t BulkReadCount() const;
    std::vector<std::uint32_t> BulkReadLengths() const;
    std::vector<std::string> openedPaths;
    std::vector<DeviceHandle> closedHandles;
    std::size_t PendingReplies() const;
    // Forgets the record (queued replies, FailNext and failWhen stay).
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::deque<std::vector<std::uint8_t>> replies_;
    std::map<std::uint32_t, int> failNext_;
    DeviceHandle nextHandle_ = 0x100;
};

}  // namespace spindle::test
