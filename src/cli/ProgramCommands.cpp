// program and eeprom-dump: EEPROM firmware into many devices at once
// through the frame's jobs, and a device's boot EEPROM read into a file.
#include <signal.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <set>
#include <thread>

#include "CliOutput.h"
#include "Commands.h"
#include "JsonText.h"
#include "app/Station.h"
#include "inventory/Classification.h"
#include "platform/Clock.h"
#include "platform/AtomicFile.h"
#include "platform/Format.h"
#include "programming/EepromImage.h"
#include "programming/EepromProgramming.h"
#include "programming/FpgaProgramming.h"
#include "programming/XsvfFile.h"

namespace spindle::cli {

namespace {

// "[3] Osprey ... writing 8192/16384 bytes (41%)": the step's bytes, and
// how far the whole job is (the jobs panel's percentage).
std::string ProgressLine(const DeviceInfo& info, const ProgressPoint& at) {
    std::string line = StrPrintf("%-28s %s", DeviceName(info).c_str(), JobPhaseText(static_cast<JobPhase>(at.step)));
    if (at.total > 0) line += StrPrintf(" %u/%u bytes (%d%%)", at.done, at.total, at.percent);
    return line;
}

// The signal that asked the jobs to stop (SIGINT or SIGTERM), 0 for none.
volatile std::sig_atomic_t gStopSignal = 0;
extern "C" void OnStopSignal(int signal) { gStopSignal = signal; }

// SIGINT and SIGTERM while jobs run: instead of killing the workers in the
// middle of a request, they are asked to stop after the request they are
// making, and the tool reports what each did. A second signal kills.
class StopSignals {
public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopSignals() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// Shows the jobs while they run: on a terminal one line per device, drawn
// again in place; otherwise a line for every milestone each job reports (a
// phase entered, another quarter of it passed), however quickly the job
// passes them. Stops them on SIGINT or SIGTERM.
void FollowJobs(CMainFrame& frame, const std::vector<DeviceInfo>& devices) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    bool drawn = false;
    bool stopping = false;
    for (;;) {
        if (gStopSignal != 0 && !stopping) {
            stopping = true;
            for (const DeviceInfo& info : devices) frame.jobs[info.index].stop.store(true, std::memory_order_release);
            std::cerr << (drawn ? "\n" : "") << "spindle-cli: " << (gStopSignal == SIGINT ? "SIGINT" : "SIGTERM")
                      << " received: every job stops after the request it is making\n";
            drawn = false;
        }
        bool running = false;
        std::string block;
        for (const DeviceInfo& info : devices) {
            const JobSnapshot job = frame.jobs.Snapshot(info.index);
            if (job.kind == JobKind::None) continue;
            running = running || !job.finished;
            if (terminal) {
                block += "\r\033[K" + ProgressLine(info, job.at) + "\n";
                continue;
            }
            for (const ProgressPoint& mark : frame.jobs[info.index].progress.TakeMarks()) {
                std::cerr << ProgressLine(info, mark) << '\n';
            }
        }
        if (terminal && !block.empty()) {
            if (drawn) std::cerr << StrPrintf("\033[%zuA", devices.size());
            std::cerr << block << std::flush;
            drawn = true;
        }
        if (!running) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    frame.WaitForJobs();
}

// The exit status after jobs that a signal stopped: 128 + the signal.
int StatusAfterSignal(int status) { return gStopSignal != 0 ? 128 + gStopSignal : status; }

// The named devices, each once, from the tree; false (with `status`) at the
// first that is not there, named twice, or refused by `refuse` (which says
// why, or returns empty).
template <typename Refuse>
bool FindJobDevices(CCliSession& session, const std::vector<std::string>& devices, Refuse refuse,
                    std::vector<DeviceInfo>& found, int& status) {
    std::set<std::uint32_t> indexes;
    for (const std::string& device : devices) {
        DeviceInfo info;
        if (!FindDeviceOnTree(session, device, info, status)) return false;
        const std::string why = refuse(info);
        if (!why.empty()) {
            session.Ui().Error(DeviceName(info) + why);
            status = session.ExitStatus();
            return false;
        }
        if (!indexes.insert(info.index).second) {
            std::cerr << "spindle-cli: " << device << " names device " << info.index << " twice\n";
            status = kExitUsage;
            return false;
        }
        found.push_back(info);
    }
    return true;
}

OrderedJson ProblemsJson(const std::vector<std::string>& problems) {
    OrderedJson list = OrderedJson::array();
    for (const std::string& problem : problems) list.push_back(JsonText(problem));
    return list;
}

// Starts a job on every device with `start` (the frame's Start...Job for
// one record), follows them to their end, and pairs each started device
// with its result, in the devices' order.
struct JobsRun {
    std::vector<std::pair<DeviceInfo, JobResult>> results;
    std::vector<FinishedJob> finished;  // in the devices' order
    std::vector<std::pair<DeviceInfo, Outcome>> refused;
};
template <typename Start>
JobsRun RunJobs(CMainFrame& frame, const std::vector<DeviceInfo>& devices, Start start) {
    JobsRun run;
    const StopSignals signals;
    std::vector<DeviceInfo> started;
    for (const DeviceInfo& info : devices) {
        const Outcome outcome = start(DeviceRecord{info.index, info.familyCode, info.serial});
        if (outcome.Ok()) {
            started.push_back(info);
        } else {
            run.refused.emplace_back(info, outcome);
        }
    }
    FollowJobs(frame, started);
    const std::vector<FinishedJob> finished = frame.CollectFinishedJobs();
    for (const DeviceInfo& info : started) {
        for (const FinishedJob& job : finished) {
            if (job.deviceIndex != info.index) continue;
            run.results.emplace_back(info, job.result);
            run.finished.push_back(job);
        }
    }
    return run;
}

// The boxes the window shows at each job's end, with the same texts, on
// standard error: the messages the job met, then its completion box.
void PrintJobBoxes(CCliSession& session, const JobsRun& run) {
    for (const FinishedJob& job : run.finished) {
        for (const OutcomeMessage& box : job.boxes) session.Ui().MessageBox(ShownText(box), box.title, box.style);
    }
}

}  // namespace

int RunProgram(const GlobalOptions& options, const std::vector<std::string>& devices, const std::string& image,
               const ProgramOptions& programOptions) {
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->StartUp();
    session->RefreshTree();
    CMainFrame& frame = session->Frame();

    std::vector<DeviceInfo> found;
    const auto lantern = [](const DeviceInfo& info) -> std::string {
        return info.familyCode == family::kLantern ? " is a light source; its EEPROM is the Kestrel's in front of it"
                                                   : "";
    };
    if (!FindJobDevices(*session, devices, lantern, found, status)) return status;

    EepromJobOptions jobOptions;
    jobOptions.verify = !programOptions.noVerify;
    jobOptions.backupFolder = programOptions.backupFolder;
    jobOptions.confirm = programOptions.confirm;
    // The image is read once for every device; each device's job checks it.
    if (!session->Record(frame.LoadEepromImage(image, jobOptions.image)).Ok()) return session->ExitStatus();
    const JobsRun run = RunJobs(frame, found, [&](const DeviceRecord& record) {
        return frame.StartEepromJob(record, image, jobOptions);
    });
    PrintJobBoxes(*session, run);
    OrderedJson results = OrderedJson::array();
    int succeeded = 0;
    for (const auto& [info, result] : run.results) {
        if (result.Ok()) ++succeeded;
        session->Record(result.outcome);
        results.push_back({{"device", DeviceJson(info)},
                           {"ok", result.Ok()},
                           {"verified", result.verified},
                           {"bytesWritten", result.bytesWritten},
                           {"backup", JsonText(result.backupPath)},
                           {"cameBackAs", JsonText(result.cameBackAs)},
                           {"problems", ProblemsJson(result.Problems())}});
        if (options.json) continue;
        if (result.Ok()) {
            std::cout << DeviceName(info) << ": programmed " << result.bytesWritten << " bytes"
                      << (result.verified ? ", read back and verified" : " (not read back)")
                      << (result.backupPath.empty() ? std::string() : "; old contents in " + result.backupPath)
                      << (result.cameBackAs.empty() ? std::string() : "; came back as " + result.cameBackAs)
                      << '\n';
        } else {
            std::cout << DeviceName(info) << ": FAILED\n";
            for (const std::string& problem : result.Problems()) std::cout << "  - " << problem << '\n';
        }
    }
    for (const auto& [info, outcome] : run.refused) {
        session->Record(outcome);
        results.push_back({{"device", DeviceJson(info)}, {"ok", false}, {"verified", false}, {"bytesWritten", 0},
                           {"backup", ""}, {"problems", ProblemsJson(outcome.failed)}});
        if (!options.json) std::cout << DeviceName(info) << ": not programmed (" << outcome.failed.front() << ")\n";
    }
    if (options.json) {
        PrintJson({{"image", JsonText(image)}, {"results", results}});
    } else {
        std::cout << StrPrintf("Programmed %d of %zu devices.", succeeded, found.size());
        if (succeeded > 0 && !programOptions.confirm) {
            std::cout << " Disconnect and reconnect each programmed device before using it.";
        }
        std::cout << '\n';
    }
    return StatusAfterSignal(session->ExitStatus());
}

int RunStation(const GlobalOptions& options, const StationCommandOptions& station) {
    std::optional<int> family = FamilyByModelName(station.family);
    if (!family) {
        char* end = nullptr;
        const long code = std::strtol(station.family.c_str(), &end, 10);
        const bool known = std::any_of(ClassificationTable().begin(), ClassificationTable().end(),
                                       [code](const ClassificationRow& row) { return row.family == code; });
        if (end == station.family.c_str() || *end != '\0' || !known) {
            std::cerr << "spindle-cli: --family " << station.family << " is no family this tool knows\n";
            return kExitUsage;
        }
        family = static_cast<int>(code);
    }
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->StartUp();
    CMainFrame& frame = session->Frame();
    IClock& clock = session->Ports().clock;

    CStation core(frame, {static_cast<std::uint32_t>(*family), station.image, station.xsvf, station.count});
    const Outcome started = session->Record(core.Start());
    if (!started.Ok()) {
        for (const std::string& problem : started.failed) session->Ui().Error(problem);
        return session->ExitStatus();
    }
    const StopSignals signals;
    bool stopping = false;
    std::cerr << "Station: programming every " << station.family << " plugged in"
              << (station.count > 0 ? StrPrintf(", %d devices", station.count) : std::string(" (Ctrl-C stops)"))
              << '\n';
    for (;;) {
        if (gStopSignal != 0 && !stopping) {
            stopping = true;
            core.Stop();
            std::cerr << "spindle-cli: " << (gStopSignal == SIGINT ? "SIGINT" : "SIGTERM")
                      << " received: the running jobs finish, no new device is taken\n";
        }
        for (const std::string& line : core.Tick(clock.NowMs())) {
            if (!options.json) std::cout << line << std::endl;
        }
        if (core.Finished()) break;
        // While jobs run their workers move the clock; otherwise the station
        // waits on it for the next device.
        if (core.Programming()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else {
            clock.Sleep(100);
        }
    }
    frame.WaitForJobs();
    const StationSnapshot end = core.Snapshot();
    if (options.json) {
        OrderedJson tiles = OrderedJson::array();
        for (const StationTile& tile : end.tiles) {
            tiles.push_back({{"index", tile.deviceIndex}, {"serial", JsonText(tile.serial)},
                             {"ok", tile.state == StationState::Passed}, {"detail", JsonText(tile.detail)}});
        }
        PrintJson({{"passed", end.passed}, {"failed", end.failed}, {"devices", tiles}});
    } else {
        std::cout << StrPrintf("Station: %d passed, %d failed.\n", end.passed, end.failed);
    }
    if (end.failed > 0 || (station.count > 0 && end.passed < station.count)) return StatusAfterSignal(kExitFailed);
    return StatusAfterSignal(session->ExitStatus());
}

int RunProgramFpga(const GlobalOptions& options, const std::vector<std::string>& devices, const std::string& file,
                   const std::string& player) {
    // The file is the same for every device: one that is not XSVF is refused
    // before any device is even looked at.
    std::string xsvf;
    const XsvfCheck check = CheckXsvfFile(file, xsvf);
    if (!check.ok) {
        std::cerr << "spindle-cli: " << file << " is not an XSVF file that can be played: " << check.problem
                  << "; nothing was sent\n";
        return kExitFailed;
    }
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->StartUp();
    session->RefreshTree();
    CMainFrame& frame = session->Frame();

    std::vector<DeviceInfo> found;
    const auto noFpga = [](const DeviceInfo& info) -> std::string {
        return FamilyOf(static_cast<int>(info.familyCode)).programsFpga ? "" : " has no programmable logic to program";
    };
    if (!FindJobDevices(*session, devices, noFpga, found, status)) return status;

    FpgaJobOptions jobOptions;
    jobOptions.playerPath = player;
    jobOptions.xsvf = std::make_shared<const std::string>(std::move(xsvf));
    const JobsRun run = RunJobs(frame, found, [&](const DeviceRecord& record) {
        return frame.StartFpgaJob(record, file, jobOptions);
    });
    PrintJobBoxes(*session, run);
    OrderedJson results = OrderedJson::array();
    int succeeded = 0;
    for (const auto& [info, result] : run.results) {
        if (result.Ok()) ++succeeded;
        session->Record(result.outcome);
        results.push_back({{"device", DeviceJson(info)},
                           {"ok", result.Ok()},
                           {"bytesSent", result.bytesWritten},
                           {"problems", ProblemsJson(result.Problems())}});
        if (options.json) continue;
        if (result.Ok()) {
            std::cout << DeviceName(info) << ": FPGA programmed (" << result.bytesWritten << " bytes streamed)\n";
        } else {
            std::cout << DeviceName(info) << ": FAILED\n";
            for (const std::string& problem : result.Problems()) std::cout << "  - " << problem << '\n';
        }
    }
    for (const auto& [info, outcome] : run.refused) {
        session->Record(outcome);
        results.push_back({{"device", DeviceJson(info)}, {"ok", false}, {"bytesSent", 0},
                           {"problems", ProblemsJson(outcome.failed)}});
        if (!options.json) std::cout << DeviceName(info) << ": not programmed (" << outcome.failed.front() << ")\n";
    }
    if (options.json) {
        PrintJson({{"file", JsonText(file)}, {"size", check.size}, {"results", results}});
    } else {
        std::cout << StrPrintf("Programmed the FPGA of %d of %zu devices.", succeeded, found.size());
        if (succeeded > 0) std::cout << " Disconnect and reconnect each programmed device before using it.";
        std::cout << '\n';
    }
    return StatusAfterSignal(session->ExitStatus());
}

int RunEepromDump(const GlobalOptions& options, const std::string& device, const std::string& file,
                  std::uint32_t length) {
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->StartUp();
    session->RefreshTree();
    DeviceInfo info;
    if (!FindDeviceOnTree(*session, device, info, status)) return status;
    if (session->Frame().JobRunning(info.index)) {
        session->Ui().Error(DeviceName(info) + " is being programmed");
        return session->ExitStatus();
    }
    if (length == 0 || length > kMaxEepromImageBytes) {
        std::cerr << "spindle-cli: --length must be 1 to 65536 bytes\n";
        return kExitUsage;
    }
    session->Ui().SetActivity("Reading the EEPROM");
    const EepromReadResult read = ReadEepromImage(session->Ports(), info.index, info.familyCode, length);
    session->Record(read.outcome);
    for (const std::string& problem : read.outcome.failed) session->Ui().Error(DeviceName(info) + ": " + problem);
    // A wrapped read keeps the EEPROM's real contents, once, and still fails:
    // the length asked for was not there.
    if (!read.outcome.Ok() && read.wrapSize == 0) return session->ExitStatus();
    const FileWriteResult written = ReplaceFileAtomically(file, std::string(read.bytes.begin(), read.bytes.end()));
    if (!written.Succeeded()) {
        session->Ui().Error(written.error);
        return session->ExitStatus();
    }
    if (options.json) {
        PrintJson({{"device", DeviceJson(info)}, {"file", JsonText(file)}, {"bytes", read.bytes.size()}});
    } else {
        std::cout << "Read " << read.bytes.size() << " bytes of the EEPROM of " << DeviceName(info) << " into "
                  << file << ".\n";
    }
    return session->ExitStatus();
}

}  // namespace spindle::cli
