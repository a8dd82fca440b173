#include "protocol/ValueEditors.h"

#include <cstdint>

#include "platform/INIFileSupport.h"
#include "platform/Format.h"

namespace spindle {

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kItemWidthKey = "ItemWidth";
constexpr const char* kDataWidthKey = "DataWidth";

const char* EnabledText(bool enabled) { return enabled ? "Enabled" : "Disabled"; }

// The number typed, as atoi reads it, keeping its low 16 bits.
std::uint16_t ParseValue16(const std::string& text) {
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(ParseLeadingInteger(text)) & 0xFFFFu);
}

bool ValidRow(const CValueList& list, int row) { return row >= 0 && row < list.RowCount(); }

}  // namespace

// --- CEditValueDlg --------------------------------------------------------

bool CEditValueDlg::IsManufacturingOnlyLabel(std::string_view label) {
    return label.starts_with("  Config") || label.starts_with("  Reserved");
}

void CEditValueDlg::OnInitDialog() {
    const bool shownOnly = rule.input == RowInput::ShownOnly;
    const bool locked = shownOnly || (IsManufacturingOnlyLabel(label) && manufacturingMode != 1);
    valueEnabled = !locked;
    noteShown = locked;
    noteText = shownOnly ? kShownOnlyNote : kManufacturingOnlyNote;
    focusControl = kValueControlId;
    selectAllOnFocus = true;
}

std::string CEditValueDlg::CheckValue() const {
    if (!valueEnabled) return {};
    return RowInputProblem(rule, value);
}

// --- CAutoNullingDlg ------------------------------------------------------

void CAutoNullingDlg::Fill(const CAutoNullingInfo& info) {
    autoNullingEnabled = info.AutoNullingEnabled() ? 1 : 0;
    temperatureCompensation = info.CompensationEnabled() ? 1 : 0;
    darkValue = StrPrintf("%hu", info.darkValue);
    saturationValue = StrPrintf("%hu", info.saturationValue);
}

void CAutoNullingDlg::OnInitDialog() {
    controlsEnabled = manufacturingMode == 1;
    noteShown = !controlsEnabled;
    focusControl = kDarkValueControlId;
    selectAllOnFocus = true;
}

std::string CAutoNullingDlg::CheckValues() const {
    if (!controlsEnabled) return {};
    const RowRule sixteenBits = RowRule::IntegerOf(17, 0, 65535);
    std::string problem = RowInputProblem(sixteenBits, darkValue);
    if (!problem.empty()) return "Dark Value @ 25\xC2\xB0" "C: " + problem;
    problem = RowInputProblem(sixteenBits, saturationValue);
    if (!problem.empty()) return "Saturation Value: " + problem;
    return {};
}

void CAutoNullingDlg::OnAutoNullingClicked() { autoNullingEnabled = autoNullingEnabled != 0 ? 0 : 1; }

std::string CAutoNullingDlg::OnOK(CAutoNullingInfo& info) const {
    // Locked controls cannot have been changed: confirming must not rewrite
    // the settings (a mode byte of 1 or a compensation byte of 2 would
    // otherwise be normalised to 0 without the operator touching anything).
    if (!controlsEnabled) return info.DisplayText();
    const bool enabled = autoNullingEnabled != 0;
    const bool compensated = temperatureCompensation != 0;
    info.autoNullingMode = enabled ? CAutoNullingInfo::kModeEnabled : 0;
    info.temperatureCompensation = compensated ? CAutoNullingInfo::kCompensationEnabled : 0;
    const std::string rowText = StrPrintf("%s,%s,%s,%s", EnabledText(enabled), EnabledText(compensated),
                                          darkValue.c_str(), saturationValue.c_str());
    info.darkValue = ParseValue16(darkValue);
    info.saturationValue = ParseValue16(saturationValue);
    return rowText;
}

// --- Editors ----------------------------------------------------------------

bool RunValueEditor(IUserInterface& ui, CValueList& list, int row, int manufacturingMode) {
    if (!ValidRow(list, row)) return false;
    CEditValueDlg dialog;
    // Both texts go in whole: a value longer than the edit buffer would
    // otherwise come back cut when the operator confirms it unchanged.
    dialog.label = list.GetText(row, CValueList::kItemColumn);
    dialog.value = list.GetText(row, CValueList::kDataColumn);
    dialog.rule = list.Rule(row);
    dialog.manufacturingMode = manufacturingMode;
    dialog.OnInitDialog();
    if (ui.DoModal(dialog) != mb::kIdOk) return false;
    // A locked value keeps its text whatever the front end hands back.
    if (!dialog.valueEnabled) return false;
    if (dialog.value == list.GetText(row, CValueList::kDataColumn)) return false;
    if (const std::string problem = dialog.CheckValue(); !problem.empty()) {
        ui.MessageBox(problem + "\nThe value was not changed.", dialog.Title(), mb::kOk | mb::kIconWarning);
        return false;
    }
    return list.SetText(row, CValueList::kDataColumn, dialog.value);
}

bool RunAutoNullingEditor(IUserInterface& ui, CValueList& list, int row, CAutoNullingInfo& info,
                          int manufacturingMode) {
    if (!ValidRow(list, row)) return false;
    CAutoNullingDlg dialog;
    dialog.Fill(info);
    dialog.manufacturingMode = manufacturingMode;
    dialog.OnInitDialog();
    if (ui.DoModal(dialog) != mb::kIdOk) return false;
    if (!dialog.controlsEnabled) return true;
    if (const std::string problem = dialog.CheckValues(); !problem.empty()) {
        ui.MessageBox(problem + "\nThe settings were not changed.", dialog.Title(), mb::kOk | mb::kIconWarning);
        return false;
    }
    list.SetText(row, CValueList::kDataColumn, dialog.OnOK(info));
    return true;
}

// --- Column widths ------------------------------------------------------------

ColumnWidths ReadColumnWidths(IUserInterface& ui, const void* application) {
    CINIFileSupport store(ui, nullptr, 1, application);
    ColumnWidths widths;
    widths.item = store.ReadInt(kSettings, kItemWidthKey, kDefaultColumnWidth);
    widths.data = store.ReadInt(kSettings, kDataWidthKey, kDefaultColumnWidth);
    return widths;
}

bool WriteColumnWidths(IUserInterface& ui, const void* application, const ColumnWidths& widths) {
    CINIFileSupport store(ui, nullptr, 1, application);
    store.WriteInt(kSettings, kItemWidthKey, widths.item);
    const bool itemOk = store.LastWriteSucceeded();
    store.WriteInt(kSettings, kDataWidthKey, widths.data);
    return itemOk && store.LastWriteSucceeded();
}

}  // namespace spindle
