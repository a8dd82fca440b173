#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "device/EzusbDriver.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"

namespace spindle {

// "Extra Kestrel Settings": the acquisition, pixel and application settings
// a Kestrel keeps packed in information slots 17, 18 and 19.
class CExtraKestrelDlg final : public CDialogModel {
public:
    static constexpr int kDialogId = 168;
    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "Extra Kestrel Settings"; }

    explicit CExtraKestrelDlg(Platform& platform) : platform_(platform) {}
    void SetDevice(DeviceHandle handle) { handle_ = handle; }

    static constexpr const char* kMeasurementTypes[5] = {"None", "Oxygen", "Absobance", "Transmission",
                                                         "Flourescence"};
    static constexpr const char* kPrintOutHeaders[4] = {"Answer Only", "All Values", "Answer with Header",
                                                        "All Values with Header"};
    // The flag bits of slot 19 byte 1.
    enum Flag : std::uint8_t {
        kPulseLed = 0x01,
        kTemperatureCompensate = 0x02,
        kSecondOrder = 0x04,
        kRatio = 0x08,
        kDarkCorrect = 0x10,
        kAcquireTemperature = 0x20,
    };
    // Bits 6 and 7 have no check box: they are written as 0, whatever the
    // device held.
    static constexpr std::uint8_t kAllFlags = 0x3F;

    using Slot = std::array<std::uint8_t, 15>;
    // Reads slots 17, 18 and 19 and shows them.
    void OnInitDialog();
    // The first of slots 17-19 that could not be read (0 when all were):
    // OK then refuses to write.
    int UnreadSlot() const { return unreadSlot_; }
    void Decode(const Slot& acquisition, const Slot& pixels, const Slot& application);
    // The three records from the fields; false with the reason when a field
    // is not a number (or the analog full scale is 0).
    bool Encode(Slot& acquisition, Slot& pixels, Slot& application, std::string& why) const;
    // OK: writes the three slots (each with its 200 ms pause); the reason when
    // a field is refused or a slot was not read, and nothing is written then
    // (the reason says so), or when a write failed.
    std::string OnOK();
    // "Load Values from Quillby Cal File": fills fields from the file's
    // "Setup" section (nothing reaches the device until OK). False when the
    // file has no "Setup" section with any of its keys.
    bool LoadCalFile(const std::string& path, std::string& why);
    std::string OnLoadCalFile();

    // Fields as the dialog shows them ("%d" texts; lists as indexes).
    std::string readingPeriod, integrationTime, scansToAverage, pixelBoxcar, warmupPeriod, analogFullScale;
    bool lampOnBetween = false;
    int measurementType = 0, printOutHeader = 0;
    std::string electricalDark, fluorescencePeak, referencePeak, pixel3;
    std::string oxygenScansToAdd, darkEveryNScans;
    std::uint8_t flags = 0;

private:
    Platform& platform_;
    DeviceHandle handle_ = kNullHandle;
    int unreadSlot_ = 0;
};

// The Zephyr calibration import: reads the Lantern's accessory slots 0-18,
// puts the sixteen Io/K/K1/K2 coefficients of the file's "Setup" section
// into slots 3-18, writes the record back ("%0.6e") and commits. A file with
// no "Setup" section or none of the keys is refused before anything is
// written; one that lacks some keys names them and asks before writing zeros
// in their place.
struct ZephyrImport {
    bool written = false;
    std::string problem;  // why nothing was written, or what failed
};
ZephyrImport ImportZephyrCalibration(Platform& platform, DeviceHandle handle, const std::string& calPath);

// The sixteen keys, in the order of slots 3 to 18.
extern const char* const kZephyrCoefficientKeys[16];

}  // namespace spindle
