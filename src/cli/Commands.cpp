#include "Commands.h"

#include "CliOutput.h"

#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include <nlohmann/json.hpp>

#include "DeviceSelector.h"
#include "JsonText.h"
#include "device/Anchor.h"
#include "device/LoaderImages.h"
#include "ValuesBackup.h"
#include "platform/CommandIds.h"
#include "app/Availability.h"
#include "app/FeatureUnlock.h"
#include "platform/INIFileSupport.h"
#include "platform/Format.h"

namespace spindle::cli {

std::string DeviceName(const DeviceInfo& info) {
    std::string name = PlainLabel(info.label);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

void PrintJson(const OrderedJson& document) { std::cout << document.dump(2) << '\n'; }

OrderedJson DeviceJson(const DeviceInfo& info) {
    return OrderedJson{{"index", info.index},
                       {"familyCode", info.familyCode},
                       {"familyName", JsonText(info.familyName)},
                       {"serial", JsonText(info.serial)},
                       {"label", JsonText(info.label)}};
}

bool FindDeviceOnTree(CCliSession& session, const std::string& device, DeviceInfo& info, int& status) {
    std::string error;
    const std::optional<DeviceSelector> selector = ParseDeviceSelector(device, error);
    if (!selector) {
        std::cerr << "spindle-cli: " << error << '\n';
        status = kExitUsage;
        return false;
    }
    const int item = FindDeviceItem(session.Frame().Tree(), *selector, session.Ports().driver, error);
    const TreeItem* treeItem = session.Frame().Tree().Item(item);
    if (item == CDeviceTree::kNoItem || treeItem == nullptr || treeItem->record == nullptr) {
        session.Ui().Error(error.empty() ? "that item is not a device" : error);
        status = session.ExitStatus();
        return false;
    }
    info = session.Describe(item);
    return true;
}

namespace {

OrderedJson RowsJson(const std::vector<ValueRow>& rows) {
    OrderedJson array = OrderedJson::array();
    for (const ValueRow& row : rows) {
        array.push_back({{"label", JsonText(row.label)}, {"value", JsonText(row.value)}});
    }
    return array;
}

// A row whose value a save changed, as read back from the device.
struct Change {
    int row = 0;
    std::string label;
    std::string before;
    std::string after;
};

std::vector<Change> DiffRows(const std::vector<ValueRow>& before, const std::vector<ValueRow>& after) {
    std::vector<Change> changes;
    const std::size_t count = std::min(before.size(), after.size());
    for (std::size_t i = 0; i < count; ++i) {
        // A row that was not read on either side is not known to have changed.
        if (before[i].value == kNotReadText || after[i].value == kNotReadText) continue;
        if (before[i].value != after[i].value) {
            changes.push_back({static_cast<int>(i), after[i].label, before[i].value, after[i].value});
        }
    }
    return changes;
}

// Opens the session, starts the frame and selects the device (Get All
// Values). Null, with `status` set, when any of it failed.
std::unique_ptr<CCliSession> OpenDevice(const GlobalOptions& options, const std::string& device, int& status,
                                        DeviceInfo& info) {
    std::unique_ptr<CCliSession> session;
    status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return nullptr;
    session->StartUp();
    const int item = session->SelectDevice(device, status);
    if (item == CDeviceTree::kNoItem) return nullptr;
    info = session->Describe(item);
    return session;
}

// The list must hold every value of the device before it is shown as a
// backup or written back.
bool RequireCompleteValues(CCliSession& session, const DeviceInfo& info) {
    if (session.Frame().List().Empty()) {
        session.Ui().Error(StrPrintf("%s has no stored values", DeviceName(info).c_str()));
        return false;
    }
    if (!session.ValuesComplete()) {
        session.Ui().Error(StrPrintf("some values of %s could not be read", DeviceName(info).c_str()));
        return false;
    }
    return true;
}

// A command runs only where the window would offer it for this device in
// this mode.
bool RequireAvailable(CCliSession& session, int commandId) {
    const Availability availability = CommandAvailability(session.Frame(), commandId);
    if (availability.Available()) return true;
    session.Ui().Error(availability.needsUnlock ? availability.reason + " (spindle-cli unlock CODE)"
                                                : availability.reason);
    return false;
}

// Save All Values, then Get All Values again, and shows what the device
// now holds differently from `before`. Rows the operator asked for that
// the device did not take are named on standard error.
int SaveAndReport(CCliSession& session, const DeviceInfo& info, const std::vector<ValueRow>& before,
                  const std::set<int>& requestedRows, const RawSlots* restore = nullptr) {
    CTerminalUserInterface& ui = session.Ui();
    ui.SetActivity(restore != nullptr ? "Restoring values" : "Saving values");
    const Outcome saved =
        restore != nullptr ? session.Frame().RestoreStoredValues(*restore) : session.Frame().OnSaveAllValues();
    if (!session.Record(saved).Ok()) return session.ExitStatus();

    session.ReadValues();
    const std::vector<ValueRow> after = session.Frame().List().Rows();
    if (!session.AllValuesRead()) {
        std::string unread;
        for (const ValueRow& row : after) {
            if (row.value == kNotReadText) unread += (unread.empty() ? "" : ", ") + PlainLabel(row.label);
        }
        ui.Error(StrPrintf("the values were written, but these could not be read back: %s; "
                           "only what was read back is listed as changed",
                           unread.empty() ? "(see the warnings above)" : unread.c_str()));
    }
    const std::vector<Change> changes = DiffRows(before, after);
    // The simulated bench keeps what the device holds in its file: a change
    // that did not reach the file is not reported as made.
    const std::string benchProblem = session.TakeBenchSaveError();
    if (!benchProblem.empty()) {
        ui.Error("the bench file could not be saved: " + benchProblem);
        for (const Change& change : changes) {
            ui.Note(StrPrintf("not saved in the bench file: %s: %s -> %s", PlainLabel(change.label).c_str(),
                              change.before.c_str(), change.after.c_str()));
        }
        ui.Note("The simulated device held these values only while this command ran; the bench file keeps the "
                "old ones.");
        return session.ExitStatus();
    }
    std::set<int> changedRows;
    for (const Change& change : changes) changedRows.insert(change.row);
    for (int row : requestedRows) {
        if (changedRows.count(row) == 0 && static_cast<std::size_t>(row) < after.size()) {
            ui.Note(StrPrintf("%s: the device keeps \"%s\" (this value is not stored from the list)",
                              PlainLabel(after[static_cast<std::size_t>(row)].label).c_str(),
                              after[static_cast<std::size_t>(row)].value.c_str()));
        }
    }
    if (session.Options().json) {
        OrderedJson changed = OrderedJson::array();
        for (const Change& change : changes) {
            changed.push_back({{"label", JsonText(change.label)},
                               {"before", JsonText(change.before)},
                               {"after", JsonText(change.after)}});
        }
        PrintJson({{"device", DeviceJson(info)}, {"changed", changed}});
    } else {
        for (const Change& change : changes) {
            std::cout << PlainLabel(change.label) << ": " << change.before << " -> " << change.after << '\n';
        }
    }
    return session.ExitStatus();
}

// Splits LABEL=VALUE at the first '='.
bool SplitAssignment(const std::string& text, std::string& label, std::string& value) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    label = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

}  // namespace

int RunScan(const GlobalOptions& options) {
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->Frame().simulatedBench = !options.bench.empty();
    session->StartUp();
    session->RefreshTree();
    const CDeviceTree& tree = session->Frame().Tree();
    // No device listed: why, and what to do, as the window's list area says.
    const FirstRunNotice& notice = session->Frame().StartNotice();
    if (notice.shown) {
        std::cerr << notice.heading << "\n";
        for (const std::string& paragraph : notice.paragraphs) std::cerr << "\n" << paragraph << "\n";
        for (const std::string& command : notice.commands) std::cerr << "    " << command << "\n";
        if (notice.offerDemoBench) std::cerr << "\nThe demo bench shows everything on simulated instruments:\n"
                                             << "    spindle-cli --bench demo scan\n";
    }
    if (options.json) {
        OrderedJson devices = OrderedJson::array();
        for (const TreeItem& item : tree.Items()) {
            if (item.record != nullptr) devices.push_back(DeviceJson(session->Describe(item.id)));
        }
        PrintJson({{"devices", devices}});
    } else {
        // Depth first, in the tree's order, two spaces per level.
        std::vector<std::pair<int, int>> stack;
        const std::vector<int> roots = tree.Roots();
        for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.push_back({*it, 0});
        while (!stack.empty()) {
            const auto [id, depth] = stack.back();
            stack.pop_back();
            const TreeItem* item = tree.Item(id);
            std::cout << std::string(static_cast<std::size_t>(depth) * 2, ' ') << item->text << '\n';
            for (auto child = item->children.rbegin(); child != item->children.rend(); ++child) {
                stack.push_back({*child, depth + 1});
            }
        }
    }
    return session->ExitStatus();
}

int RunGet(const GlobalOptions& options, const std::string& device) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    const CValueList& list = session->Frame().List();
    if (list.Empty()) {
        session->Ui().Error(StrPrintf("%s has no stored values", DeviceName(info).c_str()));
        return session->ExitStatus();
    }
    if (!session->AllValuesRead()) {
        session->Ui().Error(StrPrintf("some values of %s could not be read; their rows show \"%s\"",
                                      DeviceName(info).c_str(), kNotReadText));
    }
    if (options.json) {
        PrintJson({{"device", DeviceJson(info)}, {"rows", RowsJson(list.Rows())}});
    } else {
        for (const ValueRow& row : list.Rows()) std::cout << PlainLabel(row.label) << '\t' << row.value << '\n';
    }
    return session->ExitStatus();
}

int RunSet(const GlobalOptions& options, const std::string& device, const std::vector<std::string>& assignments) {
    std::vector<std::pair<std::string, std::string>> wanted;
    for (const std::string& assignment : assignments) {
        std::string label;
        std::string value;
        if (!SplitAssignment(assignment, label, value)) {
            std::cerr << "spindle-cli: \"" << assignment << "\" is not LABEL=VALUE\n";
            return kExitUsage;
        }
        wanted.emplace_back(label, value);
    }

    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    if (!RequireCompleteValues(*session, info)) return session->ExitStatus();
    CValueList& list = session->Frame().List();
    const std::vector<ValueRow> before = list.Rows();

    // Every label must name exactly one row before anything is edited.
    std::vector<int> rows;
    for (const auto& [label, value] : wanted) {
        std::vector<int> found;
        for (int row = 0; row < list.RowCount(); ++row) {
            if (PlainLabel(list.GetText(row, CValueList::kItemColumn)) == label) found.push_back(row);
        }
        if (found.size() != 1) {
            session->Ui().Error(found.empty()
                                    ? StrPrintf("%s has no value \"%s\" (see spindle-cli get %s)",
                                                DeviceName(info).c_str(), label.c_str(), device.c_str())
                                    : StrPrintf("\"%s\" names %zu values of %s; restore them with import",
                                                label.c_str(), found.size(), DeviceName(info).c_str()));
            return session->ExitStatus();
        }
        rows.push_back(found.front());
    }

    std::set<int> requested;
    bool refused = false;
    bool changed = false;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        switch (session->EditRow(rows[i], wanted[i].second)) {
            case EditOutcome::Changed: changed = true; requested.insert(rows[i]); break;
            case EditOutcome::Unchanged: break;
            case EditOutcome::Locked:
            case EditOutcome::Refused: refused = true; break;
        }
    }
    if (refused) {
        session->Ui().Note("Nothing was written to the device.");
        return session->ExitStatus();
    }
    if (!changed) {
        session->Ui().Note("Nothing to change: the device holds these values already.");
        if (options.json) PrintJson({{"device", DeviceJson(info)}, {"changed", OrderedJson::array()}});
        return session->ExitStatus();
    }
    return SaveAndReport(*session, info, before, requested);
}

int RunExport(const GlobalOptions& options, const std::string& device, const std::string& file) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    if (!RequireCompleteValues(*session, info)) return session->ExitStatus();
    ValuesBackup backup;
    backup.familyCode = info.familyCode;
    backup.familyName = info.familyName;
    backup.serial = info.serial;
    backup.deviceIndex = info.index;
    backup.deviceLabel = info.label;
    backup.date = BackupDateNow();
    for (const ValueRow& row : session->Frame().List().Rows()) backup.rows.push_back({row.label, row.value});
    backup.slots = session->Frame().listSource.slots;
    std::string error;
    if (!WriteBackupFile(file, backup, error)) {
        session->Ui().Error(error);
        return session->ExitStatus();
    }
    if (!session->AllValuesRead()) {
        session->Ui().Error(StrPrintf("%s was written with every stored slot, but some shown values could not be "
                                      "read; their rows hold \"%s\"",
                                      file.c_str(), kNotReadText));
    }
    if (options.json) {
        PrintJson({{"device", DeviceJson(info)}, {"file", JsonText(file)}, {"rows", backup.rows.size()}});
    } else {
        std::cout << "Saved " << backup.rows.size() << " values of " << DeviceName(info) << " to " << file
                  << '\n';
    }
    return session->ExitStatus();
}

int RunImport(const GlobalOptions& options, const std::string& device, const std::string& file) {
    std::string error;
    const std::optional<ValuesBackup> backup = ReadBackupFile(file, error);
    if (!backup) {
        std::cerr << "spindle-cli: " << error << '\n';
        return kExitFailed;
    }
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    CTerminalUserInterface& ui = session->Ui();
    if (backup->familyCode != info.familyCode) {
        ui.Error(StrPrintf("%s was taken from a device of family %u (%s), but %s is of family %u (%s); "
                           "nothing was written",
                           file.c_str(), backup->familyCode, backup->familyName.c_str(),
                           DeviceName(info).c_str(), info.familyCode, info.familyName.c_str()));
        return session->ExitStatus();
    }
    if (!RequireCompleteValues(*session, info)) return session->ExitStatus();
    if (backup->serial != info.serial) {
        ui.Note(StrPrintf("Note: %s was taken from serial number %s; this device is %s.", file.c_str(),
                          backup->serial.c_str(), info.serial.c_str()));
    }

    CValueList& list = session->Frame().List();
    const std::vector<ValueRow> before = list.Rows();
    std::vector<std::string> missing;
    const std::vector<RestoreEdit> edits = PlanRestore(list, *backup, missing);
    for (const std::string& label : missing) {
        ui.Note(StrPrintf("Not restored: %s shows no value \"%s\".", DeviceName(info).c_str(),
                          PlainLabel(label).c_str()));
    }
    // A backup with the slots' bytes restores them exactly (its row texts are
    // for people to read); an older one goes through the list's editors as
    // typed values.
    const bool exact = !backup->slots.empty();
    bool bytesDiffer = false;
    for (const auto& [slot, bytes] : backup->slots) {
        auto held = session->Frame().listSource.slots.find(slot);
        if (held != session->Frame().listSource.slots.end() && held->second != bytes) bytesDiffer = true;
    }
    if (exact ? !bytesDiffer : edits.empty()) {
        ui.Note("Nothing to restore: the device holds these values already.");
        if (options.json) PrintJson({{"device", DeviceJson(info)}, {"changed", OrderedJson::array()}});
        return session->ExitStatus();
    }
    if (!options.yes) {
        std::string differences = StrPrintf("Restoring %s (%s) into %s changes:", file.c_str(),
                                            backup->date.c_str(), DeviceName(info).c_str());
        for (const RestoreEdit& edit : edits) {
            differences += StrPrintf("\n  %s: %s -> %s", PlainLabel(edit.label).c_str(), edit.current.c_str(),
                                     edit.restored.c_str());
        }
        if (edits.empty()) differences += "\n  digits the list does not show";
        ui.Note(differences);
        if (!ui.AskYesNo("Write these values into the device?")) {
            ui.Error("import cancelled; nothing was written");
            return session->ExitStatus();
        }
    }
    if (exact) {
        // The editors' lock holds for a restore as for typed values: for
        // every row whose text changes, for every row of a slot whose bytes
        // change although its text does not (digits past what the row
        // shows), and for a changed slot no row shows, by the label it is
        // kept under.
        const auto refuseLocked = [&](const std::string& label, const std::string& note) {
            ui.Error(StrPrintf("\"%s\" cannot be changed: the value is locked.", PlainLabel(label).c_str()));
            ui.Note(note);
            ui.Note("Nothing was written to the device.");
            return session->ExitStatus();
        };
        std::set<int> touched;
        for (const RestoreEdit& edit : edits) touched.insert(edit.row);
        for (const auto& [slot, bytes] : backup->slots) {
            const auto held = session->Frame().listSource.slots.find(slot);
            if (held == session->Frame().listSource.slots.end() || held->second == bytes) continue;
            bool shown = false;
            for (int row = 0; row < list.RowCount(); ++row) {
                if (list.Rule(row).slot != slot) continue;
                touched.insert(row);
                shown = true;
            }
            std::string label;
            const Availability hidden = shown ? Availability{} : HiddenSlotAvailability(session->Frame(), slot, label);
            if (!hidden.offered) return refuseLocked(label, hidden.reason);
        }
        for (int row : touched) {
            std::string note;
            if (session->RowLocked(row, note)) return refuseLocked(list.GetText(row, CValueList::kItemColumn), note);
        }
        std::set<int> requested;
        for (const RestoreEdit& edit : edits) requested.insert(edit.row);
        return SaveAndReport(*session, info, before, requested, &backup->slots);
    }
    std::set<int> requested;
    bool refused = false;
    for (const RestoreEdit& edit : edits) {
        const EditOutcome outcome = session->EditRow(edit.row, edit.restored);
        if (outcome == EditOutcome::Locked || outcome == EditOutcome::Refused) refused = true;
        if (outcome == EditOutcome::Changed) requested.insert(edit.row);
    }
    if (refused) {
        ui.Note("Nothing was written to the device.");
        return session->ExitStatus();
    }
    return SaveAndReport(*session, info, before, requested);
}

int RunVerify(const GlobalOptions& options, const std::string& device) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    if (!RequireAvailable(*session, cmd::kVerify)) return session->ExitStatus();
    const bool passed = session->Record(session->Frame().OnVerify()).Ok();
    if (options.json) PrintJson({{"device", DeviceJson(info)}, {"passed", passed}});
    return session->ExitStatus();
}

int RunDownload(const GlobalOptions& options, const std::string& device, const std::string& file) {
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, true, session);
    if (status != kExitOk) return status;
    session->StartUp();
    // The device is found in the tree (unprogrammed chips included) without
    // reading its values: the download replaces the program that would answer.
    session->RefreshTree();
    DeviceInfo info;
    if (!FindDeviceOnTree(*session, device, info, status)) return status;
    CAnchor anchor(session->Ports());
    anchor.deviceName = StrPrintf("Ezusb-%u", info.index);
    // The family code selects the chip generation (its CPUCS register).
    anchor.chipMode = static_cast<int>(info.familyCode);
    anchor.highMemoryLoader = EepromLoaderFor(FamilyOf(static_cast<int>(info.familyCode)).chip);
    session->Ui().SetActivity("Downloading");
    HistoryStart start;
    start.kind = HistoryKind::Download;
    start.command = "download";
    start.deviceIndex = info.index;
    start.family = info.familyCode;
    start.serial = info.serial;
    start.chip = FamilyOf(static_cast<int>(info.familyCode)).chip == ChipGeneration::Fx2 ? "fx2" : "ezusb";
    start.imagePath = file;
    CHistoryRecorder& history = session->Frame().history;
    const std::int64_t recordId = history.Start(start);
    DownloadResult download = anchor.DownloadFile(file);
    ShowPendingMessages(session->Ui(), download.outcome);
    HistoryEnd end;
    end.result = download.result != 0 && download.outcome.Ok() ? HistoryResult::Worked : HistoryResult::Failed;
    end.problems = download.outcome.failed;
    end.bytesWritten = download.bytes;
    history.Complete(recordId, end);
    if (const auto problem = history.TakeProblem()) session->Ui().MessageBox(*problem, kAppTitle, mb::kOk);
    session->Record(download.outcome);
    if (download.result == 0) return session->ExitStatus();
    if (options.json) {
        PrintJson({{"device", DeviceJson(info)},
                   {"file", JsonText(file)},
                   {"bytes", download.bytes},
                   {"segments", download.segments},
                   {"highBytes", download.highBytes},
                   {"complete", download.outcome.Ok()}});
    } else if (download.outcome.Ok()) {
        std::cout << "Downloaded " << download.bytes << " bytes"
                  << (download.segments > 0 ? StrPrintf(" in %u segments", download.segments) : std::string())
                  << (download.highBytes > 0
                          ? StrPrintf(" (%u from 0x2000 up, through the loader)", download.highBytes)
                          : std::string())
                  << " into " << DeviceName(info) << "; the program runs.\n";
    }
    return session->ExitStatus();
}

int RunResetCoefs(const GlobalOptions& options, const std::string& device) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    if (!RequireAvailable(*session, cmd::kResetCoefs)) return session->ExitStatus();
    if (!RequireCompleteValues(*session, info)) return session->ExitStatus();
    const std::vector<ValueRow> before = session->Frame().List().Rows();
    if (!session->Record(session->Frame().OnResetCoefs()).Ok()) return session->ExitStatus();
    const std::vector<Change> reset = DiffRows(before, session->Frame().List().Rows());
    if (reset.empty()) {
        session->Ui().Note("Nothing to reset: Reset Coefs. leaves every value of this device as it is.");
        if (options.json) PrintJson({{"device", DeviceJson(info)}, {"changed", OrderedJson::array()}});
        return session->ExitStatus();
    }
    // Reset rows that read back as before held zero already (in another
    // text form): nothing to point out about them.
    return SaveAndReport(*session, info, before, {});
}

int RunLinearity(const GlobalOptions& options, const std::string& device, const std::string& file) {
    int status = kExitOk;
    DeviceInfo info;
    auto session = OpenDevice(options, device, status, info);
    if (!session) return status;
    if (!RequireAvailable(*session, cmd::kLinearityCoefs)) return session->ExitStatus();
    if (!RequireCompleteValues(*session, info)) return session->ExitStatus();
    const std::vector<ValueRow> before = session->Frame().List().Rows();
    session->Ui().SetFileAnswer(file);
    const bool imported = session->Record(session->Frame().OnLinearityCoefs()).Ok();
    session->Ui().SetFileAnswer({});
    if (!imported) return session->ExitStatus();
    std::set<int> requested;
    for (const Change& change : DiffRows(before, session->Frame().List().Rows())) requested.insert(change.row);
    return SaveAndReport(*session, info, before, requested);
}

int RunUnlock(const GlobalOptions& options, const std::string& code) {
    std::unique_ptr<CCliSession> session;
    int status = CCliSession::Open(options, false, session);
    if (status != kExitOk) return status;
    session->StartUp();
    CTerminalUserInterface& ui = session->Ui();
    // The code as the Unlock Features dialog takes it: exactly as typed.
    const bool unlocked = ApplyAccessCode(code, session->Frame().flags, ui);
    if (!unlocked) {
        ui.Error("that is not an access code; nothing changed");
        return session->ExitStatus();
    }
    session->Close();
    const FeatureFlags& flags = session->Frame().flags;
    {
        // Closing does not say whether the settings could be written: read
        // them back, so a lost unlock is not reported as done.
        CINIFileSupport store(ui, nullptr, 1, &session->Frame());
        if (!(ReadFeatureFlags(store) == flags)) {
            ui.Error(StrPrintf("the features could not be saved in the settings file \"%s\"",
                               SettingsFilePath().c_str()));
            // Flags that were not saved are not this installation's flags.
            return session->ExitStatus();
        }
    }
    const std::pair<const char*, int> named[] = {
        {"Manufacturing", flags.manufacturingMode},
        {"FPGARegisters", flags.fpgaRegistersUnlocked},
        {"ExtraKestrelSettings", flags.extraKestrelUnlocked},
        {"ExtraFalconSettings", flags.extraFalconUnlocked},
        {"ExtraIbisSettings", flags.extraIbisUnlocked},
    };
    if (options.json) {
        OrderedJson document;
        for (const auto& [name, value] : named) document[name] = value;
        PrintJson({{"flags", document}});
    } else {
        for (const auto& [name, value] : named) std::cout << name << '=' << value << '\n';
    }
    return session->ExitStatus();
}

std::unique_ptr<CCliSession> OpenSelectedDevice(const GlobalOptions& options, const std::string& device, int& status,
                                                DeviceInfo& info) {
    return OpenDevice(options, device, status, info);
}

}  // namespace spindle::cli
