#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"
#include "device/IntelHex.h"
#include "device/LoaderRecord.h"
#include "platform/Outcome.h"
#include "platform/Platform.h"

namespace spindle {

// Operation codes of AnchorOperation; only these four are executed.
namespace anchorop {
inline constexpr int kVendorRequest = 3;
inline constexpr int kAnchorDownload = 5;
inline constexpr int kResetHold = 10;
inline constexpr int kResetRelease = 11;
}  // namespace anchorop

// The description of one operation, made fresh for each and discarded after.
struct AnchorOperation {
    int code = 0;
    std::string deviceName;
    std::uint8_t* data = nullptr;
    std::uint32_t dataLength = 0;
    std::uint32_t downloadAddress = 0;
    std::uint8_t requestNumber = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint8_t direction = 0;
    std::uint16_t cpucsAddress = 0;
};

// What DownloadFile came to: `result` 1 when a file was opened and
// downloaded (even when some of its requests failed, which the outcome
// names), 0 when nothing was sent.
struct DownloadResult {
    int result = 0;
    Outcome outcome;
    std::uint32_t bytes = 0;      // bytes sent (as far as the device took them)
    std::uint32_t segments = 0;   // Intel HEX segments; 0 for a BIX file
    std::uint32_t highBytes = 0;  // of them, from 0x2000 up (through the loader)
    std::uint32_t cutBytes = 0;   // BIX bytes past the 8192 that were sent
};

// The device control object: names one device and runs Vendor Request,
// Anchor Download and 8051 Reset Hold/Release on it. Each operation opens the
// device by name, makes exactly one driver request and closes it again.
// Callers prepare an operation by setting the public fields first.
class CAnchor {
public:
    explicit CAnchor(Platform& platform);
    virtual ~CAnchor();

    CAnchor(const CAnchor&) = delete;
    CAnchor& operator=(const CAnchor&) = delete;

    // Opens the device path for `name`. On success the name becomes the
    // object's device name; on failure handle is all ones, the name stays.
    bool OpenByName(DeviceHandle& handle, const std::string& name);

    // True when the most recent OpenByName failed. Operations refuse to run
    // then, because the stored name still names another device.
    bool LastOpenFailed() const { return lastOpenFailed_; }

    // Builds an AnchorOperation from the fields below and executes it. A
    // failure shows its box as it happens; the outcome names the failed
    // operation and lists the boxes shown, so callers can stop on it.
    Outcome RunOperation(int code);

    // Loads an 8051 program from an Intel HEX file (".hex" anywhere in the
    // lower-cased path) or a BIX file (".bix": its first 8192 bytes at 0):
    // memory from 0x2000 up through vendor request 0xA3 served by
    // `highMemoryLoader` (downloaded first, once), then the memory below
    // 0x2000 by anchor download with the 8051 held in reset, then the
    // release, which starts the program. A file that cannot be opened, has
    // neither extension, or is refused by the reader sends nothing (0).
    // `chipMode` selects the CPUCS register, as for every reset.
    DownloadResult DownloadFile(const std::string& path);

    // Holds the 8051 in reset, anchor-downloads the image's records (in table
    // order, consecutive ones joined into chunks of up to 4096 bytes) and
    // releases the 8051, so that the loader runs.
    Outcome DownloadLoaderImage(const LoaderRecord* loader);

    // Reads `length` bytes of the 8051's RAM from `address` with the chip's
    // own request 0xA0 in the device-to-host direction, which the USB core
    // answers whatever the program does. Empty when the request failed or
    // moved fewer bytes.
    std::vector<std::uint8_t> UploadRam(std::uint16_t address, std::uint32_t length);

    // The program DownloadFile uses to reach memory from 0x2000 up (the FX2
    // EEPROM loader, whatever chipMode says).
    const LoaderRecord* highMemoryLoader = nullptr;
    // The last Intel HEX file read.
    IntelHexImage hexImage;

    std::string deviceName = "Ezusb-0";
    std::array<std::uint8_t, 8192> downloadBuffer{};
    std::array<std::uint8_t, 4096> requestBuffer{};
    std::uint32_t requestValue = 0;
    std::uint16_t requestNumber = 0xA2;
    std::uint32_t requestLength = 16;
    std::uint16_t requestDirection = 0;
    std::uint32_t downloadAddress = 0;
    std::uint32_t requestIndex = 0xBEEF;
    std::uint32_t downloadLength = 0;
    int chipMode = 0;
    // Bytes the last vendor request moved in its data stage (0 when it failed).
    std::uint32_t lastReturned = 0;

protected:
    Platform& platform_;

private:
    void ExecuteVendorRequest(const AnchorOperation& op, Outcome& outcome);
    void ExecuteAnchorDownload(const AnchorOperation& op, Outcome& outcome);
    void ExecuteReset(const AnchorOperation& op, std::uint8_t data, Outcome& outcome);

    bool lastOpenFailed_ = false;
};

}  // namespace spindle
