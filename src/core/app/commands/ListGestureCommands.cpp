// The stored-value list's editing gestures on the main frame.
#include "app/Availability.h"
#include "app/MainFrame.h"
#include "device/Families.h"
#include "protocol/ValueEditors.h"

namespace spindle {

// Both gestures hold the countdown while the editor is open. They stop the
// remembered timer rather than 999 by its id: stopping only 999 while an
// FPGA countdown (998) runs and then starting 999 would leave two timers
// ticking and the countdown running at double speed.

void CMainFrame::OnListDoubleClick(int row) {
    if (row < 0 || row >= list_.RowCount()) return;
    StopCountdownTimer();
    const DeviceRecord* record = SelectedRecord();
    if (EditsAutoNulling(record, row)) {
        RunAutoNullingEditor(platform_.ui, list_, row, autoNulling, flags.manufacturingMode);
    } else {
        RunValueEditor(platform_.ui, list_, row, flags.manufacturingMode);
    }
    StartCountdownTimer(timer::kEepromCountdown);
}

void CMainFrame::OnListEnterKey(int row) {
    if (row < 0 || row >= list_.RowCount()) return;
    StopCountdownTimer();
    RunValueEditor(platform_.ui, list_, row, flags.manufacturingMode);
    StartCountdownTimer(timer::kEepromCountdown);
}

}  // namespace spindle
