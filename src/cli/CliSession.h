#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TerminalUserInterface.h"
#include "app/MainFrame.h"
#include "device/UsbTrace.h"
#include "platform/DebugTrace.h"
#include "sim/SimBench.h"

namespace spindle::cli {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the device or the operation failed
inline constexpr int kExitUsage = 2;   // the command line was wrong

// The options every subcommand takes.
struct GlobalOptions {
    std::string bench;     // --bench demo|FILE: the simulated bench to run against; empty: USB
    std::string usbTrace;  // --usb-trace FILE
    bool json = false;     // --json
    bool yes = false;      // --yes
    std::string history;   // --history FILE|URL|off: where the production record goes
    std::string command;   // the subcommand, as the production record names it
};

// What the tool shows of one device.
struct DeviceInfo {
    int item = CDeviceTree::kNoItem;
    std::uint32_t index = 0;
    std::uint32_t familyCode = 0;
    std::string familyName;  // as the tree groups it: "Kestrel", "Osprey+", "Ibis", "Lantern"...
    std::string serial;
    std::string label;  // the tree label, exactly
};

// Result of putting one value into the list through the frame's editors.
enum class EditOutcome {
    Changed,    // the row now holds the value
    Unchanged,  // the row held it already
    Locked,     // the editor keeps the value read-only (manufacturing lock)
    Refused,    // the value has the wrong form for its editor, or the editor did not take it
};

// One run of the tool: the ports (bench, clock, traces, terminal) and the
// main frame the commands drive. Commands only render what the frame does.
class CCliSession {
public:
    // Builds the session: on the simulated bench with --bench, otherwise on
    // the attached USB devices. `needsDevices` false lets a command that
    // never touches a device (unlock) run without either. On failure the
    // reason is printed and the exit status returned; kExitOk means
    // `session` is set.
    static int Open(const GlobalOptions& options, bool needsDevices, std::unique_ptr<CCliSession>& session);
    ~CCliSession();

    CMainFrame& Frame() { return *frame_; }
    CTerminalUserInterface& Ui() { return ui_; }
    const GlobalOptions& Options() const { return options_; }

    // Start-up as the window does it: settings, then the frame's creation.
    void StartUp();
    // Refresh Tree (the tree view's first showing).
    Outcome RefreshTree();

    // Resolves the selector against the tree and selects its item through
    // the frame, which runs Get All Values. Returns the item, or kNoItem
    // with the reason printed and `exitCode` set.
    int SelectDevice(const std::string& selectorText, int& exitCode);
    // Get All Values again on the selected device (after a save).
    Outcome ReadValues();
    // True when the last Get All Values read every value it shows.
    bool ValuesComplete() const { return frame_->listSource.valid; }
    // True when the last Get All Values read every value, the shown-only
    // ones (firmware version, registers) included.
    bool AllValuesRead() const { return lastReadOk_; }

    DeviceInfo Describe(int item) const;
    // The ports the session's frame uses, for commands that drive a core
    // object of their own (a CAnchor).
    Platform& Ports() { return *platform_; }

    // Puts `value` into list row `row` through the frame's double-click
    // editor (the auto-nulling editor for that row of a Kestrel+ or Harrier,
    // whose value is written "Enabled|Disabled,Enabled|Disabled,DARK,SATURATION").
    // A locked or refused row is reported on standard error.
    EditOutcome EditRow(int row, const std::string& value);
    // Whether the row's editor keeps it read-only; `note` receives why.
    bool RowLocked(int row, std::string& note);

    // Persists the frame's settings as closing the window does.
    void Close();

    // Takes in what a core operation did: a failed outcome fails the
    // command. Returns the outcome, so a command can also branch on it.
    const Outcome& Record(const Outcome& outcome);

    // kExitFailed once an operation failed or the tool met a failure of its
    // own, else kExitOk. Also reports a bench file that could not be saved.
    int ExitStatus();
    // The reason the simulated bench's file could not be saved, empty when
    // it was (or there is no file); reported here, not again at exit.
    std::string TakeBenchSaveError();

private:
    explicit CCliSession(const GlobalOptions& options);

    GlobalOptions options_;
    CTerminalUserInterface ui_;
    std::unique_ptr<sim::SimBench> bench_;      // --bench, or an empty bench
    std::unique_ptr<IEzusbDriver> usbDriver_;  // the real devices, without --bench
    std::unique_ptr<IClock> baseClock_;
    std::unique_ptr<CProgressClock> progressClock_;
    std::unique_ptr<CUsbTraceSetup> usbTrace_;
    std::unique_ptr<IDebugTrace> debugTrace_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<CMainFrame> frame_;
    bool operationFailed_ = false;
    std::vector<std::string> failedSteps_;  // of every outcome recorded
    bool lastReadOk_ = false;
    bool benchErrorReported_ = false;
};

// The label as text mode shows it: without its leading spaces.
std::string PlainLabel(const std::string& label);

}  // namespace spindle::cli
