// FPGA jobs on the frame, run on the simulated bench whose FX2s run our
// player: the command's dialog and buttons, timer 998's countdown and the
// bar that follows the stream, jobs beside EEPROM jobs and a scan, and
// results that say what happened.
#include "FrameRig.h"

#include <algorithm>
#include <thread>

namespace spindle::test {
namespace {

// An XSVF program of exactly `size` bytes: a comment, one 1-bit XSIR, XCOMPLETE.
std::string CommentProgram(FrameRig& rig, std::size_t size) {
    std::string bytes(size, 'x');
    bytes[0] = 0x16;
    bytes.replace(size - 5, 5, std::string("\x00\x02\x01\x00\x00", 5));
    return rig.Write("comment.xsvf", bytes);
}

TEST(FpgaJob, ProgramFpgaAsksForTheFileAndCountsTheJobDownOnTimer998) {
    FrameRig rig;
    rig.frame.flags.manufacturingMode = 1;
    rig.Select(kFalcon);
    ASSERT_TRUE(rig.frame.IsCommandEnabled(cmd::kProgramFpga)) << "Get All Values enables it for a Falcon";
    rig.ui.filesToChoose.push_back(CommentProgram(rig, 100000));
    rig.ui.buttonVisible.clear();
    rig.ui.timerLog.clear();
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.OnCommand(cmd::kProgramFpga));
    ASSERT_EQ(rig.ui.fileRequests.size(), 1u);
    EXPECT_EQ(rig.ui.fileRequests[0].filter, "XSVF Files (*.xsvf)|*.xsvf|All Files (*.*)|*.*|");
    // The countdown stopped for the dialog; 998 runs the job's.
    EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 998 1000"}));
    EXPECT_FALSE(rig.ui.buttonVisible.at(cmd::kLinearityCoefs));
    // 100000 bytes: the player's 5 s, 1617 packets of 10 ms and the 10 s after.
    EXPECT_EQ(rig.frame.fpgaDeadline[kFalcon], 32);
    EXPECT_EQ(rig.ui.panes[kFalcon + 1].maximum, 32);
    // A second Program FPGA on the busy device does nothing.
    rig.frame.OnCommand(cmd::kProgramFpga);
    EXPECT_EQ(rig.ui.fileRequests.size(), 1u);

    rig.Tick(timer::kFpgaCountdown, 10);
    EXPECT_EQ(rig.ui.panes[kFalcon + 1].text, "Dev 6-00:22");
    EXPECT_EQ(rig.ui.panes[kFalcon + 1].position, 0) << "the countdown does not move an FPGA bar";
    EXPECT_EQ(rig.ui.statusTexts[0], "Programming...");
    rig.Tick(timer::kFpgaCountdown);
    EXPECT_EQ(rig.ui.statusTexts[0], "");
    EXPECT_FALSE(rig.ui.closeEnabled);
    rig.Tick(timer::kFpgaCountdown, 21);
    EXPECT_EQ(rig.ui.panes[kFalcon + 1].text, "Dev 6 finishing") << "past its estimate, not stuck at 0:00";

    rig.ui.buttonVisible.clear();
    rig.Finish(timer::kFpgaCountdown);
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{Complete("FPGA", kFalcon)});
    // The player went in with the FX2's CPUCS.
    EXPECT_EQ(rig.bench->Device(kFalcon)->ResetRequests().front().address, 0xE600);
    EXPECT_EQ(rig.ui.statusTexts[0], "Ready");
    EXPECT_FALSE(rig.ui.panes[kFalcon + 1].open);
    EXPECT_TRUE(rig.ui.closeEnabled);
    for (int button : {cmd::kVerify, cmd::kResetCoefs, cmd::kLinearityCoefs}) {
        EXPECT_TRUE(rig.ui.buttonVisible.at(button)) << button;
    }
    EXPECT_EQ(rig.frame.JobRows().at(0).result, "succeeded");
}

TEST(FpgaJob, TheBarFollowsTheBytesSentWhicheverCountdownTicks) {
    FrameRig rig;
    rig.gate.Hold();  // the worker waits at its first request
    ASSERT_TRUE(rig.frame.StartFpgaJob(rig.Record(kFalcon), Examples("demo-design.xsvf")).Ok());
    ASSERT_TRUE(rig.frame.StartEepromJob(rig.Record(kOsprey), rig.Write("osprey.iic", Image(65536, 0xB2))).Ok());
    // What the worker reports once streaming: 1000 of 8290 bytes sent. The
    // worker first reports its player phase, then waits at the gate; the
    // entry is written here only after that, so the two never race.
    JobEntry& entry = rig.frame.jobs[kFalcon];
    while (entry.Phase() != JobPhase::Player) std::this_thread::yield();
    entry.Enter(JobPhase::Streaming, 8290);
    entry.Advance(1000);
    rig.Tick(timer::kEepromCountdown);
    const ProgressPaneView& bar = rig.ui.panes[kFalcon + 1];
    EXPECT_EQ(bar.maximum, 8290);
    EXPECT_EQ(bar.position, 1000);
    EXPECT_EQ(bar.text, "Dev 6-00:16") << "the FPGA deadline, not the EEPROM one";
    EXPECT_EQ(rig.ui.panes[kOsprey + 1].text, "Dev 3-00:15");
    // The jobs panel and the command line weigh the steps by their expected times: the
    // player's 5 s, 138 packets of 10 ms (1000 of the 8290 bytes sent), the 10 s settling.
    EXPECT_EQ(rig.frame.JobRows().at(1).percent, (5000 * 100 + 1380 * 100 * 1000 / 8290) / (5000 + 1380 + 10000));
    // The whole file sent: the player's last wait.
    entry.Advance(7290);
    rig.Tick(timer::kFpgaCountdown);
    EXPECT_EQ(rig.ui.statusTexts[0], "***WAIT FOR PROMPT***");
}

// The window's thread goes on while workers run: a Refresh Tree beside an
// FPGA and an EEPROM job leaves the busy devices alone, the window refuses
// to close, and a frame torn down mid-job (the process ending) waits for its
// workers, which still finish their devices. Run under the thread sanitizer.
TEST(FpgaJob, AScanAndACloseBesideRunningJobs) {
    FrameRig rig;
    const std::string image = Image(8192, 0xB2), design = rig.PaddedDesign();
    auto frame = std::make_unique<CMainFrame>(rig.platform);
    frame->OnCreate();
    ASSERT_TRUE(frame->StartFpgaJob(rig.Record(kFalcon), design).Ok());
    ASSERT_TRUE(frame->StartEepromJob(rig.Record(kOsprey), rig.Write("osprey.iic", image)).Ok());
    EXPECT_FALSE(frame->StartFpgaJob(rig.Record(kFalcon), design).Ok()) << "a busy device takes no second job";
    for (int scan = 0; scan < 3; ++scan) {
        frame->OnRefreshTree();
        for (const TreeItem& item : frame->Tree().Items()) {
            if (item.record == nullptr) continue;
            EXPECT_NE(frame->jobBusy[item.record->index].load(), 1) << "busy device " << item.record->index << " was scanned";
        }
        frame->OnTimer(timer::kEepromCountdown);
        frame->OnTimer(timer::kFpgaCountdown);
    }
    if (frame->AnyDeviceBusy()) EXPECT_FALSE(frame->CanClose());
    frame.reset();  // waits for both workers
    EXPECT_EQ(rig.Eeprom(kOsprey, 8192), Bytes(image));
    EXPECT_TRUE(rig.Configured(kFalcon));
}

TEST(FpgaJob, WhatIsNotXsvfIsRefusedAndAFailedJobSaysWhy) {
    FrameRig rig;
    EXPECT_FALSE(rig.frame.StartFpgaJob(rig.Record(kFalcon), Examples("demo-bench.json")).Ok());
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{Examples("demo-bench.json") +
                                                               " is not an XSVF file that can be played: byte 0x7B at "
                                                               "offset 0 is not an XSVF command.\n\nNothing was sent to "
                                                               "device 6."});
    EXPECT_EQ(rig.frame.jobBusy[kFalcon].load(), 0);
    EXPECT_TRUE(rig.ui.timerLog.empty());

    // The application folder holds no player: the job stops before the stream.
    rig.ui.ClearMessages();
    rig.frame.applicationPath = rig.folder.File("");
    ASSERT_TRUE(rig.frame.StartFpgaJob(rig.Record(kFalcon), Examples("demo-design.xsvf")).Ok());
    // The device ends a wrong design's stream early.
    ASSERT_TRUE(rig.frame.StartFpgaJob(rig.Record(kOspreyPlus), Examples("wrong-idcode.xsvf"),
                                       {SPINDLE_FPGA_PLAYER_HEX, {}})
                    .Ok());
    rig.Finish(timer::kFpgaCountdown);
    // The boxes the jobs met come before their completion boxes.
    const auto all = rig.ui.MessageTexts();
    EXPECT_NE(std::find(all.begin(), all.end(), "Unable to open RaptorFPGA File"), all.end());
    const std::string failed6 = "FPGA Programming Failed on device 6.\n\n- the FPGA player " + rig.folder.File("") +
                                "/RaptorFPGA.hex could not be loaded, so nothing was sent\n\n" + Reconnect(kFalcon);
    EXPECT_EQ(all.at(all.size() - 2), failed6);
    EXPECT_TRUE(rig.bench->Device(kFalcon)->ResetRequests().empty());
    EXPECT_EQ(all.back().rfind("FPGA Programming Failed on device 7.\n\n- the device ended the stream early, after taking ", 0),
              0u) << all.back();
    EXPECT_FALSE(rig.Configured(kOspreyPlus));
}

}  // namespace
}  // namespace spindle::test
