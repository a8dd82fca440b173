#include "CliSession.h"

#include "app/Availability.h"

#include <algorithm>

#include "platform/INIFileSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <vector>

#include "DeviceSelector.h"
#include "platform/Format.h"
#include "platform/RealClock.h"
#include "platform/VirtualClock.h"
#include "protocol/ValueEditors.h"
#include "protocol/values/ValueSet.h"
#ifdef SPINDLE_HAVE_LIBUSB
#include "usb/LibusbDriver.h"
#endif

namespace spindle::cli {

namespace {

constexpr const char* kCategorySuffix = " Devices";

// SPINDLE_VIRTUAL_CLOCK=1 runs every protocol pause on a virtual clock, so
// scripted tests of the tool never wait for real.
bool VirtualClockRequested() {
    const char* value = std::getenv("SPINDLE_VIRTUAL_CLOCK");
    return value != nullptr && std::string(value) == "1";
}

}  // namespace

std::string PlainLabel(const std::string& label) {
    const std::size_t start = label.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : label.substr(start);
}

CCliSession::CCliSession(const GlobalOptions& options)
    : options_(options),
      ui_(CTerminalUserInterface::Options{options.yes, ::isatty(STDIN_FILENO) == 1, ::isatty(STDERR_FILENO) == 1},
          std::cin, std::cerr) {}

// Stops reading the frame's progress before the frame goes (its workers' last
// pauses still reach the progress line).
CCliSession::~CCliSession() { ui_.FollowSlots(nullptr); }

int CCliSession::Open(const GlobalOptions& options, bool needsDevices, std::unique_ptr<CCliSession>& session) {
    std::unique_ptr<CCliSession> made(new CCliSession(options));
    made->debugTrace_ = MakeDebugTraceFromEnvironment();
    IEzusbDriver* driver = nullptr;
    if (!options.bench.empty()) {
        try {
            made->bench_ = sim::LoadBench(options.bench);
            made->bench_->SetDebugTrace(made->debugTrace_.get());
        } catch (const sim::BenchFileError& error) {
            std::cerr << "spindle-cli: " << error.what() << '\n';
            return kExitUsage;
        }
        driver = made->bench_.get();
    } else if (!needsDevices) {
        // A command that never opens a device still needs a driver behind
        // the frame: an empty bench, on which every open fails.
        made->bench_ = std::make_unique<sim::SimBench>();
        driver = made->bench_.get();
    } else {
#ifdef SPINDLE_HAVE_LIBUSB
        // The attached devices. Why a device cannot be opened (no
        // permission, held by another program) goes to the debug trace.
        auto usb = std::make_unique<usb::CLibusbDriver>(made->debugTrace_.get());
        if (!usb->Ready()) {
            std::cerr << "spindle-cli: the USB back end cannot start (" << usb->InitError()
                      << "); run against a simulated bench with --bench demo or --bench FILE\n";
            return kExitFailed;
        }
        made->usbDriver_ = std::move(usb);
        driver = made->usbDriver_.get();
#else
        std::cerr << "spindle-cli: this program was built without the USB back end (libusb-1.0); "
                     "run against a simulated bench with --bench demo or --bench FILE\n";
        return kExitUsage;
#endif
    }
    if (VirtualClockRequested()) {
        made->baseClock_ = std::make_unique<VirtualClock>();
    } else {
        made->baseClock_ = std::make_unique<RealClock>();
    }
    // The bench's chips keep the host's time (the FPGA player works through
    // the job's pauses).
    if (made->bench_) made->bench_->SetClock(made->baseClock_.get());
    made->progressClock_ = std::make_unique<CProgressClock>(*made->baseClock_, made->ui_);
    made->usbTrace_ = std::make_unique<CUsbTraceSetup>(*driver, *made->progressClock_, options.usbTrace);
    if (!made->usbTrace_->error().empty()) {
        std::cerr << "spindle-cli: " << made->usbTrace_->error() << '\n';
        return kExitUsage;
    }
    made->platform_ = std::make_unique<Platform>(
        Platform{made->usbTrace_->driver(), made->usbTrace_->clock(), *made->debugTrace_, made->ui_});
    made->frame_ = std::make_unique<CMainFrame>(*made->platform_);
    made->ui_.FollowSlots(&made->frame_->valuesProgress);
    session = std::move(made);
    return kExitOk;
}

void CCliSession::StartUp() {
    frame_->LoadSettings();
    if (!options_.history.empty()) frame_->history.SetLocation(options_.history);
    frame_->history.SetBackend(options_.bench.empty() ? "usb" : "bench " + options_.bench);
    frame_->historyCommand = options_.command;
    frame_->OnCreate();
}

Outcome CCliSession::RefreshTree() {
    ui_.SetActivity("Scanning devices");
    return Record(frame_->OnRefreshTree());
}

int CCliSession::SelectDevice(const std::string& selectorText, int& exitCode) {
    std::string error;
    const std::optional<DeviceSelector> selector = ParseDeviceSelector(selectorText, error);
    if (!selector) {
        std::cerr << "spindle-cli: " << error << '\n';
        exitCode = kExitUsage;
        return CDeviceTree::kNoItem;
    }
    RefreshTree();
    const int item = FindDeviceItem(frame_->Tree(), *selector, platform_->driver, error);
    if (item == CDeviceTree::kNoItem) {
        ui_.Error(error);
        exitCode = kExitFailed;
        return CDeviceTree::kNoItem;
    }
    ui_.SetActivity("Reading values");
    lastReadOk_ = Record(frame_->OnTreeSelectionChanged(item)).Ok();
    exitCode = lastReadOk_ ? kExitOk : kExitFailed;
    return item;
}

Outcome CCliSession::ReadValues() {
    ui_.SetActivity("Reading values");
    Outcome read = frame_->OnGetAllValues();
    Record(read);
    lastReadOk_ = read.Ok();
    return read;
}

DeviceInfo CCliSession::Describe(int item) const {
    DeviceInfo info;
    const TreeItem* treeItem = frame_->Tree().Item(item);
    if (treeItem == nullptr) return info;
    info.item = item;
    info.label = treeItem->text;
    if (treeItem->record != nullptr) {
        info.index = treeItem->record->index;
        info.familyCode = treeItem->record->family;
        info.serial = treeItem->record->serial;
    }
    // The family as the tree groups it: the category the item sits under,
    // or "Lantern" for a light source shown under its Kestrel.
    const TreeItem* parent = frame_->Tree().Item(treeItem->parent);
    if (parent != nullptr && parent->record != nullptr) {
        info.familyName = "Lantern";
    } else if (parent != nullptr) {
        info.familyName = parent->text;
        if (info.familyName.ends_with(kCategorySuffix)) {
            info.familyName.resize(info.familyName.size() - std::string(kCategorySuffix).size());
        }
    }
    return info;
}

EditOutcome CCliSession::EditRow(int row, const std::string& value) {
    CValueList& list = frame_->List();
    const std::string label = PlainLabel(list.GetText(row, CValueList::kItemColumn));
    const std::string before = list.GetText(row, CValueList::kDataColumn);
    const RowRule rule = list.Rule(row);
    std::string note;
    if (RowLocked(row, note)) {
        if (before == value) return EditOutcome::Unchanged;
        if (rule.input == RowInput::ShownOnly && rule.codec != SlotCodec::AutoNulling) {
            ui_.Error(StrPrintf("\"%s\" cannot be set: %s", label.c_str(), note.c_str()));
            return EditOutcome::Refused;
        }
        ui_.Error(StrPrintf("\"%s\" cannot be changed: the value is locked.", label.c_str()));
        ui_.Note(note);
        return EditOutcome::Locked;
    }
    // The list's values (the bytes read and the edits the list holds) take
    // the edit as the row's codec rules it, before anything is written.
    const DeviceRecord* record = frame_->SelectedRecord();
    CValueSet values(record != nullptr ? static_cast<int>(record->family) : 0, frame_->listSource.slots);
    for (int at = 0; at < values.RowCount(); ++at) {
        values.Take(at, list.GetText(values.FirstListRow() + at, CValueList::kDataColumn));
    }
    values.SetAutoNulling(frame_->autoNulling);
    if (const std::string why = values.Edit(row - values.FirstListRow(), value); !why.empty()) {
        ui_.Error(StrPrintf("\"%s\": %s", label.c_str(), why.c_str()));
        return EditOutcome::Refused;
    }
    list.SetText(row, CValueList::kDataColumn, value);
    if (rule.codec == SlotCodec::AutoNulling) frame_->autoNulling = values.AutoNulling();
    return before == value ? EditOutcome::Unchanged : EditOutcome::Changed;
}

bool CCliSession::RowLocked(int row, std::string& note) {
    const Availability editable = RowAvailability(*frame_, row);
    note = editable.reason;
    return !editable.offered;
}

void CCliSession::Close() { frame_->OnClose(); }

const Outcome& CCliSession::Record(const Outcome& outcome) {
    if (!outcome.Ok()) operationFailed_ = true;
    failedSteps_.insert(failedSteps_.end(), outcome.failed.begin(), outcome.failed.end());
    return outcome;
}

std::string CCliSession::TakeBenchSaveError() {
    if (!bench_ || bench_->FilePath().empty() || bench_->LastSaveError().empty()) return {};
    benchErrorReported_ = true;
    return bench_->LastSaveError();
}

int CCliSession::ExitStatus() {
    if (bench_ && !bench_->FilePath().empty() && !bench_->LastSaveError().empty()) {
        if (!benchErrorReported_) ui_.Error("the bench file could not be saved: " + bench_->LastSaveError());
        benchErrorReported_ = true;
        operationFailed_ = true;
    }
    // Settings that could not be read were taken as defaults (features
    // seem locked); the warning was shown, and the command did not run as
    // this installation is set up.
    const bool failed = ui_.Failed() || operationFailed_ || AnyUnreadableSettingsFile();
    // An operation may fail without a box (a device that vanished before it
    // could be opened shows none in the window): name the steps that failed,
    // so no failure goes unexplained.
    if (failed && !ui_.SaidAnything()) {
        // Each failed step once, as the operation named it.
        std::vector<std::string> named;
        for (const std::string& step : failedSteps_) {
            if (std::find(named.begin(), named.end(), step) == named.end()) named.push_back(step);
        }
        std::string steps;
        for (const std::string& step : named) steps += (steps.empty() ? "" : "; ") + step;
        ui_.Error(steps.empty() ? std::string("the command failed") : "the command failed: " + steps);
    }
    return failed ? kExitFailed : kExitOk;
}

}  // namespace spindle::cli
