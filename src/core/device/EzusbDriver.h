#pragma once
#include <cstdint>
#include <string>

namespace spindle {

// A handle to an open device path. Both 0 and the all-ones value mean that
// no device is open; the calls of EzusbDevice.h treat each as documented.
using DeviceHandle = std::uintptr_t;
inline constexpr DeviceHandle kNullHandle = 0;
inline constexpr DeviceHandle kInvalidHandle = ~DeviceHandle{0};

// The seven I/O control requests of the EZ-USB generic driver.
namespace ioctl {
inline constexpr std::uint32_t kGetDeviceDescriptor = 0x222004;  // out: 18 bytes
inline constexpr std::uint32_t kVendorRequest = 0x222014;        // in: ResetRequestBlock (10 bytes)
inline constexpr std::uint32_t kGetStringDescriptor = 0x222044;  // in: 4 bytes, out: 400 bytes
inline constexpr std::uint32_t kBulkRead = 0x22204E;             // in: pipe (4 bytes), out: data
inline constexpr std::uint32_t kBulkWrite = 0x222051;            // in: pipe (4 bytes), out: data
inline constexpr std::uint32_t kVendorOrClassRequest = 0x222059; // in: VendorRequestControl, out: data stage
inline constexpr std::uint32_t kAnchorDownload = 0x22206D;       // in: 8051 address (2 bytes), out: bytes
}  // namespace ioctl

// The driver port: what the EZ-USB kernel driver offers, and what every back
// end (simulated bench, libusb, the real driver) implements.
//
// As with the kernel driver, the caller's data buffer is always passed as the
// output buffer, whichever way the data flows: for host-to-device requests the
// back end reads `out`, for device-to-host requests it writes it.
class IEzusbDriver {
public:
    virtual ~IEzusbDriver() = default;

    // Opens a device path such as "\\.\Ezusb-3" (write access, shared).
    // Returns kInvalidHandle on failure. One device may be open several
    // times at once.
    virtual DeviceHandle Open(const std::string& path) = 0;

    // One synchronous request. Returns true when the driver reports success;
    // `returned` (may be null) receives the byte count the driver reports.
    virtual bool IoControl(DeviceHandle handle, std::uint32_t code,
                           const std::uint8_t* in, std::uint32_t inLength,
                           std::uint8_t* out, std::uint32_t outLength,
                           std::uint32_t* returned) = 0;

    // Closes a handle from Open. Never called with 0 or kInvalidHandle.
    virtual void Close(DeviceHandle handle) = 0;

    // Devices that exist but that Open could not open for lack of
    // permission, since the last call: a plain explanation for the operator
    // of what to do about it, or empty. A device scan asks once at its end,
    // so the operator is told once per scan. Back ends without access
    // rights (the simulated bench) never have anything to say.
    virtual std::string TakeAccessProblem() { return {}; }

    // Asked after an Open of `path` failed: true when the device is there
    // but another program holds it (its job has it open), so the failure is
    // "busy" rather than "gone".
    virtual bool DeviceBusy(const std::string& path) {
        (void)path;
        return false;
    }

    // A number that changes whenever a device arrives or leaves the bus.
    // Front ends and jobs read it on their ticks and scan again when it
    // moved; a back end that cannot tell keeps it at 0.
    virtual std::uint64_t BusGeneration() { return 0; }

    // Where device `index` sits, as a key that stays the same when the
    // device leaves and comes back at the same place (replugged into the
    // same port, or renumerated after its firmware changed) even if it
    // comes back under another index. The default is the index itself: a
    // back end whose devices keep their index (the simulated bench) needs
    // nothing more. Empty when there is no device at `index`.
    virtual std::string PlaceOf(int index) { return "Ezusb-" + std::to_string(index); }
};

// "\\.\" followed by the device name.
inline constexpr const char* kDevicePathPrefix = "\\\\.\\";

}  // namespace spindle
