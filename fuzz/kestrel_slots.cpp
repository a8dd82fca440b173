// The Kestrel's packed slots 17-19: whatever bytes a device holds, the
// dialog shows fields that encode again (a full scale never set excepted,
// which the operator must enter) into bytes that show the same fields.
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "FuzzSupport.h"
#include "device/EzusbDriver.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "tools/ExtraKestrelDlg.h"

namespace {

// The driver is never reached: Decode and Encode only move bytes and texts.
class NoDriver final : public spindle::IEzusbDriver {
public:
    spindle::DeviceHandle Open(const std::string&) override { return spindle::kInvalidHandle; }
    bool IoControl(spindle::DeviceHandle, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                   std::uint32_t, std::uint32_t*) override {
        return false;
    }
    void Close(spindle::DeviceHandle) override {}
};

auto Fields(const spindle::CExtraKestrelDlg& d) {
    return std::make_tuple(d.readingPeriod, d.integrationTime, d.scansToAverage, d.pixelBoxcar, d.warmupPeriod,
                           d.analogFullScale, d.lampOnBetween, d.measurementType, d.printOutHeader, d.electricalDark,
                           d.fluorescencePeak, d.referencePeak, d.pixel3, d.oxygenScansToAdd, d.darkEveryNScans,
                           // Bits no check box shows are written as 0.
                           static_cast<std::uint8_t>(d.flags & spindle::CExtraKestrelDlg::kAllFlags));
}

// The rest of the input as a Zephyr calibration file, read both ways: into
// the dialog, whose fields then encode or are refused with a reason; and
// into the Lantern, which this driver never answers, so nothing is written.
void CalFiles(spindle::Platform& platform, spindle::CExtraKestrelDlg& dialog, std::string_view text) {
    static const std::string path = spindle::fuzz::ScratchPath("sensor.cal");
    spindle::fuzz::WriteScratch(path, text);
    std::string why;
    if (dialog.LoadCalFile(path, why)) {
        spindle::CExtraKestrelDlg::Slot a{}, p{}, x{};
        SPINDLE_FUZZ_CHECK(dialog.Encode(a, p, x, why) || !why.empty());
    } else {
        SPINDLE_FUZZ_CHECK(!why.empty());
    }
    const spindle::ZephyrImport imported = spindle::ImportZephyrCalibration(platform, spindle::kInvalidHandle, path);
    SPINDLE_FUZZ_CHECK(!imported.written && !imported.problem.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using spindle::CExtraKestrelDlg;
    if (size < 45) return 0;
    static NoDriver driver;
    static spindle::VirtualClock clock;
    static spindle::NullDebugTrace trace;
    static spindle::fuzz::QuietUserInterface ui;
    static spindle::Platform platform{driver, clock, trace, ui};
    CExtraKestrelDlg::Slot slots[3];
    for (int s = 0; s < 3; ++s) {
        for (int i = 0; i < 15; ++i) slots[s][i] = data[s * 15 + i];
    }
    CExtraKestrelDlg shown(platform);
    shown.Decode(slots[0], slots[1], slots[2]);
    SPINDLE_FUZZ_CHECK(shown.measurementType >= 0 && shown.measurementType < 5);
    SPINDLE_FUZZ_CHECK(shown.printOutHeader >= 0 && shown.printOutHeader < 4);
    CExtraKestrelDlg::Slot encoded[3];
    std::string why;
    const bool ok = shown.Encode(encoded[0], encoded[1], encoded[2], why);
    if (shown.analogFullScale.empty()) {
        SPINDLE_FUZZ_CHECK(!ok && !why.empty());
        return 0;
    }
    SPINDLE_FUZZ_CHECK(ok);
    CExtraKestrelDlg again(platform);
    again.Decode(encoded[0], encoded[1], encoded[2]);
    SPINDLE_FUZZ_CHECK(Fields(again) == Fields(shown));
    CalFiles(platform, shown, std::string_view(reinterpret_cast<const char*>(data + 45), size - 45));
    return 0;
}
