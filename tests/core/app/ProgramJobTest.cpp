// EEPROM programming jobs on the frame, run on the simulated bench whose
// chips execute our loaders: many devices at once, the countdown and its
// bars, and a result that says what really happened.
#include "FrameRig.h"

#include "device/EzusbRequests.h"

namespace spindle::test {
namespace {

std::string Done(std::uint32_t index) { return Complete("EEPROM", index); }

TEST(ProgramJob, DevicesOfBothGenerationsAreProgrammedInParallelAndReadBackExactly) {
    FrameRig rig;
    const std::string ezusbImage = Image(16384, 0xB2, 3), fx2Image = Image(16384, 0xC2, 9);
    const std::string fx2 = rig.Write("fx2.iic", fx2Image);
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kOsprey), rig.Write("Osprey.iic", ezusbImage)).Ok());
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kFalcon), fx2).Ok());
    // Busy from the start, before any worker ran: a second job is refused.
    EXPECT_FALSE(rig.frame.StartEepromJob(rig.Record(kFalcon), fx2).Ok());
    EXPECT_FALSE(rig.frame.IsCommandEnabled(cmd::kAppExit));
    rig.Finish();

    EXPECT_EQ(rig.Eeprom(kOsprey, 16384), Bytes(ezusbImage));
    EXPECT_EQ(rig.Eeprom(kFalcon, 16384), Bytes(fx2Image));
    EXPECT_EQ(rig.ui.MessageTexts(), (std::vector<std::string>{Done(kOsprey), Done(kFalcon)}));
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
    FrameRig rig;
    rig.frame.flags.manufacturingMode = 1;
    const std::string image = rig.Write("Kestrel.iic", Image(65536, 0xB2));
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kKestrel), image).Ok());
    // 1024 pages of 5 ms, and 65536 bytes written and read back at 80 us each.
    EXPECT_EQ(rig.trace.Lines().front().rfind("EstimatedEEPROMTime[0]=16, 0,65536", 0), 0u);
    EXPECT_EQ(rig.ui.panes[1].maximum, 16);

    rig.Tick(timer::kEepromCountdown, 4);
    EXPECT_EQ(rig.ui.panes[1].text, "Dev 0-00:12");
    EXPECT_EQ(rig.ui.panes[1].position, 4);
    EXPECT_EQ(rig.ui.statusTexts[0], "Programming...");
    rig.Tick(timer::kEepromCountdown);
    EXPECT_EQ(rig.ui.panes[1].text, "Dev 0-00:11");
    EXPECT_EQ(rig.ui.statusTexts[0], "");
    EXPECT_FALSE(rig.ui.closeEnabled);

    // A second device, started later, still counts down while the first is
    // in its last ten seconds.
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kOsprey), rig.Write("Raptor.iic", Image(65536, 0xB2))).Ok());
    rig.Tick(timer::kEepromCountdown);
    EXPECT_EQ(rig.ui.panes[1].text, "");
    EXPECT_EQ(rig.ui.panes[4].text, "Dev 3-00:15");
    EXPECT_EQ(rig.ui.statusTexts[0], "***WAIT FOR PROMPT***");
    // Past its estimate a job is finishing, not stuck at 0:00, in its pane,
    // its row and the refusal to close.
    rig.Tick(timer::kEepromCountdown, 10);
    EXPECT_EQ(rig.ui.panes[1].text, "Dev 0 finishing");
    EXPECT_EQ(rig.ui.panes[1].position, 16);
    EXPECT_EQ(rig.frame.JobRows().at(0).secondsLeft, 0);
    EXPECT_NE(rig.frame.CloseRefusal().find("device 0: EEPROM job, finishing"), std::string::npos);

    rig.ui.buttonVisible.clear();
    rig.Finish();
    EXPECT_EQ(rig.ui.statusTexts[0], "Ready");
    EXPECT_FALSE(rig.ui.panes[1].open);
    EXPECT_FALSE(rig.ui.panes[4].barShown);
    EXPECT_TRUE(rig.ui.closeEnabled);
    EXPECT_TRUE(rig.ui.buttonVisible[cmd::kVerify]);
    EXPECT_TRUE(rig.ui.buttonVisible[cmd::kResetCoefs]);
}

TEST(ProgramJob, AJobBeyondTheEightPanesRunsWithoutTouchingAnyPane) {
    FrameRig rig;
    rig.bench->AddDevice(sim::DeviceConfigFromJson(
        nlohmann::ordered_json::parse(R"({"index": 20, "vendorId": "0x04B4", "productId": "0x8613"})")));
    const std::string bytes = Image(40000, 0xC2);
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.StartEepromJob({20, family::kUnprogrammedFx2, ""}, rig.Write("any.iic", bytes)).Ok());
    rig.Tick(timer::kEepromCountdown);
    EXPECT_FALSE(rig.frame.CanClose());
    EXPECT_TRUE(rig.ui.panes.empty());
    ASSERT_EQ(rig.frame.JobRows().size(), 1u);
    EXPECT_EQ(rig.frame.JobRows()[0].secondsLeft, 3);
    rig.Finish();
    EXPECT_EQ(rig.Eeprom(20, 40000), Bytes(bytes));
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{Done(20)});
}

TEST(ProgramJob, TheEstimatesMeetThePacedBench) {
    // With the host's clock the bench answers each request once the chip's
    // time for it has passed, as a device does: the countdown should reach
    // 0:00 within a second after the job's end, not a minute after.
    FrameRig rig;
    rig.bench->SetClock(&rig.clock);
    const auto meets = [&](std::uint32_t index, const Outcome& started) {
        ASSERT_TRUE(started.Ok());
        rig.frame.WaitForJobs();
        const JobEntry& entry = rig.frame.jobs[index];
        ASSERT_TRUE(entry.result.Ok());
        const std::uint64_t tookMs = entry.finishedMs - entry.startedMs;
        const auto estimateMs = static_cast<std::uint64_t>(rig.ui.panes[index + 1].maximum) * 1000;
        EXPECT_TRUE(tookMs <= estimateMs && estimateMs < tookMs + 1000) << index << ": " << tookMs;
    };
    const EepromJobOptions writeOnly{.verify = false};
    meets(kKestrel, rig.frame.StartEepromJob(rig.Record(kKestrel), rig.Write("k.iic", Image(16384, 0xB2))));
    meets(kOsprey, rig.frame.StartEepromJob(rig.Record(kOsprey), rig.Write("o.iic", Image(40000, 0xB2)), writeOnly));
    meets(kFalcon, rig.frame.StartEepromJob(rig.Record(kFalcon), rig.Write("f.iic", Image(16384, 0xC2))));
    meets(kOspreyPlus, rig.frame.StartFpgaJob(rig.Record(kOspreyPlus), Examples("demo-design.xsvf"),
                                              {SPINDLE_FPGA_PLAYER_HEX, {}}));
}

TEST(ProgramJob, FailuresAreReportedStepByStepAndStillAskToReconnect) {
    FrameRig rig;
    const std::string image = rig.Write("Kestrel.iic", Image(16384, 0xB2));
    // One write refused by the device.
    rig.gate.fail = [](std::uint32_t code, const std::uint8_t* in, std::uint32_t) {
        if (code != ioctl::kVendorOrClassRequest) return false;
        const VendorRequestControl block = VendorRequestControl::Decode(in);
        return block.request == 0xA2 && block.direction == 0 && block.value == 0x1000;
    };
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kKestrel), image).Ok());
    // The device is gone before its job opens it.
    rig.bench->RemoveDevice(kOsprey);
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kOsprey), image).Ok());
    rig.Finish();
    // The refused write's box comes first, once, as the window shows it.
    const std::vector<std::string> texts = rig.ui.MessageTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Error in Vendor request.");
    for (const std::string& part : {std::string("EEPROM Programming Failed on device 0.\n"), std::string("1 of 4 writes failed (at 0x1000)"),
                                    std::string("differs from the image first at address 0x1000"), Reconnect(0)}) {
        EXPECT_NE(texts[1].find(part), std::string::npos) << texts[1];
    }
    EXPECT_NE(texts[2].find("device 3 could not be opened"), std::string::npos) << texts[2];
    EXPECT_EQ(rig.ui.Messages()[2].style & mb::kIconError, mb::kIconError);
}

TEST(ProgramJob, ImagesAreCheckedBeforeAnythingIsWritten) {
    FrameRig rig;
    // Longer than the 16-bit EEPROM address reaches.
    EXPECT_FALSE(rig.frame.StartEepromJob(rig.Record(kKestrel), rig.Write("huge.iic", Image(65537, 0xB2))).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(0).find("65536"), std::string::npos);
    // An FX2 image for an EZ-USB device, and an image with no boot marker, ask first.
    rig.ui.ClearMessages();
    rig.ui.QueueAnswer(mb::kIdNo);
    EXPECT_FALSE(rig.frame.StartEepromJob(rig.Record(kKestrel), rig.Write("fx2.iic", Image(100, 0xC2))).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(0).find("fx2.iic is an image for an EZ-USB FX2 chip, but device 0 has an EZ-USB chip"),
              std::string::npos) << rig.ui.MessageTexts()[0];
    // An empty image would "program" nothing: it is refused before the job.
    EXPECT_FALSE(rig.frame.StartEepromJob(rig.Record(kFalcon), rig.Write("empty.iic", "")).Ok());
    EXPECT_NE(rig.ui.MessageTexts().at(1).find("empty.iic is empty"), std::string::npos);
    rig.frame.WaitForJobs();
    EXPECT_TRUE(rig.frame.JobRows().empty());
    EXPECT_TRUE(rig.bench->Device(kKestrel)->VendorRequests().empty());
    EXPECT_TRUE(rig.bench->Device(kFalcon)->VendorRequests().empty());
}

TEST(ProgramJob, ProgramAsksForAFileOfTheFamilyAndStartsTheJob) {
    FrameRig rig;
    rig.Select(kFalcon);
    rig.ui.timerLog.clear();
    // Cancelled: nothing starts, and the countdown was stopped for the dialog.
    EXPECT_FALSE(rig.frame.OnProgram().Ok());
    ASSERT_EQ(rig.ui.fileRequests.size(), 1u);
    EXPECT_EQ(rig.ui.fileRequests[0].filter, "EEPROM Programs (*.iic)|Falcon_2*.iic|All Files (*.*)|*.*|");  // revision byte 2
    EXPECT_TRUE(rig.frame.JobRows().empty());
    EXPECT_EQ(rig.ui.timerLog, std::vector<std::string>{"kill 999"});

    // In manufacturing mode the coefficients may be reset and saved first,
    // but only for an image that passed its checks: an empty one is refused
    // before the question, and the buttons stay as they were.
    rig.frame.flags.manufacturingMode = 1;
    rig.ui.buttonVisible.clear();
    rig.ui.filesToChoose.push_back(rig.Write("Falcon_2_empty.iic", ""));
    EXPECT_FALSE(rig.frame.OnProgram().Ok());
    EXPECT_TRUE(rig.ui.buttonVisible.empty());
    rig.ui.ClearMessages();
    const std::string bytes = Image(4096, 0xC2);
    rig.ui.filesToChoose.push_back(rig.Write("Falcon_2_v3.iic", bytes));
    rig.ui.QueueAnswer(mb::kIdYes);
    rig.clock.ClearSleeps();
    rig.gate.Hold();
    EXPECT_TRUE(rig.frame.OnProgram().Ok());
    EXPECT_EQ(rig.ui.MessageTexts().at(0), "Would you like to reset coefficients?");
    EXPECT_FALSE(rig.ui.buttonVisible[cmd::kVerify]);
    EXPECT_EQ(rig.clock.Sleeps().back(), 2000u);
    // A second Program on the busy device does nothing at all.
    EXPECT_TRUE(rig.frame.OnProgram().done.empty());
    EXPECT_EQ(rig.ui.fileRequests.size(), 3u);
    rig.Finish();
    EXPECT_EQ(rig.Eeprom(kFalcon, 4096), Bytes(bytes));
    EXPECT_EQ(rig.ui.MessageTexts().back(), Done(kFalcon));

    // A device that cannot be opened counts as hardware revision 1.
    rig.bench->RemoveDevice(kFalcon);
    rig.frame.OnProgram();
    EXPECT_EQ(rig.ui.fileRequests.back().filter, "EEPROM Programs (*.iic)|Falcon_1*.iic|All Files (*.*)|*.*|");
}

}  // namespace
}  // namespace spindle::test
