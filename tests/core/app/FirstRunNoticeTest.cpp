// The list area's notice while no device is listed: through the frame on
// benches and drivers without devices, and the texts for each cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/FirstRunNotice.h"
#include "app/MainFrame.h"
#include "device/NoDevicesDriver.h"
#include "device/UdevRules.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/BenchDevices.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

// A USB back end that sees devices it may not open, as libusb does without
// the udev rules: it opens nothing and says so after every scan.
class DeniedDriver final : public IEzusbDriver {
public:
    DeviceHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        return inner_.IoControl(handle, code, in, inLength, out, outLength, returned);
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }
    std::string TakeAccessProblem() override { return "1 USB device could not be opened because this user may not use it"; }

private:
    CNoDevicesDriver inner_;
};

struct NoticeRig {
    explicit NoticeRig(IEzusbDriver& driver) : platform{driver, clock, trace, ui} {}
    const FirstRunNotice& Start() {
        frame.OnCreate();
        frame.OnInitialUpdate();
        return frame.StartNotice();
    }
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform;
    CMainFrame frame{platform};
};

bool Mentions(const FirstRunNotice& notice, const std::string& text) {
    for (const std::string& paragraph : notice.paragraphs) {
        if (paragraph.find(text) != std::string::npos) return true;
    }
    return notice.heading.find(text) != std::string::npos;
}

bool HasCommand(const FirstRunNotice& notice, const std::string& command) {
    return std::find(notice.commands.begin(), notice.commands.end(), command) != notice.commands.end();
}

TEST(FirstRunNotice, ShownWhileTheTreeListsNoDeviceAndGoneOnceOneIsPluggedIn) {
    auto bench = sim::LoadBenchFromJson(nlohmann::ordered_json::parse(R"({"format": "spindle-sim-bench",
        "version": 1, "devices": []})"));
    NoticeRig rig(*bench);
    rig.frame.simulatedBench = true;
    const FirstRunNotice& empty = rig.Start();
    ASSERT_TRUE(empty.shown);
    EXPECT_EQ(empty.heading, "The bench has no devices");
    EXPECT_TRUE(empty.offerDemoBench);
    EXPECT_TRUE(empty.commands.empty());  // no permissions to fix on a simulated bench

    // Plugged in: the next Refresh Tree lists it and the notice goes.
    bench->AddDevice(OspreyAt(0, "OSP00001"));
    rig.frame.OnRefreshTree();
    EXPECT_FALSE(rig.frame.StartNotice().shown);

    // Unplugged again: back.
    bench->RemoveDevice(0);
    rig.frame.OnRefreshTree();
    EXPECT_TRUE(rig.frame.StartNotice().shown);
}

TEST(FirstRunNotice, NamesTheCauseNoDeviceNoPermissionOrNoBackEnd) {
    {
        CNoDevicesDriver driver;
        NoticeRig rig(driver);
        const FirstRunNotice& notice = rig.Start();
        ASSERT_TRUE(notice.shown);
        EXPECT_EQ(notice.heading, "No instrument is attached");
        EXPECT_TRUE(Mentions(notice, "Plug an instrument in"));
        EXPECT_TRUE(Mentions(notice, kUdevRulesName));
        EXPECT_TRUE(HasCommand(notice, kUdevReloadCommand));
        EXPECT_TRUE(notice.offerDemoBench);
        EXPECT_TRUE(rig.ui.Messages().empty());  // a notice, not a box
    }
    {
        DeniedDriver driver;
        NoticeRig rig(driver);
        const FirstRunNotice& notice = rig.Start();
        ASSERT_TRUE(notice.shown);
        EXPECT_EQ(notice.heading, "No instrument could be opened");
        EXPECT_TRUE(Mentions(notice, "not allowed to open them"));
        EXPECT_TRUE(HasCommand(notice, kUdevReloadCommand));
    }
    {
        CNoDevicesDriver driver;
        NoticeRig rig(driver);
        rig.frame.backendError = "LIBUSB_ERROR_OTHER";
        const FirstRunNotice& notice = rig.Start();
        ASSERT_TRUE(notice.shown);
        EXPECT_EQ(notice.heading, "The USB devices cannot be reached");
        EXPECT_TRUE(Mentions(notice, "The USB back end could not start: LIBUSB_ERROR_OTHER."));
        EXPECT_TRUE(notice.commands.empty());  // the rules would not help
        EXPECT_TRUE(notice.offerDemoBench);
    }
    {
        auto bench = sim::LoadBench("demo");
        NoticeRig rig(*bench);
        rig.frame.simulatedBench = true;
        EXPECT_FALSE(rig.Start().shown);
    }
}

TEST(FirstRunNotice, TheRulesAdviceFollowsWhetherTheRulesAreInstalled) {
    StartState state;
    const FirstRunNotice missing = MakeFirstRunNotice(state);
    ASSERT_EQ(missing.commands.size(), 2u);
    EXPECT_EQ(missing.commands[0], "sudo cp scripts/60-spindle.rules /etc/udev/rules.d/");
    EXPECT_TRUE(Mentions(missing, "are not installed"));

    state.installedRules = "/usr/lib/udev/rules.d/60-spindle.rules";
    const FirstRunNotice installed = MakeFirstRunNotice(state);
    EXPECT_EQ(installed.commands, (std::vector<std::string>{kUdevReloadCommand}));
    EXPECT_TRUE(Mentions(installed, "are installed (/usr/lib/udev/rules.d/60-spindle.rules)"));

    // Where the rules are looked for: the administrator's folder wins.
    TempFolder root;
    EXPECT_EQ(InstalledUdevRules(root.Path().string()), "");
    for (const char* folder : {kUdevPackageFolder, kUdevLocalFolder}) {
        std::filesystem::create_directories(root.Path().string() + folder);
        std::ofstream(root.Path().string() + folder + "/" + kUdevRulesName) << "# rules\n";
        EXPECT_EQ(InstalledUdevRules(root.Path().string()), root.Path().string() + folder + "/" + kUdevRulesName);
    }
    EXPECT_NE(UdevRulesAdvice(InstalledUdevRules(root.Path().string())).find(kUdevReloadCommand), std::string::npos);
    EXPECT_NE(UdevRulesAdvice("").find("cp scripts/60-spindle.rules /etc/udev/rules.d/"), std::string::npos);
}

}  // namespace
}  // namespace spindle::test
