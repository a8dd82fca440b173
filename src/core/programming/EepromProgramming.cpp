#include "programming/EepromProgramming.h"

#include <algorithm>
#include <cstring>

#include "device/Anchor.h"
#include "device/EzusbDevice.h"
#include "device/Families.h"
#include "device/LoaderImages.h"
#include "device/ScopedDevice.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"
#include "programming/EepromImage.h"
#include "programming/WorkerUserInterface.h"

namespace spindle {

namespace {

constexpr std::uint8_t kEepromRequest = 0xA2;
constexpr std::uint32_t kLoaderIndex = 0xBEEF;

// One device's EEPROM reached through the loader, on a CAnchor of its own
// whose boxes are kept rather than shown.
class EepromSession {
public:
    EepromSession(Platform& platform, std::uint32_t deviceIndex, std::uint32_t familyCode)
        : platform_{platform.driver, platform.clock, platform.trace, boxes_},
          anchor_(platform_),
          deviceIndex_(deviceIndex),
          familyCode_(familyCode) {}

    ~EepromSession() { CloseDevice(platform_, handle_); }

    // Opens the device by name; a failure leaves every later step undone,
    // since the anchor would still name its previous device.
    bool Open(const char* consequence) {
        if (!anchor_.OpenByName(handle_, StrPrintf("Ezusb-%u", deviceIndex_))) {
            handle_ = kNullHandle;
            outcome_.Fail(OpenFailureText(platform_, deviceIndex_) + consequence);
            return false;
        }
        outcome_.Done("open the device");
        anchor_.chipMode = static_cast<int>(familyCode_);
        return true;
    }

    // Holds the 8051, downloads the loader of the device's generation and
    // releases it.
    bool LoadLoader(const char* consequence) {
        const Outcome loaded = anchor_.DownloadLoaderImage(EepromLoaderFor(FamilyOf(static_cast<int>(familyCode_)).chip));
        outcome_.Take(loaded);
        if (!loaded.Ok()) {
            outcome_.Fail(std::string("the EEPROM loader could not be downloaded into the device's RAM") + consequence);
            return false;
        }
        outcome_.Done("download the EEPROM loader");
        return true;
    }

    // One 0xA2 request of `length` bytes at EEPROM address `address`.
    bool Write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
        std::memcpy(anchor_.requestBuffer.data(), data, length);
        return Request(0, address, length);
    }
    bool Read(std::uint32_t address, std::uint8_t* data, std::uint32_t length) {
        std::fill_n(anchor_.requestBuffer.begin(), length, 0);
        if (!Request(1, address, length) || anchor_.lastReturned != length) return false;
        std::memcpy(data, anchor_.requestBuffer.data(), length);
        return true;
    }

    // Reads `length` bytes from address 0 in 4096-byte requests; false (with
    // the failed range named) at the first request that fails.
    bool ReadAll(std::uint32_t length, std::vector<std::uint8_t>& bytes, JobEntry* entry) {
        bytes.assign(length, 0);
        for (std::uint32_t offset = 0; offset < length; offset += kEepromRequestBytes) {
            const std::uint32_t n = std::min(kEepromRequestBytes, length - offset);
            if (!Read(offset, bytes.data() + offset, n)) {
                outcome_.Fail(StrPrintf("reading EEPROM bytes 0x%04X-0x%04X failed", offset, offset + n - 1));
                bytes.resize(offset);
                return false;
            }
            if (entry != nullptr) entry->Advance(n);
        }
        return true;
    }

    // What the session did and met: the boxes the device layer showed on
    // this session's interface are part of it.
    Outcome& Result() {
        boxes_.KeepIn(outcome_);
        return outcome_;
    }
    Outcome& Steps() { return outcome_; }

private:
    bool Request(std::uint16_t direction, std::uint32_t address, std::uint32_t length) {
        anchor_.requestNumber = kEepromRequest;
        anchor_.requestValue = address & 0xFFFF;
        anchor_.requestIndex = kLoaderIndex;
        anchor_.requestLength = length;
        anchor_.requestDirection = direction;
        const Outcome request = anchor_.RunOperation(anchorop::kVendorRequest);
        outcome_.Take(request);
        return request.Ok();
    }

    CWorkerUserInterface boxes_;
    Platform platform_;
    CAnchor anchor_;
    std::uint32_t deviceIndex_;
    std::uint32_t familyCode_;
    DeviceHandle handle_ = kNullHandle;
    Outcome outcome_;
};

std::string AddressList(const std::vector<std::uint32_t>& addresses) {
    std::string text;
    for (std::size_t i = 0; i < addresses.size() && i < 8; ++i) {
        if (!text.empty()) text += ", ";
        text += StrPrintf("0x%04X", addresses[i]);
    }
    if (addresses.size() > 8) text += StrPrintf(" and %zu more", addresses.size() - 8);
    return text;
}

}  // namespace

JobResult ProgramEepromImage(Platform& platform, const EepromJobRequest& request, JobEntry& entry) {
    JobResult result;
    // An image the 16-bit EEPROM address cannot hold, or none at all, writes
    // nothing: the device is not touched.
    static const std::string kNoImage;
    const std::string& image = request.image ? *request.image : kNoImage;
    if (image.size() > kMaxEepromImageBytes) {
        result.outcome.Refuse(StrPrintf(
            "the image %s is larger than 65536 bytes, more than the EEPROM's 16-bit address reaches; "
            "nothing was written",
            request.imagePath.c_str()));
        return result;
    }
    if (image.empty()) {
        result.outcome.Refuse(StrPrintf("the image %s is empty; nothing was written", request.imagePath.c_str()));
        return result;
    }
    const auto length = static_cast<std::uint32_t>(image.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());

    EepromSession session(platform, request.deviceIndex, request.familyCode);
    Outcome& outcome = session.Steps();
    const auto finish = [&]() -> JobResult {
        result.outcome = session.Result();
        return result;
    };

    if (!session.Open("")) return finish();
    entry.Enter(JobPhase::Loader, 0);
    if (!session.LoadLoader(", so nothing was written")) return finish();

    if (!request.backupPath.empty()) {
        entry.Enter(JobPhase::Backup, length);
        std::vector<std::uint8_t> old;
        if (!session.ReadAll(length, old, &entry)) {
            outcome.Fail("the EEPROM's current contents could not be saved, so nothing was written");
            return finish();
        }
        const FileWriteResult saved =
            ReplaceFileAtomically(request.backupPath, std::string(old.begin(), old.end()));
        if (!saved.Succeeded()) {
            outcome.Fail(saved.error + "; nothing was written");
            return finish();
        }
        result.backupPath = request.backupPath;
        outcome.Done("save the EEPROM's contents to " + request.backupPath);
    }

    entry.Enter(JobPhase::Writing, length);
    std::vector<std::uint32_t> failedWrites;
    for (std::uint32_t offset = 0; offset < length; offset += kEepromRequestBytes) {
        if (entry.StopAsked()) {
            outcome.Stop(StrPrintf("stopped on request after %u of the image's %u bytes were written; "
                                   "the EEPROM holds part of the new image",
                                   offset, length));
            return finish();
        }
        const std::uint32_t n = std::min(kEepromRequestBytes, length - offset);
        if (session.Write(offset, bytes + offset, n)) {
            result.bytesWritten += n;
        } else {
            failedWrites.push_back(offset);
        }
        entry.Advance(n);
    }
    if (!failedWrites.empty()) {
        outcome.Fail(StrPrintf("%zu of %u writes failed (at %s)", failedWrites.size(),
                               (length + kEepromRequestBytes - 1) / kEepromRequestBytes,
                               AddressList(failedWrites).c_str()));
    } else {
        outcome.Done(StrPrintf("write %u bytes", length));
    }

    if (request.verify && !entry.StopAsked()) {
        entry.Enter(JobPhase::Verifying, length);
        std::vector<std::uint8_t> back;
        if (session.ReadAll(length, back, &entry)) {
            const auto mismatch = std::mismatch(back.begin(), back.end(), bytes);
            if (mismatch.first != back.end()) {
                const auto address = static_cast<std::uint32_t>(mismatch.first - back.begin());
                outcome.Fail(StrPrintf(
                    "the EEPROM differs from the image first at address 0x%04X (0x%02X written, 0x%02X read back)",
                    address, bytes[address], back[address]));
            } else {
                result.verified = true;
                outcome.Done("read the image back: every byte matches");
            }
        }
    }
    return finish();
}

EepromReadResult ReadEepromImage(Platform& platform, std::uint32_t deviceIndex, std::uint32_t familyCode,
                                 std::uint32_t length, JobEntry* entry) {
    EepromReadResult result;
    if (length > kMaxEepromImageBytes) {
        result.outcome.Refuse("at most 65536 bytes of an EEPROM can be addressed");
        return result;
    }
    EepromSession session(platform, deviceIndex, familyCode);
    if (session.Open("") && session.LoadLoader("")) {
        if (entry != nullptr) entry->Enter(JobPhase::Verifying, length);
        if (session.ReadAll(length, result.bytes, entry)) {
            result.wrapSize = EepromWrapSize(result.bytes.data(), length);
            if (result.wrapSize != 0) {
                session.Steps().Fail(StrPrintf(
                    "the EEPROM holds %u bytes: from address 0x%04X on it read its own start again (the address "
                    "wraps), so only its %u bytes were kept",
                    result.wrapSize, result.wrapSize, result.wrapSize));
                result.bytes.resize(result.wrapSize);
            }
        }
    }
    result.outcome = session.Result();
    return result;
}

}  // namespace spindle
