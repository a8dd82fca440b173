// EEPROM programming jobs on the frame, run on the simulated bench whose
// chips execute our loaders: many devices at once, the countdown and its
// bars, and a result that says what really happened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "device/EzusbRequests.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/GateDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

constexpr std::uint32_t kKestrel = 0, kOsprey = 3, kKestrelPlus = 4, kFalcon = 6;

std::vector<std::uint8_t> Image(std::uint32_t length, std::uint8_t bootByte, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> image(length);
    for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>((i * 7 + seed + (i >> 8)) & 0xFF);
    if (length > 0) image[0] = bootByte;
    return image;
}

struct JobRig {
    JobRig() {
        frame.OnCreate();
        ui.timerLog.clear();
    }
    ~JobRig() {
        gate.Release();
        frame.WaitForJobs();
    }
    std::string WriteImage(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = folder.File(name);
        WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }
    DeviceRecord Record(std::uint32_t index) {
        return {index, static_cast<std::uint32_t>(FamilyCodeOf(index)), ""};
    }
    static int FamilyCodeOf(std::uint32_t index) {
        switch (index) {
            case kKestrel: return 2;
            case kOsprey: return 4;
            case kKestrelPlus: return 14;
            case kFalcon: return 10;
            default: return 12;
        }
    }
    Outcome Start(std::uint32_t index, const std::string& path, EepromJobOptions options = {}) {
        return frame.StartEepromJob(Record(index), path, options);
    }
    // Lets every worker finish, then one countdown tick collects them.
    void Finish() {
        gate.Release();
        frame.WaitForJobs();
        frame.OnTimer(timer::kEepromCountdown);
    }
    // Fills the tree from the bench and selects the device at `index`.
    void SelectInTree(std::uint32_t index) {
        frame.OnInitialUpdate();
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.record != nullptr && item.record->index == index && item.record->family != family::kLantern) {
                frame.OnTreeSelectionChanged(item.id);
                return;
            }
        }
        ADD_FAILURE() << "no tree item for device " << index;
    }
    std::vector<std::uint8_t> Eeprom(std::uint32_t index, std::uint32_t length) {
        return bench->Device(static_cast<int>(index))->Eeprom(0, length);
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

std::string Complete(std::uint32_t index) {
    return "EEPROM Programming Complete.\n\nPlease disconnect and reconnect the USB cable\nfrom the device " +
           std::to_string(index) + " before continuing.";
}

TEST(ProgramJob, DevicesOfBothGenerationsAreProgrammedInParallelAndReadBackExactly) {
    JobRig rig;
    const auto ezusbImage = Image(16384, 0xB2, 3);
    const auto fx2Image = Image(16384, 0xC2, 9);
    const std::string ezusb = rig.WriteImage("Osprey.iic", ezusbImage);
    const std::string fx2 = rig.WriteImage("fx2.iic", fx2Image);
    rig.gate.Hold();
    ASSERT_TRUE(rig.Start(kOsprey, ezusb).Ok());
    ASSERT_TRUE(rig.Start(kKestrelPlus, fx2).Ok());
    ASSERT_TRUE(rig.Start(kFalcon, fx2).Ok());
    // Busy from the start, before any worker ran: a second job is refused.
    EXPECT_FALSE(rig.Start(kFalcon, fx2).Ok());
    EXPECT_FALSE(rig.frame.IsCommandEnabled(cmd::kAppExit));
    EXPECT_EQ(rig.frame.JobRows().size(), 3u);
    rig.Finish();

    EXPECT_EQ(rig.Eeprom(kOsprey, 16384), ezusbImage);
    EXPECT_EQ(rig.Eeprom(kKestrelPlus, 16384), fx2Image);
    EXPECT_EQ(rig.Eeprom(kFalcon, 16384), fx2Image);
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{Complete(kOsprey), Complete(kKestrelPlus), Complete(kFalcon)}));
    // Each chip was reset through its own CPUCS; the image went in 4096-byte
    // requests whose value is the file offset.
    EXPECT_EQ(rig.bench->Device(kOsprey)->ResetRequests().front().address, 0x7F92);
    EXPECT_EQ(rig.bench->Device(kFalcon)->ResetRequests().front().address, 0xE600);
    std::vector<std::uint16_t> writes;
    for (const auto& request : rig.bench->Device(kFalcon)->VendorRequests()) {
        if (request.request == 0xA2 && request.direction == 0) {
            EXPECT_EQ(request.length, 4096u);
            EXPECT_EQ(request.index, 0xBEEF);
            writes.push_back(request.value);
        }
    }
    EXPECT_EQ(writes, (std::vector<std::uint16_t>{0x0000, 0x1000, 0x2000, 0x3000}));
    for (const JobRow& row : rig.frame.JobRows()) EXPECT_EQ(row.result, "succeeded, verified");
    EXPECT_TRUE(rig.frame.IsCommandEnabled(cmd::kAppExit));
    EXPECT_TRUE(rig.frame.CollectFinishedJobs().empty()) << "each job is reported once";
}

TEST(ProgramJob, TheCountdownShowsEachBusyDeviceAndReturnsToIdle) {
    JobRig rig;
    rig.frame.flags.manufacturingMode = 1;
    const std::string image = rig.WriteImage("Kestrel.iic", Image(16384, 0xB2));
    rig.gate.Hold();
    ASSERT_TRUE(rig.Start(kKestrel, image).Ok());
    EXPECT_TRUE(rig.trace.Lines().front().find("EstimatedEEPROMTime[0]=76, 0,16384") == 0);
    const ProgressPaneView created = rig.ui.panes[1];
    EXPECT_TRUE(created.open);
    EXPECT_EQ(created.width, 200);
    EXPECT_EQ(created.maximum, 76);
    EXPECT_EQ(created.barColour, 0xFF0000u);
    EXPECT_EQ(created.backgroundColour, 0u);
    EXPECT_EQ(rig.ui.timers.count(timer::kEepromCountdown), 1u);

    auto tick = [&rig](int times) {
        for (int i = 0; i < times; ++i) rig.frame.OnTimer(timer::kEepromCountdown);
    };
    tick(10);
    EXPECT_EQ(rig.ui.panes[1].text, "Dev 0-01:06");
    EXPECT_EQ(rig.ui.panes[1].position, 10);
    EXPECT_EQ(rig.ui.statusTexts[0], "Programming...");
    tick(1);
    EXPECT_EQ(rig.ui.statusTexts[0], "");
    EXPECT_FALSE(rig.ui.closeEnabled);

    // A second device, started later, still counts down while the first is
    // in its last ten seconds.
    tick(39);
    const std::string osprey = rig.WriteImage("Raptor.iic", Image(5000, 0xB2));  // 30 s
    ASSERT_TRUE(rig.Start(kOsprey, osprey).Ok());
    tick(15);  // 65 ticks: device 0 has 11 s left
    EXPECT_EQ(rig.ui.panes[1].text, "Dev 0-00:11");
    tick(1);
    EXPECT_EQ(rig.ui.panes[1].text, "");
    EXPECT_EQ(rig.ui.panes[4].text, "Dev 3-00:14");
    EXPECT_EQ(rig.ui.statusTexts[0], "***WAIT FOR PROMPT***");

    // Selecting a busy device disables the commands that would reach it.
    rig.frame.Tree().Clear();
    DeviceRecord busy = rig.Record(kKestrel);
    const int item = rig.frame.Tree().InsertItem("Kestrel", 0, CDeviceTree::kNoItem);
    rig.frame.Tree().SetItemData(item, &busy);
    rig.frame.Tree().Select(item);
    EXPECT_FALSE(rig.frame.IsCommandEnabled(cmd::kGetAllValues));
    EXPECT_FALSE(rig.frame.IsCommandEnabled(cmd::kRefreshTree));
    EXPECT_TRUE(rig.frame.IsCommandEnabled(cmd::kProgram));

    rig.ui.buttonVisible.clear();
    rig.Finish();
    EXPECT_EQ(rig.ui.statusTexts[0], "Ready");
    for (int pane : {1, 4}) {
        EXPECT_FALSE(rig.ui.panes[pane].open) << pane;
        EXPECT_FALSE(rig.ui.panes[pane].barShown) << pane;
    }
    EXPECT_TRUE(rig.ui.closeEnabled);
    EXPECT_EQ(rig.frame.programmingActive.load(), 0);
    EXPECT_TRUE(rig.ui.buttonVisible[cmd::kVerify]);
    EXPECT_TRUE(rig.ui.buttonVisible[cmd::kResetCoefs]);
    EXPECT_TRUE(rig.frame.IsCommandEnabled(cmd::kGetAllValues));
}

TEST(ProgramJob, AJobBeyondTheEightPanesRunsWithoutTouchingAnyPane) {
    JobRig rig;
    // A ninth device: an FX2 at index 20.
    sim::DeviceConfig config = sim::DeviceConfigFromJson(nlohmann::ordered_json::parse(
        R"({"index": 20, "vendorId": "0x04B4", "productId": "0x8613"})"));
    rig.bench->AddDevice(config);
    const auto bytes = Image(6000, 0xC2);
    const std::string image = rig.WriteImage("any.iic", bytes);
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.StartEepromJob({20, family::kUnprogrammedFx2, ""}, image).Ok());
    rig.frame.OnTimer(timer::kEepromCountdown);
    EXPECT_FALSE(rig.frame.IsCommandEnabled(cmd::kAppExit));
    EXPECT_FALSE(rig.frame.CanClose());
    EXPECT_TRUE(rig.ui.panes.empty());
    ASSERT_EQ(rig.frame.JobRows().size(), 1u);
    EXPECT_TRUE(rig.frame.JobRows()[0].running);
    EXPECT_EQ(rig.frame.JobRows()[0].secondsLeft, 33);
    rig.Finish();
    EXPECT_EQ(rig.Eeprom(20, 6000), bytes);
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{Complete(20)});
    EXPECT_TRUE(rig.frame.IsCommandEnabled(cmd::kAppExit));
}

TEST(ProgramJob, FailuresAreReportedStepByStepAndStillAskToReconnect) {
    JobRig rig;
    const auto bytes = Image(16384, 0xB2);
    const std::string image = rig.WriteImage("Kestrel.iic", bytes);
    const std::string reconnect = "Please disconnect and reconnect the USB cable\nfrom the device ";

    // One write refused by the device.
    rig.gate.fail = [](std::uint32_t code, const std::uint8_t* in, std::uint32_t) {
        if (code != ioctl::kVendorOrClassRequest) return false;
        const VendorRequestControl block = VendorRequestControl::Decode(in);
        return block.request == 0xA2 && block.direction == 0 && block.value == 0x1000;
    };
    ASSERT_TRUE(rig.Start(kKestrel, image).Ok());
    // The device is gone before its job opens it.
    rig.bench->RemoveDevice(kOsprey);
    ASSERT_TRUE(rig.Start(kOsprey, image).Ok());
    rig.Finish();
    // The refused write's box comes first, once, as the window shows it.
    const std::vector<std::string> all = rig.ui.MessageTexts();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], "Error in Vendor request.");
    const std::vector<std::string> texts(all.begin() + 1, all.end());
    EXPECT_EQ(texts[0].rfind("EEPROM Programming Failed on device 0.", 0), 0u) << texts[0];
    EXPECT_NE(texts[0].find("1 of 4 writes failed (at 0x1000)"), std::string::npos) << texts[0];
    // The block that was never written reads back as whatever was there.
    EXPECT_NE(texts[0].find("differs from the image first at address 0x1000"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find(reconnect + "0 before continuing."), std::string::npos);
    EXPECT_NE(texts[1].find("device 3 could not be opened"), std::string::npos) << texts[1];
    EXPECT_EQ(rig.ui.Messages()[2].style & mb::kIconError, mb::kIconError);

    // An EEPROM half the image's size: the second half wraps onto the first,
    // which only the read-back shows.
    rig.ui.ClearMessages();
    rig.gate.fail = nullptr;
    sim::DeviceConfig small = sim::DeviceConfigFromJson(nlohmann::ordered_json::parse(
        R"({"index": 30, "vendorId": "0x0547", "productId": "0x2131", "eeprom": {"size": 8192}})"));
    rig.bench->AddDevice(small);
    ASSERT_TRUE(rig.frame.StartEepromJob({30, family::kUnprogrammedEzusb, ""}, image).Ok());
    rig.Finish();
    ASSERT_EQ(rig.ui.MessageTexts().size(), 1u);
    EXPECT_NE(rig.ui.MessageTexts()[0].find("differs from the image first at address 0x0000"), std::string::npos)
        << rig.ui.MessageTexts()[0];
}

TEST(ProgramJob, ImagesAreCheckedBeforeAnythingIsWritten) {
    JobRig rig;
    // Longer than the 16-bit EEPROM address reaches.
    const std::string huge = rig.WriteImage("huge.iic", Image(65537, 0xB2));
    EXPECT_FALSE(rig.Start(kKestrel, huge).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(0).find("65536"), std::string::npos);
    EXPECT_FALSE(rig.frame.JobRunning(kKestrel));
    EXPECT_TRUE(rig.frame.JobRows().empty());

    // An FX2 image for an EZ-USB device, and an image with no boot marker, ask first.
    const std::string fx2 = rig.WriteImage("fx2.iic", Image(100, 0xC2));
    const std::string odd = rig.WriteImage("odd.iic", Image(100, 0x42));
    rig.ui.ClearMessages();
    rig.ui.QueueAnswer(mb::kIdNo);
    EXPECT_FALSE(rig.Start(kKestrel, fx2).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(0).find("fx2.iic is an image for an EZ-USB FX2 chip, but device 0 has an EZ-USB chip"),
              std::string::npos) << rig.ui.MessageTexts()[0];
    rig.ui.QueueAnswer(mb::kIdNo);
    EXPECT_FALSE(rig.Start(kFalcon, odd).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(1).find("first byte is 0x42"), std::string::npos);
    rig.frame.WaitForJobs();
    EXPECT_TRUE(rig.bench->Device(kKestrel)->VendorRequests().empty());

    // An empty image would "program" nothing: it is refused before the job.
    rig.ui.ClearMessages();
    const std::string empty = rig.WriteImage("empty.iic", {});
    EXPECT_FALSE(rig.Start(kFalcon, empty).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(0).find("empty.iic is empty"), std::string::npos);
    EXPECT_FALSE(rig.frame.JobRunning(kFalcon));
    EXPECT_TRUE(rig.bench->Device(kFalcon)->VendorRequests().empty());
}

TEST(ProgramJob, ABackupHoldsTheOldContentsAndNoVerifySkipsTheReadBack) {
    JobRig rig;
    const auto first = Image(8192, 0xB2, 5);
    const auto second = Image(8192, 0xB2, 77);
    ASSERT_TRUE(rig.Start(kKestrel, rig.WriteImage("one.iic", first)).Ok());
    rig.Finish();
    EepromJobOptions options;
    options.backupFolder = rig.folder.Path().string();
    options.verify = false;
    ASSERT_TRUE(rig.Start(kKestrel, rig.WriteImage("two.iic", second), options).Ok());
    rig.gate.Release();
    rig.frame.WaitForJobs();
    const std::vector<FinishedJob> finished = rig.frame.CollectFinishedJobs();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_TRUE(finished[0].result.ok);
    EXPECT_FALSE(finished[0].result.verified);
    EXPECT_EQ(ReadWholeFile(finished[0].result.backupPath), std::string(first.begin(), first.end()));
    EXPECT_EQ(rig.Eeprom(kKestrel, 8192), second);
}

TEST(ProgramJob, ProgramAsksForAFileOfTheFamilyAndStartsTheJob) {
    JobRig rig;
    rig.SelectInTree(kFalcon);
    rig.ui.timerLog.clear();
    // Cancelled: nothing starts, and the countdown was stopped for the dialog.
    EXPECT_FALSE(rig.frame.OnProgram().Ok());
    ASSERT_EQ(rig.ui.fileRequests.size(), 1u);
    const FileChoice& asked = rig.ui.fileRequests[0];
    EXPECT_EQ(asked.title, "Select EEPROM Program");
    EXPECT_EQ(asked.filter, "EEPROM Programs (*.iic)|Falcon_2*.iic|All Files (*.*)|*.*|");  // revision byte 2
    EXPECT_EQ(asked.defaultExtension, "iic");
    EXPECT_TRUE(rig.frame.JobRows().empty());
    EXPECT_EQ(rig.ui.timerLog, std::vector<std::string>{"kill 999"});

    // In manufacturing mode the coefficients may be reset and saved first,
    // but only for an image that passed its checks: an empty one is refused
    // before the question, and the buttons stay as they were.
    rig.frame.flags.manufacturingMode = 1;
    rig.ui.buttonVisible.clear();
    rig.ui.filesToChoose.push_back(rig.WriteImage("Falcon_2_empty.iic", {}));
    EXPECT_FALSE(rig.frame.OnProgram().Ok());
    ASSERT_EQ(rig.ui.MessageTexts().size(), 1u);
    EXPECT_NE(rig.ui.MessageTexts()[0].find("is empty"), std::string::npos);
    EXPECT_TRUE(rig.ui.buttonVisible.empty());
    rig.ui.ClearMessages();
    const auto bytes = Image(4096, 0xC2);
    rig.ui.filesToChoose.push_back(rig.WriteImage("Falcon_2_v3.iic", bytes));
    rig.ui.QueueAnswer(mb::kIdYes);
    rig.clock.ClearSleeps();
    rig.gate.Hold();
    EXPECT_TRUE(rig.frame.OnProgram().Ok());
    EXPECT_EQ(rig.ui.MessageTexts().at(0), "Would you like to reset coefficients?");
    EXPECT_FALSE(rig.ui.buttonVisible[cmd::kVerify]);
    EXPECT_FALSE(rig.ui.buttonVisible[cmd::kResetCoefs]);
    EXPECT_EQ(rig.clock.Sleeps().back(), 2000u);
    EXPECT_EQ(rig.ui.timers.count(timer::kEepromCountdown), 1u);
    // A second Program on the busy device does nothing at all.
    EXPECT_TRUE(rig.frame.OnProgram().done.empty());
    EXPECT_EQ(rig.ui.fileRequests.size(), 3u);
    rig.Finish();
    EXPECT_EQ(rig.Eeprom(kFalcon, 4096), bytes);
    EXPECT_EQ(rig.ui.MessageTexts().back(), Complete(kFalcon));

    // A device that cannot be opened counts as hardware revision 1.
    rig.bench->RemoveDevice(kFalcon);
    rig.frame.OnProgram();
    EXPECT_EQ(rig.ui.fileRequests.back().filter, "EEPROM Programs (*.iic)|Falcon_1*.iic|All Files (*.*)|*.*|");
}

}  // namespace
}  // namespace spindle::test
