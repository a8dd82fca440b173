// The manufacturing bar's commands: Verify, Reset Coefs. and Linearity Coefs.
// None writes to the device; the list changes reach it through Save All Values.
#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "app/INIFileSupport.h"
#include "app/MainFrame.h"
#include "device/EzusbDevice.h"
#include "inventory/Classification.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

constexpr const char* kAppTitle = "Spindle";
constexpr const char* kSettings = "Settings";
constexpr const char* kLinearityFolderKey = "LinearityFolder";

constexpr const char* kVerifyPassed = "Vendor and Device ID Test\n\n-----PASS-----";
constexpr const char* kVerifyFailed =
    "Vendor and Device ID Test\n\n*********************\n*********************\n****FAILURE******\n"
    "*********************\n*********************";
constexpr const char* kInvalidVendor = "Verify Failed.  Invalid Vendor ID.";

struct VerifiedProduct {
    std::uint16_t productId;
    const char* message;
};
constexpr std::array<VerifiedProduct, 4> kVerifiedProducts{{
    {0x1002, "Device verified as Kestrel"},
    {0x1004, "Device verified as Heron"},
    {0x1008, "Device verified as Petrel"},
    {0x100A, "Device verified as Osprey"},
}};

const char* VerifiedMessage(std::uint16_t productId) {
    for (const VerifiedProduct& product : kVerifiedProducts) {
        if (product.productId == productId) return product.message;
    }
    return nullptr;
}

// The linearity file's keys, in the order of list rows 7 to 14.
constexpr const char* kLinearitySection = "Linearity Coefficients";
constexpr std::array<const char*, 8> kLinearityKeys{"Intercept", "NL0", "NL1", "NL2", "NL3", "NL4", "NL5", "NL6"};
constexpr int kFirstLinearityRow = 7;
constexpr int kNonlinearityOrderRow = 15;
constexpr int kImportedOrder = 7;

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

// Where the linearity file dialog opens: the folder the last file came
// from, else the user's home folder, else wherever the front end likes.
std::string LinearityInitialFolder(CINIFileSupport& store) {
    const std::string remembered = store.ReadText(kSettings, kLinearityFolderKey, "");
    if (IsFolder(remembered)) return remembered;
    const char* home = std::getenv("HOME");
    if (home != nullptr && IsFolder(home)) return home;
    return {};
}

void RememberLinearityFolder(CINIFileSupport& store, const std::string& chosenPath) {
    const std::string folder = std::filesystem::path(chosenPath).parent_path().string();
    if (IsFolder(folder)) store.WriteText(kSettings, kLinearityFolderKey, folder);
}

void SetRows(CValueList& list, int first, int last, const std::string& text) {
    // SetText ignores rows the list does not have.
    for (int row = first; row <= last; ++row) list.SetText(row, CValueList::kDataColumn, text);
}

}  // namespace

void CMainFrame::OnVerify() {
    StopCountdownTimer();
    const DeviceRecord* record = SelectedRecord();
    if (record != nullptr && record->index < static_cast<std::uint32_t>(kMaxDevices) &&
        jobBusy[record->index].load() == 0) {
        IUserInterface& ui = platform_.ui;
        CSpecProtocol protocol(platform_);
        DeviceHandle handle = kNullHandle;
        const bool opened = OpenDeviceByIndex(platform_, static_cast<int>(record->index), handle);
        // An unopened handle makes GetProductId show its own invalid-handle
        // box; the device then simply fails.
        const std::uint16_t productId = protocol.GetProductId(handle);
        bool passed = false;
        if (opened) {
            const std::uint16_t vendorId = protocol.GetVendorId(handle);
            if (vendorId != kMakerVendorId) {
                ui.MessageBox(kInvalidVendor, kAppTitle, mb::kOk);
            } else if (const char* message = VerifiedMessage(productId)) {
                ui.MessageBox(message, kAppTitle, mb::kOk);
                passed = true;
            }
        }
        CloseDevice(platform_, handle);
        ui.MessageBox(passed ? kVerifyPassed : kVerifyFailed, kAppTitle, mb::kOk);
    }
    StartCountdownTimer(timer::kEepromCountdown);
}

void CMainFrame::OnResetCoefs() {
    const DeviceRecord* record = SelectedRecord();
    if (record == nullptr) return;
    IUserInterface& ui = platform_.ui;
    ui.SetWaitCursor(true);
    switch (record->family) {
        case family::kKestrel:
        case family::kOsprey:
        case family::kMerlin:
        case family::kIbis:
            list_.SetText(1, CValueList::kDataColumn, "N/A");
            SetRows(list_, 2, 15, "0");
            SetRows(list_, 16, 17, "N/A");
            break;
        case family::kHeron:
            list_.SetText(1, CValueList::kDataColumn, "N/A");
            SetRows(list_, 2, 34, "0");
            break;
        case family::kLantern:
            list_.SetText(1, CValueList::kDataColumn, "N/A");
            SetRows(list_, 2, 18, "0");
            break;
        default:
            break;
    }
    ui.SetWaitCursor(false);
}

void CMainFrame::OnLinearityCoefs() {
    IUserInterface& ui = platform_.ui;
    CINIFileSupport settings(ui, nullptr, 1, this);
    FileChoice choice;
    choice.forOpening = true;
    choice.title = "Select Quillby Linearity Calibration File";
    choice.filter = "Linearity Calibration File (*.lin)|*.lin|All Files (*.*)|*.*|";
    choice.defaultExtension = "lin";
    choice.initialFolder = LinearityInitialFolder(settings);
    if (!ui.ChooseFile(choice) || choice.chosenPath.empty()) return;
    RememberLinearityFolder(settings, choice.chosenPath);

    ui.SetWaitCursor(true);
    {
        CINIFileSupport file(ui, choice.chosenPath.c_str(), 0, nullptr);
        int row = kFirstLinearityRow;
        for (const char* key : kLinearityKeys) {
            // A missing key reads as "0".
            const double value = ParseLeadingFloating(file.ReadText(kLinearitySection, key, "0"));
            list_.SetText(row++, CValueList::kDataColumn, StrPrintf("%0.7e", value));
        }
        list_.SetText(kNonlinearityOrderRow, CValueList::kDataColumn, StrPrintf("%d", kImportedOrder));
    }
    ui.SetWaitCursor(false);
    ui.MessageBox("Press <Save All Values> to write to Spectrometer.", kAppTitle, mb::kOk);
}

}  // namespace spindle
