#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "programming/FpgaProgramming.h"
#include "programming/JobTable.h"

namespace spindle {

class CMainFrame;

// One device's job record, kept in the frame for the frame's lifetime. The
// user-interface thread fills it before the worker starts; the worker only
// reads it.
struct ProgrammingJob {
    std::uint32_t deviceIndex = 0;
    std::uint32_t familyCode = 0;  // EEPROM jobs only
    std::string applicationPath;
    std::string imagePath;  // the EEPROM image, or the XSVF file of an FPGA job
    std::string playerPath; // FPGA jobs: the player firmware to load first
    XsvfPollLimits limits;  // FPGA jobs
    bool verify = true;
    std::string backupPath;
    std::int64_t historyId = 0;  // its production record (0: not recorded)
    CMainFrame* owner = nullptr;
};

// Choices a job is started with beyond the image (the window uses the
// defaults; the command-line tool offers them as options).
struct EepromJobOptions {
    bool verify = true;
    std::string backupFolder;  // non-empty: save each device's old contents there first
    bool imageChecked = false;  // the caller ran CheckEepromImage already
};

// Choices an FPGA job is started with beyond the XSVF file.
struct FpgaJobOptions {
    std::string playerPath;  // empty: "RaptorFPGA.hex" of the application folder (or the data folder)
    XsvfPollLimits limits;
};

// One line of the jobs panel.
struct JobRow {
    std::uint32_t deviceIndex = 0;
    JobKind kind = JobKind::None;
    JobPhase phase = JobPhase::Starting;
    bool running = false;
    int percent = 0;
    int secondsLeft = 0;  // by the countdown; 0 when due or past
    std::string result;   // empty while running
};

// A job whose worker has ended, as collected for its completion box.
struct FinishedJob {
    std::uint32_t deviceIndex = 0;
    JobKind kind = JobKind::None;
    JobResult result;
    std::string text;  // the completion box's text
    // Every box the job's end shows, in order: the messages its steps met
    // (folded), then the completion box. The window shows them; the
    // command line prints the same texts on standard error.
    std::vector<OutcomeMessage> boxes;
};

}  // namespace spindle
