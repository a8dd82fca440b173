// The PSOC diagnostics pages against a scripted device: their start
// sequences, handlers and polling, and the commands that open them.
#include <gtest/gtest.h>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"
#include "tools/PsocSheet.h"

namespace spindle::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Sent = std::vector<Bytes>;

struct PageRig {
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    DeviceHandle handle = 0x100;

    void Reply(Bytes bytes) { driver.QueueBulkReply(std::move(bytes)); }
    Sent Writes() const { return driver.BulkWrites(); }
    void FailBulk() {
        driver.failWhen = [](const ScriptedDriver::Request& r) { return r.IsBulkWrite() || r.IsBulkRead(); };
    }
    template <typename Page>
    void Tick(Page& page, int times) {
        for (int i = 0; i < times; ++i) page.OnTimer(CPsocPage::kPollTimerId);
    }
};

TEST(FalconExtrasPage, StartShowsVersionAdcAndTemperatureAndSetsTheDacTo512) {
    PageRig rig;
    rig.Reply({0x01, 0x23, 0x00});  // version 0x0123
    rig.Reply({0x10, 0x00, 0x00});  // ADC 0x1000
    rig.Reply({0x07, 0x00, 0x19});  // not a temperature reply: another attempt
    rig.Reply({0x08, 0x00, 0x19});  // 6400 counts
    CFalconExtrasPage page(rig.platform);
    page.SetDevice(rig.handle);
    page.OnInitDialog();
    EXPECT_EQ(page.firmwareText, "Firmware Version 0.12.3 \r\n ADC 13-Bit DAC 9-Bit");
    EXPECT_EQ(page.rawAdcCounts, "0X1000");
    EXPECT_EQ(page.adcVolts, "2.650");
    EXPECT_EQ(page.rawDacCounts, "0X200");
    EXPECT_EQ(page.boardTemperature, "24.998");
    const Sent sent = rig.Writes();
    EXPECT_NE(std::find(sent.begin(), sent.end(), Bytes{0x69, 0x10, 0x02, 0x03, 0x02, 0x02, 0x00}), sent.end());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0x6C}), 2);
    EXPECT_FALSE(page.PollTimerRunning());
}

TEST(FalconExtrasPage, WriteDacTakesAHexCountAndRefusesAnythingElse) {
    PageRig rig;
    CFalconExtrasPage page(rig.platform);
    page.SetDevice(rig.handle);
    page.rawDacCounts = "1FF";
    EXPECT_EQ(page.OnWriteDac(), "");
    EXPECT_EQ(page.dacVolts, "5.090039");
    page.rawDacCounts = "0x0";
    EXPECT_EQ(page.OnWriteDac(), "");
    EXPECT_EQ(rig.Writes(), (Sent{{0x69, 0x10, 0x02, 0x03, 0x02, 0x01, 0xFF}, {0x69, 0x10, 0x02, 0x03, 0x02, 0x00, 0x00}}));
    rig.driver.Clear();
    for (const char* text : {"123456", "1G", "0x", "", "-1"}) {
        page.rawDacCounts = text;
        EXPECT_NE(page.OnWriteDac(), "") << text;
    }
    EXPECT_TRUE(rig.Writes().empty());
}

struct CondorRig : PageRig {
    CondorRig() {
        page.SetDevice(handle);
        Reply({0x01, 0x00, 0, 0});  // version, first answer
        Reply({0x10, 0x20, 0, 0});  // version, second answer
        Reply({0xFF, 0x9C, 0, 0});  // temperature -100 tenths
        page.OnInitDialog();
    }
    CCondorPsocPage page{platform};
};

TEST(CondorPsocPage, StartReadsTheVersionTwiceAndTheTemperatureThenPollsEvery100Ticks) {
    CondorRig rig;
    EXPECT_EQ(rig.page.firmwareText, "Firmware Version 1.02.0 \r\n PSOC PID control and Information.");
    EXPECT_EQ(rig.page.setpointText, "-10.00");
    EXPECT_TRUE(rig.page.PollTimerRunning());
    EXPECT_EQ(rig.Writes(), (Sent{{0x68, 0x41, 0, 0, 0}, {0x68, 0x41, 0, 0, 0}, {0x68, 0x02, 0, 0, 0}}));
    // The first tick polls at once, then every 100th.
    rig.driver.Clear();
    rig.Reply({0xFF, 0x9C, 0, 0});
    rig.Tick(rig.page, 100);
    EXPECT_EQ(rig.Writes().size(), 1u);
    rig.page.OnSelectQuantity(CCondorPsocPage::kSystemStatus);
    rig.Reply({0x00, 0x49, 0, 0});
    rig.Tick(rig.page, 1);
    EXPECT_EQ(rig.Writes(), (Sent{{0x68, 0x02, 0, 0, 0}, {0x68, 0x20, 0, 0, 0}}));
    EXPECT_TRUE(rig.page.tecOverCurrent);
    EXPECT_TRUE(rig.page.fanFail);
    EXPECT_TRUE(rig.page.railHigh);
    EXPECT_FALSE(rig.page.railLow);
}

TEST(CondorPsocPage, TheSpinWritesThePositionBeforeItsStepAndTecToggles) {
    CondorRig rig;
    rig.driver.Clear();
    rig.page.OnSpinDelta(-7, 1);
    EXPECT_EQ(rig.page.setpointText, "-7.00");
    EXPECT_EQ(rig.page.spinPosition, -6);
    EXPECT_EQ(rig.page.pollCounter, 1u) << "the next poll waits a full cycle";
    rig.page.OnSpinDelta(25, 1);
    EXPECT_EQ(rig.page.spinPosition, 25) << "the spin stays in its range";
    rig.page.OnTecClicked();
    EXPECT_EQ(rig.Writes(), (Sent{{0x68, 0x80, 0xFF, 0xBA, 0}, {0x68, 0x80, 0x00, 0xFA, 0}, {0x68, 0x10, 0x00, 0x01, 0}}));
}

TEST(CondorPsocPage, TheFirstFailedExchangeStopsPollingForGood) {
    CondorRig rig;
    rig.FailBulk();
    rig.Tick(rig.page, 1);
    EXPECT_TRUE(rig.page.PollingStopped());
    EXPECT_EQ(rig.page.PollStateText(), "Polling stopped: the device did not answer.");
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{"BULK_OUT failed."});
    rig.driver.failWhen = nullptr;
    rig.driver.Clear();
    rig.Tick(rig.page, 300);
    EXPECT_TRUE(rig.Writes().empty());
}

class FakePicture final : public IAnimatedPicture {
public:
    bool Load(const std::string& type, int id) override {
        loaded = type + " " + std::to_string(id);
        return true;
    }
    void Play() override { playing = true; }
    void Stop() override { playing = false; }
    bool playing = false;
    std::string loaded;
};

TEST(IbisPsocPage, OpeningTurnsFanAndTecOnSetsMinusFiveAndShowsTheStatus) {
    PageRig rig;
    FakePicture picture;
    CIbisPsocPage page(rig.platform, &picture);
    page.SetDevice(rig.handle);
    rig.Reply({0xFF, 0xFE, 0, 0, 0xFF, 0x38, 0xFF, 0xF6, 0xFF, 0xCE, 0, 120, 0x01, 0x02});
    page.OnInitDialog();
    EXPECT_EQ(rig.Writes(), (Sent{{0x0D, 0x01}, {0x0B, 0x01}, {0x3E, 0x00, 0xFF, 0xCE, 0x00, 0x00}, {0x3F}}));
    EXPECT_EQ(page.systemStatus, "0xfffffffe");
    EXPECT_EQ(page.currentTemperature, "-20.00");
    EXPECT_EQ(page.currentSetpoint, "-5.00");
    EXPECT_EQ(picture.loaded, "GIF 163");
    EXPECT_TRUE(picture.playing);
    EXPECT_FALSE(page.ClosesOnEnterAndEscape());
    // The first poll comes 500 ticks later.
    rig.driver.Clear();
    rig.Tick(page, 499);
    EXPECT_TRUE(rig.Writes().empty());
    rig.Reply({0, 0, 0, 0, 0xFF, 0xC4, 0, 0, 0xFF, 0xCE, 0, 0, 0x01, 0x02});
    rig.Tick(page, 1);
    EXPECT_EQ(rig.Writes(), Sent{{0x3F}});
    EXPECT_EQ(page.currentTemperature, "-6.00");
    page.fanOn = false;
    page.OnFanClicked();
    EXPECT_FALSE(picture.playing);
    EXPECT_EQ(rig.Writes().back(), (Bytes{0x0D, 0x00}));
}

TEST(IbisPsocPage, OnlyASetpointInRangeReachesTheDevice) {
    PageRig rig;
    CIbisPsocPage page(rig.platform);
    page.SetDevice(rig.handle);
    for (const char* text : {"25.1", "-20.5", "abc", "", "1e9", "nan", "12.5x", "1234567890123456"}) {
        page.setpointText = text;
        EXPECT_NE(page.OnSet(), "") << text;
    }
    EXPECT_TRUE(rig.Writes().empty());
    for (const char* text : {"12.5", "-20"}) {
        page.setpointText = text;
        EXPECT_EQ(page.OnSet(), "") << text;
    }
    EXPECT_EQ(rig.Writes(), (Sent{{0x3E, 0x00, 0x00, 0x7D, 0x00, 0x00}, {0x3E, 0x00, 0xFF, 0x38, 0x00, 0x00}}));
}

// PSOC Diags. and Ibis Extra open the selected device for the page the
// family has, say why when it has none, and restart the countdown.
TEST(PsocCommands, TheSheetAndIbisExtraOpenTheDeviceAndRestartTheCountdown) {
    PageRig rig;
    CMainFrame frame{rig.platform};
    frame.OnCreate();
    auto select = [&frame](DeviceRecord& record) {
        frame.Tree().Clear();
        const int item = frame.Tree().InsertItem("device", 0, CDeviceTree::kNoItem);
        frame.Tree().SetItemData(item, &record);
        frame.Tree().Select(item);
    };
    DeviceRecord condor{5, static_cast<std::uint32_t>(family::kCondor), ""}, heron{7, static_cast<std::uint32_t>(family::kHeron), ""},
        ibis{6, static_cast<std::uint32_t>(family::kIbis), ""};
    std::vector<std::string> shown;
    rig.ui.onDialog = [&shown](CDialogModel& dialog) {
        if (auto* sheet = dynamic_cast<CSpecPropSheet*>(&dialog)) shown.push_back(sheet->Pages().at(0)->Caption());
        return mb::kIdOk;
    };
    select(condor);
    rig.ui.timerLog.clear();
    EXPECT_TRUE(frame.OnCommand(cmd::kPsocDiags));
    EXPECT_EQ(shown, std::vector<std::string>{"Condor PSOC"});
    EXPECT_EQ(rig.driver.openedPaths, std::vector<std::string>{"\\\\.\\Ezusb-5"});
    EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 999 1000"}));
    rig.ui.dialogsShown.clear();
    EXPECT_TRUE(frame.OnCommand(cmd::kIbisExtra));
    select(heron);
    EXPECT_TRUE(frame.OnCommand(cmd::kPsocDiags));
    EXPECT_TRUE(rig.ui.dialogsShown.empty());
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{"device has no Ibis temperature-controller page.",
                                                               "device has no PSOC diagnostics page."}));
    EXPECT_EQ(rig.driver.closedHandles.size(), 3u);
    EXPECT_EQ(rig.ui.timerLog.back(), "set 999 1000");
    // On a busy device it does nothing at all.
    select(ibis);
    frame.jobBusy[6].store(1);
    rig.ui.timerLog.clear();
    EXPECT_FALSE(frame.OnIbisExtra().Ok());
    EXPECT_TRUE(rig.ui.timerLog.empty());
    frame.jobBusy[6].store(0);
    EXPECT_TRUE(frame.OnIbisExtra().Ok());
    EXPECT_EQ(rig.ui.dialogsShown, std::vector<std::string>{"Ibis PSOC"});
}

}  // namespace
}  // namespace spindle::test
