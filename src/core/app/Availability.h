#pragma once
#include <string>

#include "app/FeatureFlags.h"
#include "device/Families.h"
#include "inventory/DeviceRecord.h"

namespace spindle {

class CMainFrame;

// What the frame offers for the selected device in the current mode: which
// commands of the two bars apply and which list rows may be edited, each with
// the reason when not. The window enables its buttons from it, the
// command-line tool refuses from it; neither asks the other's widgets.
struct Availability {
    // The button takes a press now (the bars' enable state: no job on the
    // selected device, Get All Values done on a family that has the command).
    bool enabled = true;
    // The command applies to the selected device in this mode: its bar and
    // button are offered (the manufacturing commands only in manufacturing
    // mode, a family's own buttons on that family with their switch on). For
    // a row: it may be edited.
    bool offered = true;
    // Why not, for the operator; empty when available.
    std::string reason;
    // Not offered only because an access code has not unlocked it.
    bool needsUnlock = false;

    bool Available() const { return enabled && offered; }
};

// Whether a family button's switch is on.
bool FeatureOn(const FeatureFlags& flags, Feature feature);

// Whether list row `row` of `record`'s values is the auto-nulling settings,
// which have an editor of their own.
bool EditsAutoNulling(const DeviceRecord* record, int row);

// The command's state for the frame's selected device. Refreshes the
// frame's enable flags as the bars' idle refresh does.
Availability CommandAvailability(CMainFrame& frame, int commandId);

// Whether list row `row` may be edited: not a row that is only shown, not a
// configuration or reserved row nor the auto-nulling settings outside
// manufacturing mode. The reason is the note the row's editor shows.
Availability RowAvailability(const CMainFrame& frame, int row);

// Whether a restore may write `slot` of the selected device although no row
// shows it: the lock of the label it is kept under holds (the Merlin's
// hidden slot 13 is a reserved value). `label` is that label, for messages.
// Not offered for a slot the device's family does not keep.
Availability HiddenSlotAvailability(const CMainFrame& frame, int slot, std::string& label);

}  // namespace spindle
