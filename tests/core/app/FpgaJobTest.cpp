// FPGA jobs on the frame, run on the simulated bench whose FX2s run our
// player: the command's dialog and buttons, timer 998's countdown and the
// bar that follows the stream, jobs beside EEPROM jobs, and results that say
// what happened.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <thread>
#include <vector>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/GateDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

constexpr std::uint32_t kOspreyDevice = 3, kFalconDevice = 6, kOspreyPlusDevice = 7;

std::string Examples(const char* name) { return std::string(SPINDLE_SOURCE_DIR) + "/examples/" + name; }

std::string Reconnect(std::uint32_t index) {
    return "Please disconnect and reconnect the USB cable\nfrom the device " + std::to_string(index) +
           " before continuing.";
}

// The bench runs without the host's clock here: its chips run only during
// requests, which keeps these jobs cheap (they also run under the thread
// sanitizer). A design whose length is a multiple of 62 bytes ends with an
// empty packet, whose answer the host waits for while the player finishes.
struct FpgaRig {
    FpgaRig() {
        frame.OnCreate();
        ui.timerLog.clear();
    }
    // The example design behind a comment that pads it to a multiple of 62.
    std::string PaddedDesign() {
        const std::string design = ReadWholeFile(Examples("demo-design.xsvf"));
        const std::size_t pad = (62 - (design.size() + 2) % 62) % 62;
        const std::string path = folder.File("padded-design.xsvf");
        WriteWholeFile(path, "\x16" + std::string(pad, 'p') + std::string(1, '\0') + design);
        return path;
    }
    ~FpgaRig() {
        gate.Release();
        frame.WaitForJobs();
    }
    // An XSVF program of exactly `size` bytes: one comment, then XCOMPLETE.
    std::string CommentProgram(std::size_t size) {
        std::string bytes(size, 'x');
        // A comment, then one 1-bit XSIR (a program must shift something).
        bytes[0] = 0x16;
        bytes[size - 5] = 0x00;
        bytes[size - 4] = 0x02;
        bytes[size - 3] = 0x01;
        bytes[size - 2] = 0x00;
        bytes[size - 1] = 0x00;
        const std::string path = folder.File("comment.xsvf");
        WriteWholeFile(path, bytes);
        return path;
    }
    static DeviceRecord Record(std::uint32_t index) {
        return {index, static_cast<std::uint32_t>(index == kOspreyDevice ? family::kOsprey : family::kFalcon), ""};
    }
    void SelectInTree(std::uint32_t index) {
        frame.OnInitialUpdate();
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.record != nullptr && item.record->index == index) {
                frame.OnTreeSelectionChanged(item.id);
                return;
            }
        }
        ADD_FAILURE() << "no tree item for device " << index;
    }
    void Tick(int timerId, int times = 1) {
        for (int i = 0; i < times; ++i) frame.OnTimer(timerId);
    }
    void Finish() {
        gate.Release();
        frame.WaitForJobs();
        Tick(timer::kFpgaCountdown);
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

TEST(FpgaJob, ProgramFpgaAsksForTheFileAndCountsTheJobDownOnTimer998) {
    FpgaRig rig;
    rig.frame.flags.manufacturingMode = 1;
    rig.SelectInTree(kFalconDevice);
    ASSERT_TRUE(rig.frame.IsCommandEnabled(cmd::kProgramFpga)) << "Get All Values enables it for a Falcon";
    rig.ui.filesToChoose.push_back(rig.CommentProgram(100000));
    rig.ui.buttonVisible.clear();
    rig.ui.timerLog.clear();
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.OnCommand(cmd::kProgramFpga));

    ASSERT_EQ(rig.ui.fileRequests.size(), 1u);
    const FileChoice& choice = rig.ui.fileRequests[0];
    EXPECT_EQ(choice.title, "Select XSVF File");
    EXPECT_EQ(choice.filter, "XSVF Files (*.xsvf)|*.xsvf|All Files (*.*)|*.*|");
    EXPECT_EQ(choice.defaultExtension, "xsvf");
    // The countdown stopped for the dialog; 998 runs the job's.
    EXPECT_EQ(rig.ui.timerLog, (std::vector<std::string>{"kill 999", "set 998 1000"}));
    for (int button : {cmd::kVerify, cmd::kResetCoefs, cmd::kLinearityCoefs}) {
        EXPECT_FALSE(rig.ui.buttonVisible.at(button)) << button;
    }
    // 100000 bytes: 59.4 s truncated, plus 10.
    EXPECT_EQ(rig.frame.fpgaDeadline[kFalconDevice], 69);
    EXPECT_EQ(rig.ui.panes[kFalconDevice + 1].maximum, 69);
    EXPECT_EQ(rig.ui.panes[kFalconDevice + 1].width, 200);
    // A second Program FPGA on the busy device does nothing.
    rig.frame.OnCommand(cmd::kProgramFpga);
    EXPECT_EQ(rig.ui.fileRequests.size(), 1u);

    rig.Tick(timer::kFpgaCountdown, 10);
    EXPECT_EQ(rig.ui.panes[kFalconDevice + 1].text, "Dev 6-00:59");
    EXPECT_EQ(rig.ui.panes[kFalconDevice + 1].position, 0) << "the countdown does not move an FPGA bar";
    EXPECT_EQ(rig.ui.statusTexts[0], "Programming...");
    rig.Tick(timer::kFpgaCountdown);
    EXPECT_EQ(rig.ui.statusTexts[0], "");
    EXPECT_FALSE(rig.ui.closeEnabled);

    rig.ui.buttonVisible.clear();
    rig.Finish();
    EXPECT_EQ(rig.ui.MessageTexts(), std::vector<std::string>{"FPGA Programming Complete.\n\n" + Reconnect(kFalconDevice)});
    EXPECT_EQ(rig.ui.statusTexts[0], "Ready");
    EXPECT_FALSE(rig.ui.panes[kFalconDevice + 1].open);
    EXPECT_TRUE(rig.ui.closeEnabled);
    for (int button : {cmd::kVerify, cmd::kResetCoefs, cmd::kLinearityCoefs}) {
        EXPECT_TRUE(rig.ui.buttonVisible.at(button)) << button;
    }
    ASSERT_EQ(rig.frame.JobRows().size(), 1u);
    EXPECT_EQ(rig.frame.JobRows()[0].kind, JobKind::Fpga);
    EXPECT_EQ(rig.frame.JobRows()[0].result, "succeeded");
}

TEST(FpgaJob, TheBarFollowsTheBytesSentWhicheverCountdownTicks) {
    FpgaRig rig;
    rig.gate.Hold();  // the worker waits at its first request
    ASSERT_TRUE(rig.frame.StartFpgaJob(FpgaRig::Record(kFalconDevice), Examples("demo-design.xsvf")).Ok());
    const std::string image = rig.folder.File("osprey.iic");
    WriteWholeFile(image, std::string(5000, '\xB2'));
    ASSERT_TRUE(rig.frame.StartEepromJob(FpgaRig::Record(kOspreyDevice), image).Ok());
    EXPECT_EQ(rig.ui.timers.count(timer::kEepromCountdown), 1u) << "the EEPROM job restarted 999";

    // What the worker reports once streaming: 1000 of 8290 bytes sent. The
    // worker first reports its player phase, then waits at the gate; the
    // entry is written here only after that, so the two never race.
    JobEntry& entry = rig.frame.jobs[kFalconDevice];
    while (static_cast<JobPhase>(entry.phase.load()) != JobPhase::Player) std::this_thread::yield();
    entry.Enter(JobPhase::Streaming, 8290);
    entry.Advance(1000);
    rig.Tick(timer::kEepromCountdown);
    const ProgressPaneView& bar = rig.ui.panes[kFalconDevice + 1];
    EXPECT_EQ(bar.maximum, 8290);
    EXPECT_EQ(bar.position, 1000);
    EXPECT_EQ(bar.text, "Dev 6-00:13") << "the FPGA deadline, not the EEPROM one";
    EXPECT_EQ(rig.ui.panes[kOspreyDevice + 1].text, "Dev 3-00:29");

    // The whole file sent: the player's last wait.
    entry.Advance(7290);
    rig.Tick(timer::kFpgaCountdown);
    EXPECT_EQ(rig.ui.panes[kFalconDevice + 1].position, 8290);
    EXPECT_EQ(rig.ui.statusTexts[0], "***WAIT FOR PROMPT***");
    // Past its deadline an FPGA device shows no text.
    rig.Tick(timer::kFpgaCountdown, 12);
    EXPECT_EQ(rig.ui.panes[kFalconDevice + 1].text, "");
    EXPECT_EQ(rig.ui.panes[kOspreyDevice + 1].text, "Dev 3-00:16");
}

TEST(FpgaJob, TwoFpgaJobsAndAnEepromJobRunSideBySide) {
    FpgaRig rig;
    std::string bytes(16384, '\x5A');
    bytes[0] = '\xB2';
    const std::string image = rig.folder.File("osprey.iic");
    WriteWholeFile(image, bytes);
    const std::string design = rig.PaddedDesign();
    rig.gate.Hold();
    ASSERT_TRUE(rig.frame.StartFpgaJob(FpgaRig::Record(kFalconDevice), design).Ok());
    ASSERT_TRUE(rig.frame.StartFpgaJob(FpgaRig::Record(kOspreyPlusDevice), design).Ok());
    ASSERT_TRUE(rig.frame.StartEepromJob(FpgaRig::Record(kOspreyDevice), image).Ok());
    EXPECT_FALSE(rig.frame.StartFpgaJob(FpgaRig::Record(kFalconDevice), Examples("demo-design.xsvf")).Ok())
        << "a busy device takes no second job";
    rig.Finish();

    EXPECT_TRUE(rig.Configured(kFalconDevice));
    EXPECT_TRUE(rig.Configured(kOspreyPlusDevice));
    EXPECT_EQ(rig.bench->Device(kOspreyDevice)->Eeprom(0, 16384), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(rig.ui.MessageTexts(),
              (std::vector<std::string>{"EEPROM Programming Complete.\n\n" + Reconnect(kOspreyDevice),
                                        "FPGA Programming Complete.\n\n" + Reconnect(kFalconDevice),
                                        "FPGA Programming Complete.\n\n" + Reconnect(kOspreyPlusDevice)}));
    // Each FPGA job: the player downloaded with the FX2's CPUCS, its 5 s to
    // start, the stream, the 10 s wait.
    EXPECT_EQ(rig.bench->Device(kFalconDevice)->ResetRequests().front().address, 0xE600);
    const auto sleeps = rig.clock.Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), kFpgaPlayerStartMs), 2);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), kFpgaSettleMs), 2);
}

// The window's thread goes on while workers run: a Refresh Tree beside the
// jobs leaves the busy devices alone, the window refuses to close, and a
// frame torn down mid-job (the process ending) waits for its workers, which
// still finish their devices. Run under the thread sanitizer too.
TEST(FpgaJob, AScanAndACloseBesideRunningJobs) {
    TempFolder folder;
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
    std::string bytes(8192, '\x3C');
    bytes[0] = '\xB2';
    const std::string image = folder.File("osprey.iic");
    WriteWholeFile(image, bytes);
    // Padded to a multiple of 62 bytes, as FpgaRig::PaddedDesign does: the
    // bench runs without the host's clock.
    const std::string design = ReadWholeFile(Examples("demo-design.xsvf"));
    const std::size_t pad = (62 - (design.size() + 2) % 62) % 62;
    const std::string padded = folder.File("padded-design.xsvf");
    WriteWholeFile(padded, "\x16" + std::string(pad, 'p') + std::string(1, '\0') + design);
    auto frame = std::make_unique<CMainFrame>(platform);
    frame->OnCreate();
    ASSERT_TRUE(frame->StartFpgaJob(FpgaRig::Record(kFalconDevice), padded).Ok());
    ASSERT_TRUE(frame->StartEepromJob(FpgaRig::Record(kOspreyDevice), image).Ok());
    for (int scan = 0; scan < 3; ++scan) {
        frame->OnRefreshTree();
        for (const TreeItem& item : frame->Tree().Items()) {
            if (item.record == nullptr) continue;
            const std::uint32_t index = item.record->index;
            EXPECT_NE(frame->jobBusy[index].load(), 1) << "busy device " << index << " was scanned";
        }
        frame->OnTimer(timer::kEepromCountdown);
        frame->OnTimer(timer::kFpgaCountdown);
    }
    if (frame->AnyDeviceBusy()) {
        EXPECT_FALSE(frame->CanClose());
    }
    frame.reset();  // waits for both workers
    EXPECT_EQ(bench->Device(kOspreyDevice)->Eeprom(0, 8192), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    const auto state = bench->Device(kFalconDevice)->JtagState();
    EXPECT_TRUE(state && state->configured);
}

TEST(FpgaJob, WhatIsNotXsvfIsRefusedAndAFailedJobSaysWhy) {
    FpgaRig rig;
    const Outcome refused = rig.frame.StartFpgaJob(FpgaRig::Record(kFalconDevice), Examples("demo-bench.json"));
    EXPECT_FALSE(refused.Ok());
    ASSERT_EQ(rig.ui.MessageTexts().size(), 1u);
    EXPECT_EQ(rig.ui.MessageTexts()[0], Examples("demo-bench.json") +
                                            " is not an XSVF file that can be played: byte 0x7B at offset 0 is not "
                                            "an XSVF command.\n\nNothing was sent to device 6.");
    EXPECT_TRUE(rig.bench->Device(kFalconDevice)->ResetRequests().empty());
    EXPECT_EQ(rig.frame.jobBusy[kFalconDevice].load(), 0);
    EXPECT_TRUE(rig.ui.timerLog.empty());

    // The application folder holds no player: the job stops before the stream.
    rig.ui.ClearMessages();
    rig.frame.applicationPath = rig.folder.File("");
    ASSERT_TRUE(rig.frame.StartFpgaJob(FpgaRig::Record(kFalconDevice), Examples("demo-design.xsvf")).Ok());
    // The device ends a wrong design's stream early.
    ASSERT_TRUE(rig.frame.StartFpgaJob(FpgaRig::Record(kOspreyPlusDevice), Examples("wrong-idcode.xsvf"),
                                       {SPINDLE_FPGA_PLAYER_HEX, {}})
                    .Ok());
    rig.Finish();
    // The boxes the jobs met come before their completion boxes.
    const auto all = rig.ui.MessageTexts();
    EXPECT_NE(std::find(all.begin(), all.end(), "Unable to open RaptorFPGA File"), all.end());
    std::vector<std::string> texts;
    for (const std::string& text : all) {
        if (text.rfind("FPGA Programming", 0) == 0) texts.push_back(text);
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "FPGA Programming Failed on device 6.\n\n- the FPGA player " + rig.folder.File("") +
                            "/RaptorFPGA.hex could not be loaded, so nothing was sent\n\n" + Reconnect(kFalconDevice));
    EXPECT_TRUE(rig.bench->Device(kFalconDevice)->ResetRequests().empty());
    EXPECT_EQ(texts[1].rfind("FPGA Programming Failed on device 7.\n\n- the device ended the stream early, after "
                             "taking ",
                             0),
              0u)
        << texts[1];
    EXPECT_FALSE(rig.Configured(kOspreyPlusDevice));
}

}  // namespace
}  // namespace spindle::test
