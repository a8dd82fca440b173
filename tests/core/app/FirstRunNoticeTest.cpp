// The list area's notice while no device is listed, and its text for each cause.
#include <gtest/gtest.h>

#include "app/FirstRunNotice.h"
#include "app/MainFrame.h"
#include "device/UdevRules.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/BenchDevices.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

// The notice's texts in one string; "-" when it is not shown.
std::string Text(const FirstRunNotice& notice) {
    std::string text = notice.shown ? notice.heading : "-";
    for (const std::string& line : notice.paragraphs) text += "\n" + line;
    for (const std::string& line : notice.commands) text += "\n$ " + line;
    return text + (notice.offerDemoBench ? "\n[demo]" : "");
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Sees devices it may not open, as libusb does without the udev rules.
struct DeniedDriver final : IEzusbDriver {
    DeviceHandle Open(const std::string&) override { return kInvalidHandle; }
    bool IoControl(DeviceHandle, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t,
                   std::uint32_t*) override { return false; }
    void Close(DeviceHandle) override {}
    std::string TakeAccessProblem() override { return "1 USB device could not be opened"; }
};

struct NoticeRig {
    explicit NoticeRig(IEzusbDriver& driver, bool simulated) : platform{driver, clock, trace, ui} {
        frame.simulatedBench = simulated;
        frame.OnCreate();
        frame.OnInitialUpdate();
    }
    std::string Notice() const { return Text(frame.StartNotice()); }
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform;
    CMainFrame frame{platform};
};

TEST(FirstRunNotice, ShownWhileTheTreeListsNoDeviceAndNamesTheDeniedDevices) {
    auto bench = sim::LoadBenchFromJson(nlohmann::ordered_json::parse(R"({"format": "spindle-sim-bench",
        "version": 1, "devices": []})"));
    NoticeRig rig(*bench, true);
    // No permissions to fix on a simulated bench.
    EXPECT_TRUE(rig.Notice().starts_with("The bench has no devices\n") && !Has(rig.Notice(), "$ ")) << rig.Notice();
    bench->AddDevice(OspreyAt(0, "OSP00001"));
    rig.frame.OnRefreshTree();
    EXPECT_EQ(rig.Notice(), "-");

    DeniedDriver denied;
    const std::string noPermission = NoticeRig(denied, false).Notice();
    EXPECT_TRUE(noPermission.starts_with("No instrument could be opened\n") &&
                Has(noPermission, "not allowed to open them")) << noPermission;
}

TEST(FirstRunNotice, NamesTheCauseAndFollowsWhetherTheRulesAreInstalled) {
    StartState state;
    const std::string missing = Text(MakeFirstRunNotice(state));
    EXPECT_TRUE(missing.starts_with("No instrument is attached\n")) << missing;
    EXPECT_TRUE(Has(missing, std::string("$ sudo cp scripts/60-spindle.rules /etc/udev/rules.d/\n$ ") +
                                 kUdevReloadCommand + "\n[demo]"));
    state.installedRules = "/usr/lib/udev/rules.d/60-spindle.rules";
    EXPECT_EQ(MakeFirstRunNotice(state).commands, std::vector<std::string>{kUdevReloadCommand});
    state.backendError = "LIBUSB_ERROR_OTHER";
    const std::string noBackEnd = Text(MakeFirstRunNotice(state));
    EXPECT_TRUE(noBackEnd.starts_with("The USB devices cannot be reached\n")) << noBackEnd;
    // The rules would not help; the demo bench would.
    EXPECT_TRUE(Has(noBackEnd, "start: LIBUSB_ERROR_OTHER.\n") && !Has(noBackEnd, "$ ") && Has(noBackEnd, "[demo]"));
}

}  // namespace
}  // namespace spindle::test
