// The PSOC diagnostics pages against a scripted device: their start
// sequences, handlers, formats and polling, and the sheet and commands that
// open them.
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

struct PageRig {
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    DeviceHandle handle = 0x100;

    void Reply(Bytes bytes) { driver.QueueBulkReply(std::move(bytes)); }
    std::vector<Bytes> Sent() const { return driver.BulkWrites(); }
    void FailBulk() {
        driver.failWhen = [](const ScriptedDriver::Request& r) { return r.IsBulkWrite() || r.IsBulkRead(); };
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
    EXPECT_EQ(page.dacVolts, "5.10");
    EXPECT_EQ(page.rawDacCounts, "0X200");
    EXPECT_EQ(page.boardTemperature, "24.998");
    const auto sent = rig.Sent();
    EXPECT_NE(std::find(sent.begin(), sent.end(), Bytes{0x69, 0x10, 0x02, 0x03, 0x02, 0x02, 0x00}), sent.end())
        << "opening the page writes DAC count 512";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0x6C}), 2);
    EXPECT_FALSE(page.PollTimerRunning());
}

TEST(FalconExtrasPage, ConversionsAndTheDacTextsThePageTakes) {
    EXPECT_EQ(CFalconExtrasPage::DacCountFromVolts(5.10), 512);
    EXPECT_DOUBLE_EQ(CFalconExtrasPage::AdcVolts(0), 0.10000000149011612);
    PageRig rig;
    CFalconExtrasPage page(rig.platform);
    page.SetDevice(rig.handle);
    struct Case {
        const char* text;
        Bytes sent;
        const char* volts;
    };
    for (const Case& c : {Case{"1FF", {0x01, 0xFF}, "5.090039"}, Case{"0X200", {0x02, 0x00}, "5.100000"},
                          Case{"0x0", {0x00, 0x00}, "0.000000"}}) {
        rig.driver.Clear();
        page.rawDacCounts = c.text;
        EXPECT_EQ(page.OnWriteDac(), "");
        ASSERT_EQ(rig.Sent().size(), 1u) << c.text;
        EXPECT_EQ(rig.Sent()[0], (Bytes{0x69, 0x10, 0x02, 0x03, 0x02, c.sent[0], c.sent[1]})) << c.text;
        EXPECT_EQ(page.dacVolts, c.volts);
    }
    // Texts that are not a count, or longer than the field, send nothing.
    rig.driver.Clear();
    for (const char* text : {"123456", "1G", "0x", "", "-1"}) {
        page.rawDacCounts = text;
        EXPECT_NE(page.OnWriteDac(), "") << text;
    }
    EXPECT_TRUE(rig.Sent().empty());
}

TEST(FalconExtrasPage, ReadTempGivesUpAfterFiveAttemptsAndContinuousReadingFollowsTheBox) {
    PageRig rig;
    CFalconExtrasPage page(rig.platform);
    page.SetDevice(rig.handle);
    page.OnReadTemp();  // no valid reply at all
    EXPECT_EQ(page.boardTemperature, "-999.000");
    EXPECT_EQ(rig.Sent().size(), 5u);

    rig.Reply({0x00, 0x01, 0x00});
    rig.Reply({0x00, 0x02, 0x00});
    page.readContinuous = 1;
    page.OnReadAdc();
    EXPECT_TRUE(page.ContinuousReading());
    EXPECT_EQ(page.rawAdcCounts, "0X1");
    page.OnContinuousTick();
    EXPECT_EQ(page.rawAdcCounts, "0X2");
    page.readContinuous = 0;  // the box released
    const std::size_t before = rig.Sent().size();
    page.OnContinuousTick();
    EXPECT_FALSE(page.ContinuousReading());
    EXPECT_EQ(rig.Sent().size(), before);
    // A failed read shows a count of 0 and 0.100 volts.
    rig.FailBulk();
    page.OnReadAdc();
    EXPECT_EQ(page.rawAdcCounts, "0");
    EXPECT_EQ(page.adcVolts, "0.100");
}

struct CondorRig : PageRig {
    CondorRig() {
        page.SetDevice(handle);
        Reply({0x01, 0x00, 0, 0});  // version, first answer
        Reply({0x10, 0x20, 0, 0});  // version, second answer
        Reply({0xFF, 0x9C, 0, 0});  // temperature -100 tenths
        page.OnInitDialog();
    }
    void Tick(int times) {
        for (int i = 0; i < times; ++i) page.OnTimer(CPsocPage::kPollTimerId);
    }
    CCondorPsocPage page{platform};
};

TEST(CondorPsocPage, StartReadsTheVersionTwiceAndTheTemperatureThenPollsEvery100Ticks) {
    CondorRig rig;
    EXPECT_EQ(rig.page.firmwareText, "Firmware Version 1.02.0 \r\n PSOC PID control and Information.");
    EXPECT_EQ(CCondorPsocPage::CelsiusText(rig.page.temperature), "-10");
    EXPECT_EQ(rig.page.setpointText, "-10.00");
    EXPECT_EQ(rig.page.spinPosition, -7);
    EXPECT_TRUE(rig.page.PollTimerRunning());
    EXPECT_EQ(rig.page.TickPeriodMs() * CCondorPsocPage::kPollDivisor, 1000u) << "about one poll a second";
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{{0x68, 0x41, 0, 0, 0}, {0x68, 0x41, 0, 0, 0}, {0x68, 0x02, 0, 0, 0}}));

    // The first tick polls at once, then every 100th.
    rig.driver.Clear();
    rig.Reply({0xFF, 0x9C, 0, 0});
    rig.Tick(1);
    EXPECT_EQ(rig.Sent().size(), 1u);
    rig.Tick(99);
    EXPECT_EQ(rig.Sent().size(), 1u);
    rig.page.OnSelectQuantity(CCondorPsocPage::kSystemStatus);
    rig.Reply({0x00, 0x49, 0, 0});
    rig.Tick(1);
    ASSERT_EQ(rig.Sent().size(), 2u);
    EXPECT_EQ(rig.Sent()[1], (Bytes{0x68, 0x20, 0, 0, 0}));
    EXPECT_TRUE(rig.page.tecOverCurrent);
    EXPECT_TRUE(rig.page.fanFail);
    EXPECT_TRUE(rig.page.railHigh);
    EXPECT_FALSE(rig.page.railLow);
    rig.page.OnSelectQuantity(CCondorPsocPage::kAdcCounts);
    rig.Reply({0x00, 0x00, 0, 0});
    rig.Tick(100);
    EXPECT_EQ(rig.page.adcResult, "0");
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
    EXPECT_EQ(rig.page.tecState, 1);
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{{0x68, 0x80, 0xFF, 0xBA, 0}, {0x68, 0x80, 0x00, 0xFA, 0},
                                              {0x68, 0x10, 0x00, 0x01, 0}}));
}

TEST(CondorPsocPage, TheFirstFailedExchangeStopsPollingForGood) {
    CondorRig rig;
    rig.FailBulk();
    rig.Tick(1);
    EXPECT_FALSE(rig.page.PollTimerRunning());
    EXPECT_TRUE(rig.page.PollingStopped());
    EXPECT_EQ(rig.page.PollStateText(), "Polling stopped: the device did not answer.");
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{"BULK_OUT failed."});
    rig.driver.failWhen = nullptr;
    rig.driver.Clear();
    rig.Tick(300);
    EXPECT_TRUE(rig.Sent().empty());
    // A start that fails sets nothing up.
    PageRig unplugged;
    unplugged.FailBulk();
    CCondorPsocPage page(unplugged.platform);
    page.SetDevice(unplugged.handle);
    page.OnInitDialog();
    EXPECT_FALSE(page.PollTimerRunning());
    EXPECT_EQ(page.firmwareText, "Firmware Version 1.00.0");
}

class FakePicture final : public IAnimatedPicture {
public:
    bool Load(const std::string& type, int id) override {
        loaded = type + " " + std::to_string(id);
        return loads;
    }
    void Play() override { playing = true; }
    void Stop() override { playing = false; }
    bool loads = true;
    bool playing = false;
    std::string loaded;
};

Bytes Status(std::initializer_list<std::uint16_t> values) {
    Bytes bytes;
    for (std::uint16_t v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    return bytes;
}

TEST(IbisPsocPage, OpeningTurnsFanAndTecOnSetsMinusFiveAndShowsTheStatus) {
    PageRig rig;
    FakePicture picture;
    CIbisPsocPage page(rig.platform, &picture);
    page.SetDevice(rig.handle);
    rig.Reply(Status({0xFFFE, 0, 0xFF38, 0xFFF6, 0xFFCE, 120, 0x0102}));
    page.OnInitDialog();
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{{0x0D, 0x01}, {0x0B, 0x01}, {0x3E, 0x00, 0xFF, 0xCE, 0x00, 0x00}, {0x3F}}));
    EXPECT_EQ(page.systemStatus, "0xfffffffe");
    EXPECT_EQ(page.boardTemp, "NA");
    EXPECT_EQ(page.currentTemperature, "-20.00");
    EXPECT_EQ(page.pidError, "-10");
    EXPECT_EQ(page.currentSetpoint, "-5.00");
    EXPECT_EQ(page.pidControlValue, "120");
    EXPECT_EQ(page.version, "0x102");
    EXPECT_TRUE(page.tecOn);
    EXPECT_TRUE(page.fanOn);
    EXPECT_FLOAT_EQ(page.setpoint, -5.0f);
    EXPECT_EQ(picture.loaded, "GIF 163");
    EXPECT_TRUE(picture.playing);
    EXPECT_FALSE(page.ClosesOnEnterAndEscape());

    // The first poll comes 500 ticks later: about ten seconds.
    EXPECT_EQ(page.TickPeriodMs() * CIbisPsocPage::kPollDivisor, 10000u);
    rig.driver.Clear();
    for (int i = 0; i < 499; ++i) page.OnTimer(CPsocPage::kPollTimerId);
    EXPECT_TRUE(rig.Sent().empty());
    rig.Reply(Status({0, 0, 0xFFC4, 0, 0xFFCE, 0, 0x0102}));
    page.OnTimer(CPsocPage::kPollTimerId);
    EXPECT_EQ(rig.Sent(), std::vector<Bytes>{{0x3F}});
    EXPECT_EQ(page.currentTemperature, "-6.00");

    // The fan off stops the picture.
    page.fanOn = false;
    page.OnFanClicked();
    EXPECT_FALSE(picture.playing);
    EXPECT_EQ(rig.Sent().back(), (Bytes{0x0D, 0x00}));
}

TEST(IbisPsocPage, OnlyASetpointInRangeReachesTheDevice) {
    PageRig rig;
    CIbisPsocPage page(rig.platform);
    page.SetDevice(rig.handle);
    page.setpointText = "12.5";
    EXPECT_EQ(page.OnSet(), "");
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{{0x3E, 0x00, 0x00, 0x7D, 0x00, 0x00}}));
    rig.driver.Clear();
    for (const char* text : {"25.1", "-20.5", "abc", "", "1e9", "nan", "12.5x", "1234567890123456"}) {
        page.setpointText = text;
        EXPECT_NE(page.OnSet(), "") << text;
    }
    EXPECT_TRUE(rig.Sent().empty());
    page.setpointText = "-20";
    EXPECT_EQ(page.OnSet(), "");
    EXPECT_EQ(rig.Sent(), (std::vector<Bytes>{{0x3E, 0x00, 0xFF, 0x38, 0x00, 0x00}}));
    // A start that fails (the fan's command) polls nothing and loads no picture.
    PageRig unplugged;
    unplugged.FailBulk();
    FakePicture picture;
    CIbisPsocPage failed(unplugged.platform, &picture);
    failed.OnInitDialog();
    EXPECT_FALSE(failed.PollTimerRunning());
    EXPECT_TRUE(picture.loaded.empty());
}

TEST(SpecPropSheet, TheFamilyChoosesTheOnePage) {
    PageRig rig;
    const std::pair<int, const char*> pages[] = {{family::kIbis, "Ibis PSOC"}, {family::kFalcon, "Falcon Extras"},
                                                 {family::kCondor, "Condor PSOC"}};
    for (const auto& [code, caption] : pages) {
        CSpecPropSheet sheet(rig.platform, "Spindle");
        ASSERT_NE(sheet.AddPage(rig.handle, code), nullptr);
        ASSERT_EQ(sheet.Pages().size(), 1u);
        EXPECT_EQ(sheet.Pages()[0]->Caption(), caption);
        EXPECT_EQ(sheet.Pages()[0]->Device(), rig.handle);
    }
    CSpecPropSheet sheet(rig.platform, "Spindle");
    EXPECT_EQ(sheet.AddPage(rig.handle, family::kKestrel), nullptr);
    EXPECT_TRUE(sheet.Pages().empty());
}

struct FrameRig : PageRig {
    FrameRig() {
        frame.OnCreate();
        ui.timerLog.clear();
    }
    void Select(DeviceRecord& record) {
        frame.Tree().Clear();
        const int item = frame.Tree().InsertItem("device", 0, CDeviceTree::kNoItem);
        frame.Tree().SetItemData(item, &record);
        frame.Tree().Select(item);
    }
    CMainFrame frame{platform};
};

TEST(PsocCommands, TheSheetAndIbisExtraOpenTheDeviceAndRestartTheCountdown) {
    FrameRig rig;
    DeviceRecord condor{5, static_cast<std::uint32_t>(family::kCondor), ""};
    rig.Select(condor);
    std::vector<std::string> shown;
    rig.ui.onDialog = [&shown](CDialogModel& dialog) {
        auto* sheet = dynamic_cast<CSpecPropSheet*>(&dialog);
        for (CPsocPage* page : sheet != nullptr ? sheet->Pages() : std::vector<CPsocPage*>{}) {
            shown.push_back(page->Caption());
        }
        return mb::kIdOk;
    };
    EXPECT_TRUE(rig.frame.OnCommand(cmd::kPsocDiags));
    EXPECT_EQ(shown, std::vector<std::string>{"Condor PSOC"});
    EXPECT_EQ(rig.driver.openedPaths, std::vector<std::string>{"\\\\.\\Ezusb-5"});
    EXPECT_EQ(rig.driver.closedHandles.size(), 1u);
    EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 999 1000"}));
    EXPECT_EQ(rig.frame.propertySheet, nullptr);

    // Ibis Extra on another family opens nothing but still opens and closes
    // the device and restarts the countdown.
    rig.ui.timerLog.clear();
    rig.ui.dialogsShown.clear();
    EXPECT_TRUE(rig.frame.OnCommand(cmd::kIbisExtra));
    EXPECT_TRUE(rig.ui.dialogsShown.empty());
    EXPECT_EQ(rig.driver.closedHandles.size(), 2u);
    EXPECT_EQ(rig.ui.timerLog.back(), "set 999 1000");
    // ... and says why, as PSOC Diags. does on a family without a page
    // (the buttons stay enabled from the device read before).
    DeviceRecord heron{7, static_cast<std::uint32_t>(family::kHeron), ""};
    rig.Select(heron);
    EXPECT_TRUE(rig.frame.OnCommand(cmd::kPsocDiags));
    EXPECT_TRUE(rig.ui.dialogsShown.empty());
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{"device has no Ibis temperature-controller page.",
                                                               "device has no PSOC diagnostics page."}));
    EXPECT_EQ(rig.driver.closedHandles.size(), 3u);

    // On a busy device it does nothing at all.
    DeviceRecord ibis{6, static_cast<std::uint32_t>(family::kIbis), ""};
    rig.Select(ibis);
    rig.frame.jobBusy[6].store(1);
    rig.ui.timerLog.clear();
    EXPECT_FALSE(rig.frame.OnIbisExtra().Ok());
    EXPECT_TRUE(rig.ui.timerLog.empty());
    rig.frame.jobBusy[6].store(0);
    EXPECT_TRUE(rig.frame.OnIbisExtra().Ok());
    EXPECT_EQ(rig.ui.dialogsShown, std::vector<std::string>{"Ibis PSOC"});
}

}  // namespace
}  // namespace spindle::test
