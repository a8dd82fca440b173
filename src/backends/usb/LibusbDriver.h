#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"

struct libusb_context;
struct libusb_device;

namespace spindle {
class IDebugTrace;
}

namespace spindle::usb {

// The EZ-USB driver port over libusb-1.0: real devices without the kernel
// driver. UsbMapping.h states how paths and requests map onto USB.
//
// Several handles to one device may be open at once (a programming job
// keeps one while each of its operations opens another): they share one
// libusb handle and one claim of interface 0, released when the last of
// them closes. Handles are opaque numbers, never 0 or all ones.
//
// Thread-safe. A lock guards the handle table; transfers, and libusb's
// opening and closing of a device, run outside it, so workers on different
// devices (or on one device) do not wait for each other. Failures are never
// shown: the reason goes to the debug trace.
class CLibusbDriver final : public IEzusbDriver {
public:
    // `trace` (may be null) receives the reason of every failure; it must
    // outlive every call (the destructor writes nothing to it).
    explicit CLibusbDriver(IDebugTrace* trace = nullptr);
    ~CLibusbDriver() override;

    CLibusbDriver(const CLibusbDriver&) = delete;
    CLibusbDriver& operator=(const CLibusbDriver&) = delete;

    // False when libusb could not start; every Open then fails.
    bool Ready() const { return context_ != nullptr; }
    // Why libusb could not start; empty when Ready().
    const std::string& InitError() const { return initError_; }

    DeviceHandle Open(const std::string& path) override;
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override;
    void Close(DeviceHandle handle) override;
    std::string TakeAccessProblem() override;
    // Counts arrivals and departures of EZ-USB devices: from libusb's hotplug
    // callbacks, delivered by a non-blocking round of event handling on each
    // call; without hotplug support, by comparing the devices listed at most
    // once per kPollInterval.
    std::uint64_t BusGeneration() override;
    // The bus and port path ("1-2.3"): a device replugged into the same port
    // or renumerated there has the same place, whatever index it gets.
    std::string PlaceOf(int index) override;
    static constexpr std::chrono::seconds kPollInterval{1};

    // Handles open now (for tests and diagnostics).
    int OpenHandleCount() const;
    // How many times the buses were listed since the driver started.
    int EnumerationCount() const;

    // How long one listing of the buses serves opens of rising indexes: a
    // scan opens Ezusb-0 to Ezusb-127 in order, and lists the buses once.
    // Opening an index not above the last one opened lists them again.
    static constexpr std::chrono::seconds kListingLifetime{10};

private:
    struct SharedDevice;
    class Use;

    struct Listing;

    static constexpr std::size_t kNoDevice = static_cast<std::size_t>(-1);
    const Listing* ListingForLocked(int index);
    void KeepOpenNumbersLocked(Listing& listing) const;
    // Both let go of the lock while libusb opens or closes the device.
    std::shared_ptr<SharedDevice> OpenDeviceLocked(std::unique_lock<std::mutex>& guard, int index,
                                                   const std::string& path);
    void ReleaseLocked(std::unique_lock<std::mutex>& guard, const std::shared_ptr<SharedDevice>& device);
    bool ClaimLocked(SharedDevice& device);
    void Trace(const std::string& text);

    bool DeviceDescriptor(SharedDevice& device, std::uint8_t* out, std::uint32_t outLength,
                          std::uint32_t* returned);
    bool Control(SharedDevice& device, const char* what, std::uint8_t requestType, std::uint8_t request,
                 std::uint16_t value, std::uint16_t index, std::uint8_t* data, std::uint16_t length,
                 std::uint32_t* returned, bool exact = true);
    bool Bulk(const std::shared_ptr<SharedDevice>& device, bool deviceToHost, const std::uint8_t* in,
              std::uint32_t inLength, std::uint8_t* data, std::uint32_t length, std::uint32_t* returned);

    IDebugTrace* trace_;
    libusb_context* context_ = nullptr;
    std::string initError_;

    mutable std::mutex lock_;
    std::map<DeviceHandle, std::shared_ptr<SharedDevice>> handles_;
    // Open devices by bus number and port path, shared between handles.
    std::map<std::string, std::shared_ptr<SharedDevice>> devices_;
    // Devices being opened or closed outside the lock, by key; settled_
    // tells when one is done.
    std::set<std::string> changing_;
    std::condition_variable settled_;
    DeviceHandle nextHandle_ = 1;

    std::unique_ptr<Listing> listing_;
    int lastIndexOpened_ = -1;
    int enumerations_ = 0;
    // Devices refused for lack of permission since TakeAccessProblem, by
    // their place on the bus ("1-2.3"), with the device name.
    std::map<std::string, std::string> accessDenied_;

    bool hotplug_ = false;  // callbacks registered
    int hotplugHandle_ = 0;
    std::atomic<std::uint64_t> generation_{0};
    std::mutex pollLock_;  // what follows: the listings compared without hotplug
    bool polled_ = false;
    std::chrono::steady_clock::time_point lastPoll_;
    std::vector<std::string> polledKeys_;
};

}  // namespace spindle::usb
