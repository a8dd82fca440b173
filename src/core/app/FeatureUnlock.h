#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "app/FeatureFlags.h"
#include "platform/CommandIds.h"
#include "platform/Outcome.h"
#include "platform/UserInterface.h"

namespace spindle {

// The "Unlock Features" dialog: one edit field (control 1009) for the code,
// taken exactly as typed (no trimming, no case change, no length limit).
class CUnlockDlg : public CDialogModel {
public:
    static constexpr int kDialogId = 133;
    static constexpr int kCodeControlId = 1009;

    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "Unlock Features"; }

    std::string code;  // control 1009, starts empty
};

// What an entered text unlocks.
enum class AccessCode {
    None,           // not a code: nothing changes
    Lock,           // every flag off, manufacturing bar hidden
    Manufacturing,  // manufacturing mode and the three extras, bar and buttons shown
    Extras,         // the three extras, their buttons shown
    FpgaRegisters,  // manufacturing mode and FPGA registers, nothing shown
};

// The code the text is, compared as whole text and case-sensitively. The
// codes are kept only as hashes (with their lengths), not in the clear.
AccessCode IdentifyAccessCode(std::string_view text);

// Applies the text's effect to the flags and to the bars and buttons shown
// through ui. Returns false (changing nothing, showing nothing) when the
// text is not a code.
bool ApplyAccessCode(std::string_view text, FeatureFlags& flags, IUserInterface& ui);

// The main frame's countdown timer is stopped while the dialog is up and
// started again afterwards, whichever button closed it. Either may be empty.
struct CountdownHooks {
    std::function<void()> stop;
    std::function<void()> restart;
};

// File, "Unlock Features..." (cmd::kUnlockFeatures): shows the dialog and
// applies the code on OK. Fails when the dialog was cancelled or the text is
// not a code.
Outcome OnUnlockFeatures(IUserInterface& ui, FeatureFlags& flags, const CountdownHooks& countdown);

}  // namespace spindle
