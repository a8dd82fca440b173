// Calibrate (the Lantern's temperature sensor), Zephyr Cal. File (a sensor
// calibration into the Lantern) and Extra Kestrel (the Kestrel's packed
// settings).
#include "app/MainFrame.h"
#include "device/EzusbDevice.h"
#include "device/Families.h"
#include "device/ScopedDevice.h"
#include "platform/Clock.h"
#include "platform/UserInterface.h"
#include "protocol/InstrumentProtocol.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle {

Outcome CMainFrame::CalibrateWrites(const std::function<bool(CLanternCalDlg&)>& operate) {
    Outcome outcome;
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return outcome;
    const DeviceRecord device = *record;
    if (device.family != static_cast<std::uint32_t>(family::kLantern)) {
        // The button stays enabled from the Lantern last read.
        outcome.Fail("calibrate a device that is not a Lantern");
        outcome.Show({NoSuchPageText("Lantern calibration; select the Lantern under its Kestrel"), kAppTitle,
                      mb::kOk | mb::kIconInformation});
        ShowPendingMessages(platform_.ui, outcome);
        return outcome;
    }
    CLanternCalDlg dialog(platform_, device.index, this);
    // The line as the Lantern holds it: accessory slots 1 (slope) and 2
    // (intercept), read from the device rather than taken from list rows,
    // whose positions hold other slots.
    {
        ScopedDevice opened(platform_, static_cast<int>(device.index));
        CSpecProtocol protocol(platform_);
        SlotReadValue value{};
        if (protocol.QueryAccessorySlot(opened.Handle(), 1, value)) dialog.slopeText = SlotText(value);
        if (protocol.QueryAccessorySlot(opened.Handle(), 2, value)) dialog.interceptText = SlotText(value);
    }
    StopCountdownTimer();
    if (operate(dialog)) {
        // Only the list row that shows slot 2 takes the intercept; the slope
        // has no row. Save All Values writes them into no other slot.
        const bool ours = listSource.valid && listSource.index == device.index &&
                          listSource.family == static_cast<std::uint32_t>(family::kLantern);
        for (int row = 0; ours && row < list_.RowCount(); ++row) {
            if (list_.Rule(row).slot == 2) list_.SetText(row, CValueList::kDataColumn, dialog.interceptText);
        }
        outcome.Done("calibrate the Lantern");
    }
    StartCountdownTimer(timer::kEepromCountdown);
    return outcome;
}

Outcome CMainFrame::ZephyrCalFileWrites() {
    Outcome outcome;
    FileChoice choice;
    choice.forOpening = true;
    choice.title = "Select Quillby Zephyr Calibration File";
    choice.filter = "Quillby Calibration File|*.cal|";
    choice.defaultExtension = "cal";
    StopCountdownTimer();
    const DeviceRecord* record = SelectedRecord();
    if (platform_.ui.ChooseFile(choice) && !choice.chosenPath.empty() && record != nullptr) {
        const DeviceRecord device = *record;
        platform_.ui.SetWaitCursor(true);
        ZephyrImport imported;
        {
            ScopedDevice opened(platform_, static_cast<int>(device.index));
            imported = ImportZephyrCalibration(platform_, opened.Handle(), choice.chosenPath);
        }
        platform_.ui.SetWaitCursor(false);
        if (!imported.written) {
            outcome.Show({imported.problem, kAppTitle, mb::kOk | mb::kIconWarning});
            outcome.Fail("import the Zephyr calibration");
            ShowPendingMessages(platform_.ui, outcome);
        } else {
            outcome.Done("import the Zephyr calibration");
            platform_.clock.Sleep(2000);
            outcome.Append(OnGetAllValues());
        }
    }
    StartCountdownTimer(timer::kEepromCountdown);
    return outcome;
}

Outcome CMainFrame::ExtraKestrelWrites(const std::function<bool(CExtraKestrelDlg&)>& operate) {
    Outcome outcome;
    CExtraKestrelDlg dialog(platform_);
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return outcome;
    if (record->index < static_cast<std::uint32_t>(kMaxDevices) && jobBusy[record->index].load() == 1) {
        outcome.Fail("open a device that is being programmed");
        return outcome;
    }
    const DeviceRecord device = *record;
    StopCountdownTimer();
    {
        ScopedDevice opened(platform_, static_cast<int>(device.index));
        if (FamilyOf(static_cast<int>(device.family)).extraKestrel) {
            dialog.SetDevice(opened.Handle());
            if (operate(dialog)) outcome.Done("write the extra Kestrel settings");
            StartCountdownTimer(timer::kEepromCountdown);
        } else {
            outcome.Fail("open the extra Kestrel settings of another family");
            outcome.Show({NoSuchPageText("extra Kestrel settings"), kAppTitle, mb::kOk | mb::kIconInformation});
            ShowPendingMessages(platform_.ui, outcome);
        }
    }
    StartCountdownTimer(timer::kEepromCountdown);
    return outcome;
}

}  // namespace spindle
