#pragma once
// The frame on the simulated demo bench, behind a gate that can hold the
// workers at their first request (a test then sees a job while it runs,
// without sleeping). The bench runs without the host's clock: its chips run
// only during requests, which keeps the jobs cheap under the thread
// sanitizer too. The rig of the job tests and of the accessory dialogs.
#include <gtest/gtest.h>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/GateDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {

// Devices of the demo bench.
constexpr std::uint32_t kKestrel = 0, kOsprey = 3, kKestrelPlus = 4, kFalcon = 6, kOspreyPlus = 7;

inline std::string Examples(const char* name) { return std::string(SPINDLE_SOURCE_DIR) + "/examples/" + name; }

inline std::string Reconnect(std::uint32_t index) {
    return "Please disconnect and reconnect the USB cable\nfrom the device " + std::to_string(index) + " before continuing.";
}
inline std::string Complete(const char* what, std::uint32_t index) {
    return std::string(what) + " Programming Complete.\n\n" + Reconnect(index);
}

// An image of `length` bytes that starts with `bootByte`.
inline std::string Image(std::uint32_t length, std::uint8_t bootByte, std::uint8_t seed = 1) {
    std::string image(length, '\0');
    for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<char>((i * 7 + seed + (i >> 8)) & 0xFF);
    if (length > 0) image[0] = static_cast<char>(bootByte);
    return image;
}

struct FrameRig {
    FrameRig() {
        frame.OnCreate();
        ui.timerLog.clear();
    }
    ~FrameRig() {
        gate.Release();
        frame.WaitForJobs();
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = folder.File(name);
        WriteWholeFile(path, bytes);
        return path;
    }
    // The example design behind a comment that pads it to a multiple of 62
    // bytes: it ends with an empty packet, whose answer the host waits for
    // while the player finishes.
    std::string PaddedDesign() {
        const std::string design = ReadWholeFile(Examples("demo-design.xsvf"));
        const std::size_t pad = (62 - (design.size() + 2) % 62) % 62;
        return Write("padded-design.xsvf", "\x16" + std::string(pad, 'p') + std::string(1, '\0') + design);
    }
    static DeviceRecord Record(std::uint32_t index) {
        const int code = index == kKestrel ? family::kKestrel
                         : index == kOsprey ? family::kOsprey
                         : index == kKestrelPlus ? family::kKestrelPlus : family::kFalcon;
        return {index, static_cast<std::uint32_t>(code), ""};
    }
    // Fills the tree from the bench and selects the device at `index` (or
    // the Lantern behind it).
    void Select(std::uint32_t index, bool lantern = false) {
        frame.OnInitialUpdate();
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.record != nullptr && item.record->index == index &&
                (item.record->family == static_cast<std::uint32_t>(family::kLantern)) == lantern) {
                frame.OnTreeSelectionChanged(item.id);
                return;
            }
        }
        ADD_FAILURE() << "no tree item for device " << index;
    }
    void Tick(int timerId, int times = 1) {
        for (int i = 0; i < times; ++i) frame.OnTimer(timerId);
    }
    // Lets every worker finish, then one countdown tick collects them.
    void Finish(int timerId = timer::kEepromCountdown) {
        gate.Release();
        frame.WaitForJobs();
        frame.OnTimer(timerId);
    }
    std::vector<std::uint8_t> Eeprom(std::uint32_t index, std::uint32_t length) {
        return bench->Device(static_cast<int>(index))->Eeprom(0, length);
    }
    bool Configured(std::uint32_t index) {
        const auto state = bench->Device(static_cast<int>(index))->JtagState();
        return state && state->configured;
    }

    TempFolder folder;
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    GateDriver gate{*bench};
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{gate, clock, trace, ui};
    CMainFrame frame{platform};
};

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace spindle::test
