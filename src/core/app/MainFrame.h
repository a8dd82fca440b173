#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/FirstRunNotice.h"
#include "app/FeatureFlags.h"
#include "app/FrameJobs.h"
#include "app/ProgressBar.h"
#include "history/HistoryRecorder.h"
#include "inventory/DeviceRecord.h"
#include "inventory/DeviceScan.h"
#include "inventory/DeviceTree.h"
#include "platform/CommandIds.h"
#include "platform/Outcome.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "programming/JobRunner.h"
#include "protocol/RawSlots.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/ValueList.h"

namespace spindle {

class CSpecPropSheet;
class CLanternCalDlg;
class CExtraKestrelDlg;
class IAnimatedPicture;

// The main frame's logic: owns everything that lives longer than one command
// (device table, job state, feature flags, the auto-nulling copy, the tree
// and list models, the command-enable flags) and handles every command.
// Front ends render its models and forward the operator's gestures to it;
// everything it shows goes through the user-interface port.
class CMainFrame {
public:
    explicit CMainFrame(Platform& platform);
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // --- Start-up and shut-down ----------------------------------------------
    // Reads the "Settings" values (feature flags, splitter sizes, application
    // path) from the settings store.
    void LoadSettings();
    // Window creation: clears the job state, starts timer 999 and sets the
    // bars' visibility from the flags.
    void OnCreate();
    // The tree view's first showing: fills the tree.
    void OnInitialUpdate();
    // False while any device is busy (the close box is gone then).
    bool CanClose() const;
    // Why the window may not close now: each busy device with its job and
    // the time its estimate leaves. Empty when it may close.
    std::string CloseRefusal() const;
    // The selected tree item's label without the blanks around it.
    std::string SelectedLabel() const;
    // Stops the timer and writes the frame's settings.
    void OnClose();

    // --- Commands -------------------------------------------------------------
    // Each shows its boxes and returns what it did; front ends that only
    // show may ignore the outcome, the command-line tool takes its exit
    // status from it. The bodies live in app/commands/.
    Outcome OnRefreshTree();
    Outcome OnGetAllValues();
    Outcome OnSaveAllValues();
    Outcome OnVerify();
    Outcome OnResetCoefs();
    Outcome OnLinearityCoefs();
    Outcome OnUnlockFeatures();
    // Writes a backup's exact slot bytes into the selected device, under the
    // same conditions as Save All Values (the list read from this device,
    // completely, and the device not busy). For the command-line tool's
    // import; the window has no such button.
    Outcome RestoreStoredValues(const RawSlots& slots);
    // Program: writes an EEPROM image chosen by the operator into the
    // selected device on a worker of its own.
    Outcome OnProgram();
    // Starts an EEPROM job on `record`'s device with `imagePath`, as Program
    // does once the file is chosen: asks before writing an image meant for
    // the other chip generation, refuses an image the EEPROM address cannot
    // hold, sets the deadline and the bar, and starts the worker. The
    // command-line tool calls it for each device it programs.
    // Reads the chosen image whole, once (the checks and the worker use the
    // bytes): it can be read, is not empty and fits the EEPROM's addresses.
    // Refusals are shown.
    Outcome LoadEepromImage(const std::string& imagePath, std::shared_ptr<const std::string>& image);
    // Asks before an image that looks made for the other chip generation.
    Outcome CheckEepromImage(const DeviceRecord& record, const std::string& imagePath, const std::string& image);
    Outcome StartEepromJob(const DeviceRecord& record, const std::string& imagePath,
                           const EepromJobOptions& options = {});
    // Program FPGA: streams an XSVF file chosen by the operator to the
    // selected device's programmable logic, through the FPGA player loaded
    // into its 8051, on a worker of its own.
    Outcome OnProgramFpga();
    // Starts an FPGA job on `record`'s device with the XSVF file, as Program
    // FPGA does once the file is chosen: refuses a file that is not XSVF
    // (nothing reaches the device), sets the deadline and the bar, and
    // starts the worker. The command-line tool calls it for each device.
    Outcome StartFpgaJob(const DeviceRecord& record, const std::string& xsvfPath, const FpgaJobOptions& options = {});
    // PSOC Diags.: the sheet with the one page of the selected device's
    // family, on the device opened for it; the countdown stops meanwhile.
    Outcome OnPsocDiags();
    // Ibis Extra: the Ibis page alone, for an Ibis-family device that is not
    // being programmed (another family opens nothing).
    Outcome OnIbisExtra();
    // Calibrate: the Lantern's temperature line, read from its accessory
    // slots 1 and 2; on OK the list row of slot 2 takes the intercept.
    Outcome OnCalibrate();
    // Calibrate with `operate` in place of the dialog's modal run: it works
    // the dialog's logic and returns true for OK. The command-line tool's
    // Lantern commands.
    Outcome RunCalibrate(const std::function<bool(CLanternCalDlg&)>& operate);
    // Zephyr Cal. File: a .cal file's sixteen coefficients into the selected
    // Lantern's accessory slots 3-18, then Get All Values.
    Outcome OnZephyrCalFile();
    // Extra Kestrel: the Kestrel's packed settings in slots 17-19.
    Outcome OnExtraKestrel();
    // Extra Kestrel with `operate` in place of the dialog's modal run (true
    // for OK), on the device opened for it.
    Outcome RunExtraKestrel(const std::function<bool(CExtraKestrelDlg&)>& operate);
    // The animated picture the front end draws for the Ibis page (null: none).
    void SetAnimatedPicture(IAnimatedPicture* picture) { picture_ = picture; }
    void OnAppAbout();
    // Runs a command by its id; false for an id the frame does not handle.
    bool OnCommand(int commandId);

    // --- Gestures ---------------------------------------------------------------
    // The tree's selection changed to `item` (CDeviceTree::kNoItem for none).
    // Runs Get All Values on it and returns its outcome.
    Outcome OnTreeSelectionChanged(int item);
    // Double-click and Enter on list row `row` (-1 when no row is selected).
    void OnListDoubleClick(int row);
    void OnListEnterKey(int row);

    // --- Timers and command enabling -------------------------------------------
    void OnTimer(int timerId);
    // Stops the remembered countdown timer / starts `id` and remembers it.
    void StopCountdownTimer();
    void StartCountdownTimer(int id);
    int RememberedTimer() const { return rememberedTimer_; }
    // Refreshes and returns the enable state of a command, as the bars ask
    // whenever the state may have changed.
    bool IsCommandEnabled(int commandId);
    bool AnyDeviceBusy() const;

    // --- Following the bus --------------------------------------------------------
    // The window's tick: when devices arrived or left since the last scan
    // (the driver's bus generation moved), refreshes the tree and selects the
    // device that was selected again when it is still there. Not while a job
    // runs or a command is under way (a tick may come from a box or a pause
    // inside one). Edits not yet saved are never thrown away: the tree is
    // left as it is, the message pane says it is out of date on every tick,
    // and it is refreshed on the first tick after the edits were saved or
    // dropped.
    void FollowBus();

    // --- Programming jobs -----------------------------------------------------
    // Every job since the frame was created, for the jobs panel.
    std::vector<JobRow> JobRows() const;
    // The jobs whose workers have ended since the last call, each once. The
    // countdown tick shows their completion boxes; the command-line tool
    // reports them itself.
    std::vector<FinishedJob> CollectFinishedJobs();
    // Blocks until every worker has ended (tests, the command-line tool, and
    // the frame's destruction).
    void WaitForJobs();
    bool JobRunning(std::uint32_t index) const;

    // --- Models ------------------------------------------------------------------
    CDeviceTree& Tree() { return tree_; }
    const CDeviceTree& Tree() const { return tree_; }
    CValueList& List() { return list_; }
    const CValueList& List() const { return list_; }
    Platform& GetPlatform() { return platform_; }
    // What the list area shows while the last scan listed no device: why,
    // and what to do (not shown once a device is listed).
    const FirstRunNotice& StartNotice() const { return startNotice_; }
    // Set by the front end before the first scan: a simulated bench, or why
    // the USB back end could not start (the frame then runs on a driver
    // that has no devices).
    bool simulatedBench = false;
    std::string backendError;
    // The record of the selected tree item, or null.
    const DeviceRecord* SelectedRecord() const { return tree_.SelectedRecord(); }

    // --- State owned by the frame ----------------------------------------------
    DeviceRecordTable deviceRecords{};
    // The programming jobs: requests, workers, entries, busy flags and
    // deadlines. The frame starts jobs through it and shows its state; the
    // members below are views onto that state.
    CJobRunner runner;
    JobBusyFlags& jobBusy = runner.BusyFlags();
    std::array<int, kMaxDevices>& eepromDeadline = runner.EepromDeadlines();
    std::array<int, kMaxDevices>& fpgaDeadline = runner.FpgaDeadlines();
    CJobTable& jobs = runner.Entries();
    FeatureFlags flags;
    std::string applicationPath;
    int splitterColumnSize = 150;
    int splitterMinSize = 50;
    CAutoNullingInfo autoNulling;
    // Command-enable flags (1 = enabled).
    int enableRefreshTree = 1;
    int enableGetAllValues = 1;
    int enableSaveAllValues = 1;
    int enableExtraKestrel = 1;
    int enablePsoc = 1;
    int enableProgramFpga = 0;
    std::atomic<int> programmingActive{0};
    int timerTicks = 0;
    // The production record: every job and every stored-value write.
    CHistoryRecorder history;
    // The name the next stored-value write is recorded under (the
    // command-line tool's command); empty: the window's button.
    std::string historyCommand;
    // The bars of device indices 0 to 7, in status-bar panes 1 to 8.
    static constexpr int kDevicePanes = 8;
    std::array<std::unique_ptr<CProgressBar>, kDevicePanes> deviceProgress;
    std::array<std::uint8_t, kDevicePanes> eepromBarCreated{};
    std::array<std::uint8_t, kDevicePanes> fpgaBarCreated{};

    // What the list was read from: Save All Values writes only into the
    // device the list came from.
    struct ListSource {
        bool valid = false;
        std::uint32_t index = 0;
        std::uint32_t family = 0;
        RawSlots slots;  // the exact bytes Get All Values read
    };
    ListSource listSource;
    // How far the slot loop of Get All Values, Save All Values or a restore
    // is (the user-interface thread writes it; the message pane and the
    // command line's progress line read it).
    CProgress valuesProgress;
    // The PSOC sheet while it runs.
    CSpecPropSheet* propertySheet = nullptr;

    // Before the list is replaced (another device, Get All Values, Refresh
    // Tree): when it holds edits not yet saved, asks "Save changes to
    // <device>?". Yes saves (and goes on only when the save succeeded), No
    // drops the edits, Cancel stays. True to go on.
    bool KeepOrSaveEdits();

private:
    // The bodies of the commands that write stored values; the public
    // handlers record their writes around them (app/commands/HistoryCommands.cpp).
    Outcome SaveAllValuesWrites();
    Outcome RestoreStoredValuesWrites(const RawSlots& slots);
    Outcome CalibrateWrites(const std::function<bool(CLanternCalDlg&)>& operate);
    Outcome ZephyrCalFileWrites();
    Outcome ExtraKestrelWrites(const std::function<bool(CExtraKestrelDlg&)>& operate);
    Outcome RecordValueWrites(const char* button, const std::function<Outcome()>& command);
    std::int64_t RecordJobStart(const DeviceRecord& record, JobKind kind, const std::string& imagePath,
                                std::shared_ptr<const std::string> image);
    void RecordJobEnd(const JobRequest& request, const JobResult& result);
    // Shows the production record's first problem, once (the user-interface thread).
    void ShowHistoryProblem();
    void UpdateStartNotice(const Outcome& scan);
    FirstRunNotice startNotice_;
    void SetCommandVisibility();
    // The device's bar in its pane, created afresh with the estimate as its range.
    void CreateDeviceBar(std::uint32_t index, int estimate, std::uint8_t& created);
    void ReturnToIdle(int timerId);
    void ShowFinishedJobs();
    // A line in the message pane that the idle countdown leaves standing for
    // a few ticks before it shows "Ready" again.
    void ShowStatusNote(const std::string& text);
    // Why a model-specific button that stays enabled does nothing here:
    // "<device> has no <what>."
    std::string NoSuchPageText(const char* what) const;

    Platform& platform_;
    CDeviceTree tree_;
    CValueList list_;
    int rememberedTimer_ = 0;
    // An FPGA job ran since the frame last returned to idle: "Linearity
    // Coefs" is shown again then, whichever countdown was running.
    bool fpgaSinceIdle_ = false;
    int statusNoteUntil_ = 0;  // timerTicks up to which a status note stands
    // The bus generation the last scan started at.
    std::uint64_t scannedGeneration_ = 0;
    // Commands under way (OnCommand and selection changes).
    int commandDepth_ = 0;
    IAnimatedPicture* picture_ = nullptr;
};

}  // namespace spindle
