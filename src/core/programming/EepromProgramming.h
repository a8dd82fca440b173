#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Outcome.h"
#include "platform/Platform.h"
#include "programming/JobTable.h"

namespace spindle {

// One EEPROM job as the frame starts it.
struct EepromJobRequest {
    std::uint32_t deviceIndex = 0;
    std::uint32_t familyCode = 0;
    std::string imagePath;
    std::shared_ptr<const std::string> image;  // the file's bytes, read once when the job was started
    bool verify = true;      // read the image back and compare every byte
    std::string backupPath;  // non-empty: save the EEPROM's current contents here first
};

// Writes the image into the boot EEPROM of "Ezusb-<index>" (refusing one
// that is empty or over 64 KiB before the device is touched): opens it, downloads the
// loader of the device's chip generation, optionally saves the old contents,
// sends the image in 4096-byte 0xA2 requests whose value is the file offset
// (index 0xBEEF), then reads it back and compares. Every failed step is in
// the result; nothing is shown (the boxes the device layer meets are kept
// in the outcome). Progress goes to `entry`. Runs on the job's worker.
JobResult ProgramEepromImage(Platform& platform, const EepromJobRequest& request, JobEntry& entry);

// Reads `length` bytes of the boot EEPROM of "Ezusb-<index>" through the
// loader (downloaded first). The outcome is Ok() only when every byte was
// read and the bytes do not repeat the start from a power of two on
// (`wrapSize`, the EEPROM's own size then: the address wrapped and only that
// much was kept).
struct EepromReadResult {
    Outcome outcome;
    std::vector<std::uint8_t> bytes;
    std::uint32_t wrapSize = 0;
};
EepromReadResult ReadEepromImage(Platform& platform, std::uint32_t deviceIndex, std::uint32_t familyCode,
                                 std::uint32_t length, JobEntry* entry = nullptr);

}  // namespace spindle
