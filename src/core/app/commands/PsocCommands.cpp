// PSOC Diags. (the sheet with the page of the selected device's family) and
// Ibis Extra (the Ibis page alone).
#include "app/MainFrame.h"
#include "device/EzusbDevice.h"
#include "platform/UserInterface.h"
#include "tools/PsocSheet.h"

namespace spindle {

Outcome CMainFrame::OnPsocDiags() {
    Outcome outcome;
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return outcome;
    const DeviceRecord device = *record;
    DeviceHandle handle = kNullHandle;
    if (!OpenDeviceByIndex(platform_, static_cast<int>(device.index), handle)) handle = kInvalidHandle;
    CSpecPropSheet sheet(platform_, kAppTitle, picture_);
    propertySheet = &sheet;
    StopCountdownTimer();
    if (sheet.AddPage(handle, static_cast<int>(device.family)) != nullptr) {
        outcome.Done("open the PSOC page");
        platform_.ui.DoModal(sheet);
    } else {
        // The button stays enabled from a device that had a page: say why
        // nothing opens rather than show an empty sheet.
        outcome.Fail("find a PSOC page for the device's family");
        outcome.Show({NoSuchPageText("PSOC diagnostics page"), kAppTitle, mb::kOk | mb::kIconInformation});
        ShowPendingMessages(platform_.ui, outcome);
    }
    for (CPsocPage* page : sheet.Pages()) page->OnOK();
    propertySheet = nullptr;
    CloseDevice(platform_, handle);
    StartCountdownTimer(timer::kEepromCountdown);
    return outcome;
}

Outcome CMainFrame::OnIbisExtra() {
    Outcome outcome;
    CIbisPsocPage page(platform_, picture_);
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return outcome;
    if (record->index < static_cast<std::uint32_t>(kMaxDevices) && jobBusy[record->index].load() == 1) {
        outcome.Fail("open a device that is being programmed");
        return outcome;
    }
    const DeviceRecord device = *record;
    StopCountdownTimer();
    DeviceHandle handle = kNullHandle;
    if (!OpenDeviceByIndex(platform_, static_cast<int>(device.index), handle)) handle = kInvalidHandle;
    if (FamilyOf(static_cast<int>(device.family)).psocPage == PsocPage::Ibis) {
        page.SetDevice(handle);
        platform_.ui.DoModal(page);
        page.OnClose();
        StartCountdownTimer(timer::kEepromCountdown);
        outcome.Done("open the Ibis page");
    } else {
        outcome.Fail("open the Ibis page of a device of another family");
        outcome.Show({NoSuchPageText("Ibis temperature-controller page"), kAppTitle,
                      mb::kOk | mb::kIconInformation});
        ShowPendingMessages(platform_.ui, outcome);
    }
    CloseDevice(platform_, handle);
    StartCountdownTimer(timer::kEepromCountdown);
    return outcome;
}

}  // namespace spindle
