#pragma once
#include <string>
#include <string_view>

#include "platform/UserInterface.h"
#include "protocol/AutoNullingInfo.h"
#include "protocol/ValueList.h"

namespace spindle {

// The note both editors show when a value may only be changed in
// manufacturing mode.
inline constexpr const char* kManufacturingOnlyNote =
    "Configuration strings can only be changed by\n Lumora Manufacturing.";
// The note of a row Save All Values never writes.
inline constexpr const char* kShownOnlyNote = "This value is only shown; Save All Values does not write it.";

// "Edit Stored Value": one row's label (static text 1002) and value text
// (edit box 1001). Configuration and reserved rows are read-only unless the
// frame is in manufacturing mode; the note 1008 says so.
class CEditValueDlg : public CDialogModel {
public:
    static constexpr int kDialogId = 131;
    static constexpr int kValueControlId = 1001;
    static constexpr int kLabelControlId = 1002;
    static constexpr int kNoteControlId = 1008;

    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "Edit Stored Value"; }

    // True for the labels only manufacturing may change: those starting with
    // "  Config" (both configuration strings, the CPLD version) or
    // "  Reserved" (the Merlin's reserved values), leading spaces included.
    static bool IsManufacturingOnlyLabel(std::string_view label);

    // Sets the control states from the label, the row's rule and the mode:
    // the edit box is disabled and the note shown for a row that is only
    // shown, and for a manufacturing-only label outside manufacturing mode;
    // otherwise the note is hidden. Focus goes to the edit box with its text
    // selected.
    void OnInitDialog();
    // Why the value typed may not be taken (not a number, too long, out of
    // range); empty when it may. A front end keeps the dialog open and shows
    // the reason; the editor refuses the value with it.
    std::string CheckValue() const;

    std::string label;           // control 1002
    std::string value;           // control 1001
    RowRule rule;                // what the row accepts
    int manufacturingMode = 0;   // the frame's flag, copied in
    bool valueEnabled = true;    // edit box 1001 enabled
    bool noteShown = false;      // note 1008 visible
    std::string noteText = kManufacturingOnlyNote;
    int focusControl = kValueControlId;
    bool selectAllOnFocus = true;
};

// "Auto Nulling FPGA Registers": the auto-nulling settings of a Kestrel+ or
// Harrier. Only manufacturing mode may change them.
class CAutoNullingDlg : public CDialogModel {
public:
    static constexpr int kDialogId = 170;
    static constexpr int kAutoNullingControlId = 1080;   // check box "Auto Nulling Enabled"
    static constexpr int kCompensationControlId = 1081;  // check box "Temperature Compensation"
    static constexpr int kDarkValueControlId = 1003;     // edit box, label 1109 "Dark Value @ 25°C"
    static constexpr int kDarkValueLabelId = 1109;
    static constexpr int kSaturationControlId = 1107;    // edit box, label 1108 "Saturation Value"
    static constexpr int kSaturationLabelId = 1108;
    static constexpr int kNoteControlId = 1008;

    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "Auto Nulling FPGA Registers"; }

    // Fills the controls from the settings: auto-nulling checked only for
    // mode 3, compensation checked only for 1, both values as "%hu".
    void Fill(const CAutoNullingInfo& info);
    // Outside manufacturing mode every check box, edit box and edit label is
    // disabled and the note shown; in it the note is hidden. Focus goes to
    // the dark value with its text selected.
    void OnInitDialog();
    // A click on "Auto Nulling Enabled": flips the state and the box with it.
    void OnAutoNullingClicked();
    // Why the values typed may not be taken (each must be a whole number
    // from 0 to 65535); empty when they may.
    std::string CheckValues() const;
    // OK: stores the dialog's state into `info` (mode 3 or 0, compensation
    // 1 or 0, each value the number typed cut to 16 bits) and returns the
    // row text "%s,%s,%s,%s" with the values as typed. With the controls
    // locked nothing could be changed, so `info` is left as it is and its
    // own display text is returned.
    std::string OnOK(CAutoNullingInfo& info) const;

    int autoNullingEnabled = 0;       // check box 1080 (0 or 1)
    int temperatureCompensation = 0;  // check box 1081 (0 or 1)
    std::string darkValue;            // edit box 1003
    std::string saturationValue;      // edit box 1107
    int manufacturingMode = 0;        // the frame's flag, copied in
    bool controlsEnabled = true;      // both check boxes, both edit boxes and their labels
    bool noteShown = false;           // note 1008 visible
    std::string noteText = kManufacturingOnlyNote;
    int focusControl = kDarkValueControlId;
    bool selectAllOnFocus = true;
};

// Runs "Edit Stored Value" on a row of the list: the row's label and value
// text go in whole; on OK the row's value text becomes the text typed (a
// locked value stays as it was; a value its row does not accept is refused
// with a box saying why). Returns true when the row changed. A row the list
// does not have opens nothing.
bool RunValueEditor(IUserInterface& ui, CValueList& list, int row, int manufacturingMode);

// Runs "Auto Nulling FPGA Registers" on the frame's settings; on OK the
// settings and the row's value text are updated (values out of range are
// refused with a box, nothing changes). Returns true on OK. A row the list
// does not have opens nothing.
bool RunAutoNullingEditor(IUserInterface& ui, CValueList& list, int row, CAutoNullingInfo& info,
                          int manufacturingMode);

// Widths of the list's "Item" and "Data" columns, in pixels, kept in the
// settings store (section "Settings", keys "ItemWidth" and "DataWidth").
inline constexpr int kDefaultColumnWidth = 200;
struct ColumnWidths {
    int item = kDefaultColumnWidth;
    int data = kDefaultColumnWidth;
};
// `application` is the application object the settings store asks for.
ColumnWidths ReadColumnWidths(IUserInterface& ui, const void* application);
// True when both widths were stored.
bool WriteColumnWidths(IUserInterface& ui, const void* application, const ColumnWidths& widths);

}  // namespace spindle
