#pragma once
#include <string>
#include <vector>

#include "CliSession.h"

namespace spindle::cli {

// The subcommands. Each drives the main frame as the window's buttons do,
// renders the result on standard output (text, or JSON with --json) and
// returns the exit status: kExitOk, kExitFailed or kExitUsage.
int RunScan(const GlobalOptions& options);
int RunGet(const GlobalOptions& options, const std::string& device);
int RunSet(const GlobalOptions& options, const std::string& device, const std::vector<std::string>& assignments);
int RunExport(const GlobalOptions& options, const std::string& device, const std::string& file);
int RunImport(const GlobalOptions& options, const std::string& device, const std::string& file);
int RunVerify(const GlobalOptions& options, const std::string& device);
int RunDownload(const GlobalOptions& options, const std::string& device, const std::string& file);
int RunResetCoefs(const GlobalOptions& options, const std::string& device);
int RunLinearity(const GlobalOptions& options, const std::string& device, const std::string& file);
int RunUnlock(const GlobalOptions& options, const std::string& code);

// The production record, filtered; text (one line per record), --json or --csv.
struct HistoryOptions {
    std::string serial, image, since;
    bool failed = false;
    bool csv = false;
};
int RunHistory(const GlobalOptions& options, const HistoryOptions& history);

struct ProgramOptions {
    bool noVerify = false;
    std::string backupFolder;
    bool confirm = false;  // wait for each device to come back and say what it came back as
};
// Programs the image into every named device at once; 0 only when every
// device was programmed (and verified, unless noVerify).
int RunProgram(const GlobalOptions& options, const std::vector<std::string>& devices, const std::string& image,
               const ProgramOptions& programOptions);
// Streams the XSVF file into the FPGA of every named device at once, each
// through the player loaded into its 8051; 0 only when every device took
// the whole file. `player` (optional) replaces "RaptorFPGA.hex".
int RunProgramFpga(const GlobalOptions& options, const std::vector<std::string>& devices, const std::string& file,
                   const std::string& player);
// Station mode: programs each arriving device of the family (then its FPGA
// when `xsvf` is given) until `count` devices were taken (0: until SIGINT
// or SIGTERM); 0 only when all `count` passed.
struct StationCommandOptions {
    std::string family;
    std::string image;
    std::string xsvf;
    int count = 0;
};
int RunStation(const GlobalOptions& options, const StationCommandOptions& station);
// The PSOC page of a Falcon, Condor or Ibis device: show (reads only), open
// (the page's start, side effects included), the page's buttons, and watch
// (polling as the page does).
struct PsocWatchOptions {
    double intervalSeconds = 0;  // 0: the page's own pace
    int count = 0;               // 0: until interrupted
};
int RunPsoc(const GlobalOptions& options, const std::string& device, const std::string& action,
            const std::vector<std::string>& args, const PsocWatchOptions& watch);
// The accessory tools through the frame's commands: a two-point Lantern
// calibration stored into accessory slots 1 and 2, the Lantern's temperature
// and light, the Kestrel's packed settings, and a Zephyr calibration file
// into the Lantern.
struct LanternCalOptions {
    std::string low, high, averages;  // texts, as typed into the dialog
    bool resistance = false, temperature = false;  // neither: the mode last used
};
int RunLanternCal(const GlobalOptions& options, const std::string& device, const LanternCalOptions& cal);
int RunLanternTemp(const GlobalOptions& options, const std::string& device);
int RunLight(const GlobalOptions& options, const std::string& device, const std::vector<std::string>& args);
int RunKestrelExtra(const GlobalOptions& options, const std::string& device,
                    const std::vector<std::string>& assignments, const std::string& calFile);
int RunZephyrImport(const GlobalOptions& options, const std::string& device, const std::string& file);
int RunEepromDump(const GlobalOptions& options, const std::string& device, const std::string& file,
                  std::uint32_t length);

}  // namespace spindle::cli
