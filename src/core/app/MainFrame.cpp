#include "app/MainFrame.h"

#include <algorithm>

#include "platform/Format.h"

#include "device/Families.h"
#include "platform/INIFileSupport.h"
#include "platform/UserInterface.h"

namespace spindle {

namespace {
constexpr const char* kSettings = "Settings";

// Counts a command as under way for as long as it runs.
class CommandScope {
public:
    explicit CommandScope(int& depth) : depth_(depth) { ++depth_; }
    ~CommandScope() { --depth_; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    int& depth_;
};
}  // namespace

CMainFrame::CMainFrame(Platform& platform) : runner(platform), history(platform.clock), platform_(platform) {
    runner.SetEndHook([this](const JobRequest& request, const JobResult& result) { RecordJobEnd(request, result); });
    platform_.slotJournal = &history;
}

CMainFrame::~CMainFrame() {
    WaitForJobs();
    platform_.slotJournal = nullptr;
}

void CMainFrame::LoadSettings() {
    CINIFileSupport store(platform_.ui, nullptr, 1, this);
    splitterColumnSize = store.ReadInt(kSettings, "SplitterColumnSize", 150);
    splitterMinSize = store.ReadInt(kSettings, "SplitterMinSize", 50);
    flags = ReadFeatureFlags(store);
    applicationPath = store.ReadText(kSettings, "ApplicationPath", "");
    if (applicationPath.size() > 259) applicationPath.resize(259);
    // A file, a server URL, "off", or nothing for the file in this folder.
    history.SetLocation(store.ReadText(kSettings, "History", ""));
}

void CMainFrame::OnCreate() {
    timerTicks = 0;
    StartCountdownTimer(timer::kEepromCountdown);
    SetCommandVisibility();
}

void CMainFrame::SetCommandVisibility() {
    IUserInterface& ui = platform_.ui;
    if (flags.manufacturingMode != 1) {
        if (flags.extraIbisUnlocked == 1) {
            ui.ShowBar(bar::kManufacturing, true);
            ui.ShowButton(cmd::kIbisExtra, true);
            ui.ShowButton(cmd::kLinearityCoefs, false);
            ui.ShowButton(cmd::kResetCoefs, false);
            ui.ShowButton(cmd::kVerify, false);
        } else {
            ui.ShowBar(bar::kManufacturing, false);
        }
    }
    ui.ShowButton(cmd::kLinearityCoefs, false);
}

void CMainFrame::OnInitialUpdate() { OnRefreshTree(); }

bool CMainFrame::AnyDeviceBusy() const { return runner.AnyBusy(); }

bool CMainFrame::CanClose() const { return !AnyDeviceBusy(); }

std::string CMainFrame::SelectedLabel() const {
    const TreeItem* item = tree_.Item(tree_.Selected());
    if (item == nullptr) return {};
    const std::size_t start = item->text.find_first_not_of(' ');
    const std::size_t end = item->text.find_last_not_of(" \n");
    return start == std::string::npos ? std::string() : item->text.substr(start, end - start + 1);
}

std::string CMainFrame::NoSuchPageText(const char* what) const {
    return SelectedLabel() + " has no " + what + ".";
}

std::string CMainFrame::CloseRefusal() const {
    if (CanClose()) return {};
    const std::vector<JobRow> rows = JobRows();
    std::string text = "Spindle cannot close while a device is being programmed: closing would cut its job off.\n";
    for (std::uint32_t index = 0; index < static_cast<std::uint32_t>(kMaxDevices); ++index) {
        if (!runner.Busy(index)) continue;
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [index](const JobRow& job) { return job.deviceIndex == index && job.running; });
        if (row == rows.end()) {
            text += StrPrintf("\n- device %u is busy", index);
        } else if (row->secondsLeft > 0) {
            text += StrPrintf("\n- device %u: %s job, about %d:%02d left", index, row->kind == JobKind::Fpga ? "FPGA" : "EEPROM",
                              row->secondsLeft / 60, row->secondsLeft % 60);
        } else {
            text += StrPrintf("\n- device %u: %s job, finishing", index, row->kind == JobKind::Fpga ? "FPGA" : "EEPROM");
        }
    }
    return text + "\n\nClose the window once the jobs have ended.";
}

void CMainFrame::OnClose() {
    StopCountdownTimer();
    CINIFileSupport store(platform_.ui, nullptr, 1, this);
    store.WriteInt(kSettings, "SplitterColumnSize", splitterColumnSize);
    store.WriteInt(kSettings, "SplitterMinSize", splitterMinSize);
    WriteFeatureFlags(store, flags);
}

Outcome CMainFrame::OnTreeSelectionChanged(int item) {
    const CommandScope scope(commandDepth_);
    if (item != tree_.Selected() && !KeepOrSaveEdits()) {
        // Stay on the device whose edits are kept: the view follows the model.
        Outcome stayed;
        tree_.Select(tree_.Selected());
        stayed.Done("kept the unsaved edits");
        return stayed;
    }
    tree_.Select(item);
    Outcome outcome = OnGetAllValues();
    platform_.ui.CommandStateChanged();
    return outcome;
}

void CMainFrame::StopCountdownTimer() {
    if (rememberedTimer_ != 0) platform_.ui.KillTimer(rememberedTimer_);
}

void CMainFrame::StartCountdownTimer(int id) {
    platform_.ui.SetTimer(id, timer::kPeriodMs);
    rememberedTimer_ = id;
}

bool CMainFrame::IsCommandEnabled(int commandId) {
    const int selected = tree_.Selected();
    const DeviceRecord* record = tree_.SelectedRecord();
    if (selected != CDeviceTree::kNoItem) {
        if (record != nullptr) {
            // A family with a PSOC page enables PSOC Diags., one with the
            // Kestrel settings Extra Kestrel; any other leaves both as they were.
            const FamilyTraits& traits = FamilyOf(static_cast<int>(record->family));
            if (traits.psocPage != PsocPage::None) {
                enablePsoc = 1;
                enableExtraKestrel = 0;
            } else if (traits.extraKestrel) {
                enablePsoc = 0;
                enableExtraKestrel = 1;
            }
        } else {
            enablePsoc = 0;
            enableExtraKestrel = 0;
        }
    }
    enableGetAllValues = enableSaveAllValues = enableRefreshTree = 1;
    if (programmingActive.load() == 1 && record != nullptr) {
        const int value = runner.Busy(record->index) ? 0 : 1;
        enableGetAllValues = enableSaveAllValues = enableExtraKestrel = enablePsoc = enableRefreshTree = value;
    }
    switch (commandId) {
        case cmd::kRefreshTree: return enableRefreshTree == 1;
        case cmd::kGetAllValues: return enableGetAllValues == 1;
        case cmd::kSaveAllValues: return enableSaveAllValues == 1;
        case cmd::kProgramFpga: return enableProgramFpga == 1;
        case cmd::kExtraKestrel: return enableExtraKestrel == 1;
        case cmd::kPsocDiags:
        case cmd::kIbisExtra: return enablePsoc == 1;
        case cmd::kAppExit: return !AnyDeviceBusy();
        default: return true;
    }
}

bool CMainFrame::OnCommand(int commandId) {
    const CommandScope scope(commandDepth_);
    switch (commandId) {
        case cmd::kRefreshTree: OnRefreshTree(); return true;
        case cmd::kGetAllValues: OnGetAllValues(); return true;
        case cmd::kSaveAllValues: OnSaveAllValues(); return true;
        case cmd::kVerify: OnVerify(); return true;
        case cmd::kResetCoefs: OnResetCoefs(); return true;
        case cmd::kLinearityCoefs: OnLinearityCoefs(); return true;
        case cmd::kUnlockFeatures: OnUnlockFeatures(); return true;
        case cmd::kProgram: OnProgram(); return true;
        case cmd::kProgramFpga: OnProgramFpga(); return true;
        case cmd::kPsocDiags: OnPsocDiags(); return true;
        case cmd::kCalibrate: OnCalibrate(); return true;
        case cmd::kZephyrCalFile: OnZephyrCalFile(); return true;
        case cmd::kExtraKestrel: OnExtraKestrel(); return true;
        case cmd::kIbisExtra: OnIbisExtra(); return true;
        case cmd::kAppAbout: OnAppAbout(); return true;
        default: return false;
    }
}

}  // namespace spindle
