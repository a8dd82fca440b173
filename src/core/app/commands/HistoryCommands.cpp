// The production record's hooks in the frame: a record when a job starts,
// completed by its worker when it ends, and a record of the slot writes each
// stored-value command makes.
#include "app/MainFrame.h"

#include <utility>

#include "device/Families.h"
#include "platform/UserInterface.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle {

namespace {

const char* ChipText(std::uint32_t family) {
    return FamilyOf(static_cast<int>(family)).chip == ChipGeneration::Fx2 ? "fx2" : "ezusb";
}

}  // namespace

Outcome CMainFrame::OnSaveAllValues() {
    return RecordValueWrites("Save All Values", [this] { return SaveAllValuesWrites(); });
}

Outcome CMainFrame::RestoreStoredValues(const RawSlots& slots) {
    return RecordValueWrites("Restore Values", [this, &slots] { return RestoreStoredValuesWrites(slots); });
}

Outcome CMainFrame::OnCalibrate() {
    return RunCalibrate([this](CLanternCalDlg& dialog) { return platform_.ui.DoModal(dialog) == mb::kIdOk; });
}

Outcome CMainFrame::RunCalibrate(const std::function<bool(CLanternCalDlg&)>& operate) {
    return RecordValueWrites("Calibrate", [this, &operate] { return CalibrateWrites(operate); });
}

Outcome CMainFrame::OnZephyrCalFile() {
    return RecordValueWrites("Zephyr Cal. File", [this] { return ZephyrCalFileWrites(); });
}

Outcome CMainFrame::OnExtraKestrel() {
    return RunExtraKestrel([this](CExtraKestrelDlg& dialog) { return platform_.ui.DoModal(dialog) == mb::kIdOk; });
}

Outcome CMainFrame::RunExtraKestrel(const std::function<bool(CExtraKestrelDlg&)>& operate) {
    return RecordValueWrites("Extra Kestrel", [this, &operate] { return ExtraKestrelWrites(operate); });
}

Outcome CMainFrame::RecordValueWrites(const char* button, const std::function<Outcome()>& command) {
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return command();
    HistoryStart start;
    start.command = historyCommand.empty() ? button : historyCommand;
    start.backend = simulatedBench ? "bench" : "usb";
    start.deviceIndex = record->index;
    start.family = record->family;
    start.serial = record->serial;
    start.chip = ChipText(record->family);
    const bool listFromHere = listSource.valid && listSource.index == record->index;
    history.BeginValueWrites(start, listFromHere ? &listSource.slots : nullptr);
    const Outcome outcome = command();
    history.EndValueWrites(outcome.Ok(), outcome.failed);
    ShowHistoryProblem();
    return outcome;
}

std::int64_t CMainFrame::RecordJobStart(const DeviceRecord& record, JobKind kind, const std::string& imagePath,
                                        std::shared_ptr<const std::string> image) {
    HistoryStart start;
    start.kind = kind == JobKind::Fpga ? HistoryKind::Fpga : HistoryKind::Eeprom;
    start.command = kind == JobKind::Fpga ? "Program FPGA" : "Program";
    start.backend = simulatedBench ? "bench" : "usb";
    start.deviceIndex = record.index;
    start.family = record.family;
    start.serial = record.serial;
    start.chip = ChipText(record.family);
    start.imagePath = imagePath;
    start.image = std::move(image);
    const std::int64_t id = history.Start(start);
    ShowHistoryProblem();
    return id;
}

// On the job's worker, before the job is marked finished: whoever collects
// the job finds its record complete.
void CMainFrame::RecordJobEnd(const JobRequest& request, const JobResult& result) {
    HistoryEnd end;
    // A job stopped on request ended part done: interrupted, as one whose
    // process was killed.
    end.result = result.Ok()                                        ? HistoryResult::Worked
                 : result.outcome.failure == FailureKind::Stopped ? HistoryResult::Interrupted
                                                                    : HistoryResult::Failed;
    end.problems = result.Problems();
    end.bytesWritten = result.bytesWritten;
    end.verified = result.verified;
    end.backupPath = result.backupPath;
    if (!result.serialAfter.empty()) end.serialAfter = result.serialAfter;
    history.Complete(request.recordId, end);
}

void CMainFrame::ShowHistoryProblem() {
    if (const auto problem = history.TakeProblem()) {
        platform_.ui.ShowNotice(*problem, kAppTitle, mb::kOk | mb::kIconWarning);
    }
}

}  // namespace spindle
