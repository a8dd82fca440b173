// The manufacturing bar's logic: Verify, Reset Coefs. and Linearity Coefs.
// Only Verify talks to the device; the list changes reach it through Save
// All Values.
#include "protocol/Manufacturing.h"

#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>
#include <cstdint>

#include "device/Families.h"
#include "device/ScopedDevice.h"
#include "platform/Format.h"
#include "platform/INIFileSupport.h"
#include "platform/ProfileText.h"
#include "platform/UserInterface.h"
#include "protocol/InstrumentProtocol.h"
#include "protocol/RowRule.h"

namespace spindle {

namespace {

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

void SetRows(CValueList& list, int first, int last, const std::string& text) {
    // SetText ignores rows the list does not have.
    for (int row = first; row <= last; ++row) list.SetText(row, CValueList::kDataColumn, text);
}

}  // namespace

Outcome VerifyDevice(Platform& platform, int index) {
    Outcome outcome;
    CSpecProtocol protocol(platform);
    const ScopedDevice device(platform, index);
    // An unopened handle makes GetProductId show its own invalid-handle
    // box; the device then simply fails.
    const std::uint16_t productId = protocol.GetProductId(device.Handle());
    bool passed = false;
    if (device.Opened()) {
        const std::uint16_t vendorId = protocol.GetVendorId(device.Handle());
        if (vendorId != kMakerVendorId) {
            outcome.Show({kInvalidVendor, kAppTitle, mb::kOk});
        } else if (const char* message = VerifiedMessage(productId)) {
            outcome.Show({message, kAppTitle, mb::kOk});
            passed = true;
        }
    } else {
        outcome.Fail("open the device");
    }
    if (passed) {
        outcome.Done("verify the vendor and product identifiers");
    } else {
        outcome.Fail("verify the vendor and product identifiers");
    }
    outcome.Show({passed ? kVerifyPassed : kVerifyFailed, kAppTitle, mb::kOk});
    return outcome;
}

void ResetCoefficientRows(CValueList& list, int familyCode) {
    switch (FamilyOf(familyCode).reset) {
        case ResetLayout::Common:
            list.SetText(1, CValueList::kDataColumn, "N/A");
            SetRows(list, 2, 15, "0");
            SetRows(list, 16, 17, "N/A");
            break;
        case ResetLayout::Heron:
            list.SetText(1, CValueList::kDataColumn, "N/A");
            SetRows(list, 2, 34, "0");
            break;
        case ResetLayout::Lantern:
            list.SetText(1, CValueList::kDataColumn, "N/A");
            SetRows(list, 2, 18, "0");
            break;
        case ResetLayout::None:
            break;
    }
}

Outcome ImportLinearityFile(IUserInterface& /*ui*/, const std::string& path, CValueList& list) {
    Outcome outcome;
    // Everything is checked before the list changes: a file that cannot be
    // read, has no coefficient at all, or holds a value the instrument cannot
    // keep changes nothing.
    auto refuse = [&](const std::string& why) {
        outcome.Fail("import the linearity coefficients");
        outcome.Show({StrPrintf("%s was not imported: %s Nothing was changed.", path.c_str(), why.c_str()), kAppTitle,
                      mb::kOk | mb::kIconWarning});
        return outcome;
    };
    std::string bytes;
    BoundedRead why = BoundedRead::Ok;
    if (LoadProfileFile(path, bytes, &why) != ProfileLoad::Ok) return refuse(StrPrintf("%s.", BoundedReadProblem(why)));
    const ProfileText file(bytes);
    std::vector<std::string> texts;
    bool anyKey = false;
    for (const char* key : kLinearityKeys) {
        // A missing key reads as "0".
        const std::optional<std::string> text = file.Get(kLinearitySection, key);
        anyKey = anyKey || text.has_value();
        const double value = ParseLeadingFloating(text.value_or("0"));
        if (!IsStorableCoefficientText(text.value_or(""), value)) {
            return refuse(StrPrintf("%s=%s is not a coefficient the instrument can keep.", key,
                                    text.value_or("").c_str()));
        }
        texts.push_back(StrPrintf("%0.7e", value));
    }
    if (!anyKey) return refuse(StrPrintf("it has no coefficients in a [%s] section.", kLinearitySection));
    int row = kFirstLinearityRow;
    for (const std::string& text : texts) list.SetText(row++, CValueList::kDataColumn, text);
    list.SetText(kNonlinearityOrderRow, CValueList::kDataColumn, StrPrintf("%d", kImportedOrder));
    outcome.Done("import the linearity coefficients into the list");
    outcome.Show({"Press <Save All Values> to write to Spectrometer.", kAppTitle, mb::kOk});
    return outcome;
}

}  // namespace spindle
