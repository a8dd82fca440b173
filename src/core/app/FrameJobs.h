#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "programming/FpgaProgramming.h"
#include "programming/JobTable.h"
#include "platform/Outcome.h"

namespace spindle {

// The frame's side of the programming jobs: what a job is started with
// beyond its file, and how the frame reports the jobs (the jobs panel's rows,
// the completion boxes).

// Choices a job is started with beyond the image (the window uses the
// defaults; the command-line tool offers them as options).
struct EepromJobOptions {
    bool verify = true;
    std::string backupFolder;  // non-empty: save each device's old contents there first
    // The image's bytes when the caller read the file already (one read for
    // every device it programs), and whether it ran CheckEepromImage on them.
    std::shared_ptr<const std::string> image;
    bool imageChecked = false;
    // After a job that worked, wait for the device to come back and say
    // what it came back as (a failure of the job when it does not).
    bool confirm = false;
};

// Choices an FPGA job is started with beyond the XSVF file.
struct FpgaJobOptions {
    std::string playerPath;  // empty: "RaptorFPGA.hex" of the application folder (or the data folder)
    XsvfPollLimits limits;
    // The file's bytes when the caller read and checked it already.
    std::shared_ptr<const std::string> xsvf;
    bool confirm = false;  // as EepromJobOptions::confirm
};

// One line of the jobs panel.
struct JobRow {
    std::uint32_t deviceIndex = 0;
    JobKind kind = JobKind::None;
    JobPhase phase = JobPhase::Starting;
    bool running = false;
    int percent = 0;  // of the whole job, its steps weighted by their expected times
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
