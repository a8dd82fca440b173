// Program (EEPROM firmware into many devices at once), the jobs' workers,
// and the countdown that shows them.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/MainFrame.h"
#include "device/EzusbDevice.h"
#include "device/Families.h"
#include "device/ScopedDevice.h"
#include "platform/BoundedFile.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"
#include "programming/EepromImage.h"
#include "programming/EepromProgramming.h"
#include "programming/FpgaProgramming.h"
#include "programming/XsvfFile.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

constexpr const char* kReady = "Ready";
constexpr const char* kProgramming = "Programming...";
constexpr const char* kWaitForPrompt = "***WAIT FOR PROMPT***";
constexpr int kStatusNoteTicks = 5;  // seconds a status note stands
constexpr unsigned kRed = 0xFF0000;
constexpr unsigned kBlack = 0x000000;

std::string ReconnectText(std::uint32_t index) {
    return StrPrintf("Please disconnect and reconnect the USB cable\nfrom the device %u before continuing.", index);
}

// A busy device's pane text past its job's estimate: it is not stuck at 0:00.
std::string FinishingText(int index) { return StrPrintf("Dev %d finishing", index); }

std::string CompletionText(std::uint32_t index, JobKind kind, const JobResult& result) {
    const char* what = kind == JobKind::Fpga ? "FPGA" : "EEPROM";
    if (result.Ok() && !result.cameBackAs.empty()) {
        return StrPrintf("%s Programming Complete.\n\nDevice %u came back as %s.", what, index, result.cameBackAs.c_str());
    }
    if (result.Ok()) return StrPrintf("%s Programming Complete.\n\n", what) + ReconnectText(index);
    std::string text = StrPrintf("%s Programming Failed on device %u.\n\n", what, index);
    for (const std::string& problem : result.Problems()) text += "- " + problem + "\n";
    return text + "\n" + ReconnectText(index);
}

// Byte 15 of the device descriptor; 1 when the device cannot be opened.
std::uint8_t HardwareRevision(Platform& platform, std::uint32_t index) {
    ScopedDevice device(platform, static_cast<int>(index));
    if (!device.Opened()) return 1;
    CSpecProtocol protocol(platform);
    return static_cast<std::uint8_t>(protocol.GetProductStringIndex(device.Handle()));
}

}  // namespace

Outcome CMainFrame::OnProgram() {
    Outcome outcome;
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr || record->index >= static_cast<std::uint32_t>(kMaxDevices)) return outcome;
    if (runner.Busy(record->index)) return outcome;
    const DeviceRecord device = *record;
    IUserInterface& ui = platform_.ui;

    FileChoice choice;
    choice.forOpening = true;
    choice.title = "Select EEPROM Program";
    choice.filter = StrPrintf("EEPROM Programs (*.iic)|%s|All Files (*.*)|*.*|",
                              EepromFilePattern(static_cast<int>(device.family),
                                                HardwareRevision(platform_, device.index)));
    choice.defaultExtension = "iic";
    const int timerBefore = RememberedTimer();
    StopCountdownTimer();
    if (!ui.ChooseFile(choice) || choice.chosenPath.empty()) {
        // The countdown of jobs already running goes on (and with it their
        // completion boxes), rather than standing still until another command.
        if (timerBefore != 0 && AnyDeviceBusy()) StartCountdownTimer(timerBefore);
        outcome.Fail("choose an EEPROM program");
        return outcome;
    }
    // The image is checked before the coefficients may be reset: an image
    // refused afterwards would have cost the instrument its coefficients.
    EepromJobOptions options;
    Outcome checked = LoadEepromImage(choice.chosenPath, options.image);
    if (checked.Ok()) checked.Append(CheckEepromImage(device, choice.chosenPath, *options.image));
    if (!checked.Ok()) {
        outcome.Append(checked);
        if (timerBefore != 0 && AnyDeviceBusy()) StartCountdownTimer(timerBefore);
        return outcome;
    }
    if (flags.manufacturingMode == 1) {
        ui.ShowButton(cmd::kVerify, false);
        ui.ShowButton(cmd::kResetCoefs, false);
        if (ui.MessageBox("Would you like to reset coefficients?", "Reset", mb::kYesNo) == mb::kIdYes) {
            outcome.Append(OnResetCoefs());
            outcome.Append(OnSaveAllValues());
            platform_.clock.Sleep(2000);
        }
    }
    options.imageChecked = true;
    const Outcome started = StartEepromJob(device, choice.chosenPath, options);
    outcome.Append(started);
    if (!started.Ok()) {
        // A job refused before it started restarts the countdown as a cancel
        // does, and the buttons it hid come back now when no job is left to
        // bring them back at its end.
        if (timerBefore != 0 && AnyDeviceBusy()) StartCountdownTimer(timerBefore);
        if (flags.manufacturingMode == 1 && !AnyDeviceBusy()) {
            ui.ShowButton(cmd::kVerify, true);
            ui.ShowButton(cmd::kResetCoefs, true);
        }
    }
    return outcome;
}

Outcome CMainFrame::LoadEepromImage(const std::string& imagePath, std::shared_ptr<const std::string>& image) {
    Outcome outcome;
    std::string bytes;
    const BoundedRead read = ReadFileBounded(imagePath, kMaxEepromImageBytes, bytes);
    if (read == BoundedRead::TooLarge) {
        std::error_code error;
        const auto size = static_cast<unsigned long long>(std::filesystem::file_size(imagePath, error));
        outcome.Show({StrPrintf("The EEPROM image %s is %llu bytes long; an EEPROM address reaches 65536 bytes at "
                                "most, so the image would wrap onto its own start.\n\nNothing was written.",
                                imagePath.c_str(), size),
                      kAppTitle, mb::kOk | mb::kIconError});
        outcome.Refuse("check the EEPROM image's length");
    } else if (read != BoundedRead::Ok) {
        platform_.trace.Write("Error opening EEPROM file.\n");
        outcome.Show({StrPrintf("The EEPROM image %s cannot be used: %s.", imagePath.c_str(), BoundedReadProblem(read)),
                      kAppTitle, mb::kOk | mb::kIconError});
        outcome.Refuse("read the EEPROM image");
    } else if (bytes.empty()) {
        outcome.Show({StrPrintf("The EEPROM image %s is empty.\n\nNothing was written.", imagePath.c_str()), kAppTitle,
                      mb::kOk | mb::kIconError});
        outcome.Refuse("check the EEPROM image's length");
    } else {
        image = std::make_shared<const std::string>(std::move(bytes));
        outcome.Done("read the EEPROM image");
    }
    ShowPendingMessages(platform_.ui, outcome);
    return outcome;
}

Outcome CMainFrame::CheckEepromImage(const DeviceRecord& record, const std::string& imagePath,
                                     const std::string& image) {
    Outcome outcome;
    const auto length = static_cast<std::uint32_t>(image.size());
    const auto firstByte = static_cast<std::uint8_t>(image.empty() ? 0 : image[0]);
    const ChipGeneration chip = FamilyOf(static_cast<int>(record.family)).chip;
    const std::string question =
        BootImageQuestion(ClassifyBootImage(length, firstByte), firstByte, chip, imagePath, record.index);
    if (!question.empty() &&
        platform_.ui.MessageBox(question, kAppTitle, mb::kYesNo | mb::kIconWarning) != mb::kIdYes) {
        outcome.Refuse("confirm an image for another chip");
        return outcome;
    }
    outcome.Done("check the EEPROM image");
    return outcome;
}

Outcome CMainFrame::StartEepromJob(const DeviceRecord& record, const std::string& imagePath,
                                   const EepromJobOptions& options) {
    Outcome outcome;
    const std::uint32_t index = record.index;
    if (index >= static_cast<std::uint32_t>(kMaxDevices) || JobRunning(index)) {
        outcome.Fail(StrPrintf("device %u is busy", index));
        return outcome;
    }
    std::shared_ptr<const std::string> image = options.image;
    if (!image) outcome.Append(LoadEepromImage(imagePath, image));
    if (outcome.Ok() && !options.imageChecked) outcome.Append(CheckEepromImage(record, imagePath, *image));
    if (!outcome.Ok()) return outcome;
    const auto length = static_cast<std::uint32_t>(image->size());

    EepromJobRequest request;
    request.deviceIndex = index;
    request.familyCode = record.family;
    request.imagePath = imagePath;
    request.image = image;
    request.verify = options.verify;
    request.backupPath = options.backupFolder.empty()
                             ? std::string()
                             : (std::filesystem::path(options.backupFolder) /
                                StrPrintf("Ezusb-%u-eeprom-backup.iic", index))
                                   .string();

    const std::uint32_t estimate = EstimateEepromSeconds(
        length, FamilyOf(static_cast<int>(record.family)).chip,
        (request.verify ? 1u : 0u) + (request.backupPath.empty() ? 0u : 1u));
    const int deadline = timerTicks + static_cast<int>(estimate);
    platform_.trace.Write(StrPrintf("EstimatedEEPROMTime[%d]=%d, %d,%d\n", static_cast<int>(index), deadline,
                                    timerTicks, static_cast<int>(length)));

    if (index < static_cast<std::uint32_t>(kDevicePanes)) {
        CreateDeviceBar(index, static_cast<int>(estimate), eepromBarCreated[index]);
    }
    programmingActive.store(1);
    StartCountdownTimer(timer::kEepromCountdown);
    runner.StartEeprom(request, deadline, RecordJobStart(record, JobKind::Eeprom, imagePath, image),
                       options.confirm ? record.family : 0);
    platform_.ui.JobsChanged();
    outcome.Done(StrPrintf("start programming device %u", index));
    return outcome;
}

void CMainFrame::CreateDeviceBar(std::uint32_t index, int estimate, std::uint8_t& created) {
    auto& bar = deviceProgress[index];
    if (created == 1 && bar) bar->Clear();
    bar = std::make_unique<CProgressBar>(platform_.ui, static_cast<int>(index) + 1);
    bar->Create(StrPrintf("%d", static_cast<int>(index)), 100, estimate, true, 1);
    bar->SetBarColour(kRed);
    bar->SetBkColour(kBlack);
    created = 1;
}

Outcome CMainFrame::OnProgramFpga() {
    Outcome outcome;
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr || record->index >= static_cast<std::uint32_t>(kMaxDevices)) return outcome;
    if (runner.Busy(record->index)) return outcome;
    const DeviceRecord device = *record;
    IUserInterface& ui = platform_.ui;

    FileChoice choice;
    choice.forOpening = true;
    choice.title = "Select XSVF File";
    choice.filter = "XSVF Files (*.xsvf)|*.xsvf|All Files (*.*)|*.*|";
    choice.defaultExtension = "xsvf";
    const int timerBefore = RememberedTimer();
    StopCountdownTimer();
    if (!ui.ChooseFile(choice) || choice.chosenPath.empty()) {
        if (timerBefore != 0 && AnyDeviceBusy()) StartCountdownTimer(timerBefore);
        outcome.Fail("choose an XSVF file");
        return outcome;
    }
    const Outcome started = StartFpgaJob(device, choice.chosenPath);
    outcome.Append(started);
    if (!started.Ok() && timerBefore != 0 && AnyDeviceBusy()) StartCountdownTimer(timerBefore);
    return outcome;
}

Outcome CMainFrame::StartFpgaJob(const DeviceRecord& record, const std::string& xsvfPath,
                                 const FpgaJobOptions& options) {
    Outcome outcome;
    IUserInterface& ui = platform_.ui;
    const std::uint32_t index = record.index;
    if (index >= static_cast<std::uint32_t>(kMaxDevices) || JobRunning(index)) {
        outcome.Fail(StrPrintf("device %u is busy", index));
        return outcome;
    }
    // The host streams the file unchanged; a file that is not XSVF would
    // run the player into an error somewhere in the middle of the device's
    // configuration, so it is refused here, before anything is sent.
    std::shared_ptr<const std::string> xsvf = options.xsvf;
    XsvfCheck check;
    if (xsvf) {
        check.ok = true;
        check.size = xsvf->size();
    } else {
        std::string bytes;
        check = CheckXsvfFile(xsvfPath, bytes);
        xsvf = std::make_shared<const std::string>(std::move(bytes));
    }
    if (!check.ok) {
        outcome.Show({StrPrintf("%s is not an XSVF file that can be played: %s.\n\nNothing was sent to device %u.",
                                xsvfPath.c_str(), check.problem.c_str(), index),
                      kAppTitle, mb::kOk | mb::kIconError});
        outcome.Refuse("check the XSVF file");
        ShowPendingMessages(ui, outcome);
        return outcome;
    }
    if (flags.manufacturingMode == 1) {
        ui.ShowButton(cmd::kVerify, false);
        ui.ShowButton(cmd::kResetCoefs, false);
        ui.ShowButton(cmd::kLinearityCoefs, false);
    }

    FpgaJobRequest request;
    request.deviceIndex = index;
    request.xsvfPath = xsvfPath;
    request.xsvf = xsvf;
    request.playerPath = options.playerPath.empty() ? FpgaPlayerPath(applicationPath) : options.playerPath;
    request.limits = options.limits;

    const int estimate = EstimateFpgaSeconds(check.size);
    if (index < static_cast<std::uint32_t>(kDevicePanes)) CreateDeviceBar(index, estimate, fpgaBarCreated[index]);
    programmingActive.store(1);
    fpgaSinceIdle_ = true;
    StartCountdownTimer(timer::kFpgaCountdown);
    runner.StartFpga(request, timerTicks + estimate, RecordJobStart(record, JobKind::Fpga, xsvfPath, xsvf),
                     options.confirm ? record.family : 0);
    platform_.ui.JobsChanged();
    outcome.Done(StrPrintf("start programming the FPGA of device %u", index));
    return outcome;
}

bool CMainFrame::JobRunning(std::uint32_t index) const { return runner.Running(index); }

std::vector<FinishedJob> CMainFrame::CollectFinishedJobs() {
    ShowHistoryProblem();
    std::vector<FinishedJob> finished;
    for (EndedJob& ended : runner.CollectEnded()) {
        FinishedJob job;
        job.deviceIndex = ended.deviceIndex;
        job.kind = ended.kind;
        job.result = std::move(ended.result);
        job.text = CompletionText(job.deviceIndex, job.kind, job.result);
        job.boxes = FoldMessages(job.result.outcome.messages);
        job.boxes.push_back({job.text, kAppTitle, job.result.Ok() ? mb::kOk : mb::kOk | mb::kIconError});
        finished.push_back(std::move(job));
    }
    return finished;
}

void CMainFrame::ShowFinishedJobs() {
    const std::vector<FinishedJob> finished = CollectFinishedJobs();
    for (const FinishedJob& job : finished) {
        for (const OutcomeMessage& box : job.boxes) platform_.ui.ShowNotice(ShownText(box), box.title, box.style);
    }
    if (!finished.empty()) platform_.ui.JobsChanged();
}

void CMainFrame::WaitForJobs() { runner.WaitForJobs(); }

std::vector<JobRow> CMainFrame::JobRows() const {
    std::vector<JobRow> rows;
    for (std::uint32_t index = 0; index < static_cast<std::uint32_t>(kMaxDevices); ++index) {
        if (!jobs.Used(index)) continue;
        const JobSnapshot snapshot = jobs.Snapshot(index);
        JobRow row;
        row.deviceIndex = index;
        row.kind = snapshot.kind;
        row.phase = snapshot.Phase();
        row.running = !snapshot.finished;
        row.percent = snapshot.at.percent;
        const int deadline = runner.Deadline(index);
        row.secondsLeft = row.running && deadline > timerTicks ? deadline - timerTicks : 0;
        // The wait for the device to come back counts down on its own.
        if (row.running && row.phase == JobPhase::Reconnecting) {
            row.secondsLeft = jobs[index].secondsLeft.load(std::memory_order_relaxed);
        }
        if (snapshot.finished) {
            const JobResult& result = jobs[index].result;
            row.result = result.Ok() ? (result.verified ? "succeeded, verified" : "succeeded")
                                   : "failed: " + (result.Problems().empty() ? std::string("unknown")
                                                                           : result.Problems().front());
            if (result.Ok() && !result.cameBackAs.empty()) row.result += ", came back as " + result.cameBackAs;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Both countdown timers tick every busy device by the rules of its own job's
// kind: a command that restarts timer 999 while an FPGA job runs would
// otherwise count that job down from the EEPROM deadline and overwrite the
// bar its stream fills.
void CMainFrame::OnTimer(int timerId) {
    if (timerId != timer::kEepromCountdown && timerId != timer::kFpgaCountdown) return;
    ++timerTicks;
    IUserInterface& ui = platform_.ui;
    int busyCount = 0;
    bool waitForPrompt = false;
    bool blink = false;  // an FPGA device still counting down
    bool eepromBusy = false;
    for (int i = 0; i < kDevicePanes; ++i) {
        const auto index = static_cast<std::uint32_t>(i);
        if (!runner.Busy(index)) continue;
        ++busyCount;
        const bool fpga = runner.Kind(index) == JobKind::Fpga;
        CProgressBar* bar = deviceProgress[index].get();
        std::string text;
        if (!fpga) {
            eepromBusy = true;
            const int remaining = eepromDeadline[index] - timerTicks;
            if (remaining > 10) {
                text = StrPrintf("Dev %d-%02d:%02d", i, remaining / 60, remaining % 60);
            } else {
                waitForPrompt = true;
                if (remaining <= 0) text = FinishingText(i);
            }
            if (bar != nullptr) bar->SetPos(bar->RangeMaximum() - remaining);
        } else {
            const int remaining = fpgaDeadline[index] - timerTicks;
            if (remaining > 0) {
                text = StrPrintf("Dev %d-%02d:%02d", i, remaining / 60, remaining % 60);
                blink = true;
            } else {
                text = FinishingText(i);  // still streaming or settling
            }
            if (bar != nullptr) {
                // Once streaming starts the bar shows the bytes sent out of
                // the file's size (the worker reports them in its entry).
                const JobSnapshot snapshot = jobs.Snapshot(index);
                if (snapshot.Phase() == JobPhase::Streaming || snapshot.Phase() == JobPhase::Settling) {
                    const int size = static_cast<int>(std::min<std::uint32_t>(snapshot.at.total, 0x7FFFFFFF));
                    const int sent = static_cast<int>(std::min<std::uint32_t>(snapshot.at.done, 0x7FFFFFFF));
                    if (bar->RangeMaximum() != size) bar->SetRange(0, size, 64);
                    if (bar->GetPos() != sent) bar->SetPos(sent);
                    if (bar->GetPos() == bar->RangeMaximum()) waitForPrompt = true;
                }
            }
        }
        if (bar != nullptr) bar->SetText(text);
    }
    if (busyCount > 0) {
        // An FPGA job past its deadline whose stream is not yet sent whole
        // leaves the message pane as it was.
        if (waitForPrompt) {
            ui.SetStatusText(0, kWaitForPrompt);
        } else if (eepromBusy || blink) {
            ui.SetStatusText(0, timerTicks % 2 == 0 ? kProgramming : "");
        }
    } else {
        ReturnToIdle(timerId);
    }
    ui.SetCloseEnabled(busyCount == 0);
    ShowFinishedJobs();
    if (AnyDeviceBusy()) ui.JobsChanged();
}

void CMainFrame::ShowStatusNote(const std::string& text) {
    platform_.ui.SetStatusText(0, text);
    statusNoteUntil_ = timerTicks + kStatusNoteTicks;
}

void CMainFrame::ReturnToIdle(int timerId) {
    IUserInterface& ui = platform_.ui;
    if (timerTicks >= statusNoteUntil_) ui.SetStatusText(0, kReady);
    for (auto& bar : deviceProgress) {
        if (!bar) continue;
        bar->Clear();
        bar->ClosePane();
    }
    programmingActive.store(0);
    if (flags.manufacturingMode == 1) {
        ui.ShowButton(cmd::kVerify, true);
        ui.ShowButton(cmd::kResetCoefs, true);
        if (timerId == timer::kFpgaCountdown || fpgaSinceIdle_) ui.ShowButton(cmd::kLinearityCoefs, true);
    }
    fpgaSinceIdle_ = false;
}

}  // namespace spindle
