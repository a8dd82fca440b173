#include "app/FeatureUnlock.h"

#include <cstdint>

namespace spindle {

namespace {

// 64-bit FNV-1a.
constexpr std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

struct KnownCode {
    std::size_t length;
    std::uint64_t hash;
    AccessCode code;
};

// The access codes by length and hash. Two codes have the same effect.
constexpr KnownCode kKnownCodes[] = {
    {7, 0x6b2256e133f4744dULL, AccessCode::Lock},
    {9, 0xb06730914dd3a9abULL, AccessCode::Manufacturing},
    {11, 0x24def180c2e3509eULL, AccessCode::Extras},
    {10, 0x2f2aaabf0b0c38a6ULL, AccessCode::FpgaRegisters},
    {9, 0x6af557f51359d231ULL, AccessCode::Manufacturing},
};

void UnlockExtras(FeatureFlags& flags, IUserInterface& ui) {
    ui.ShowButton(cmd::kExtraKestrel, true);
    ui.ShowButton(cmd::kPsocDiags, true);
    flags.extraKestrelUnlocked = 1;
    flags.extraFalconUnlocked = 1;
    flags.extraIbisUnlocked = 1;
}

}  // namespace

AccessCode IdentifyAccessCode(std::string_view text) {
    const std::uint64_t hash = Fnv1a(text);
    for (const KnownCode& known : kKnownCodes) {
        if (known.length == text.size() && known.hash == hash) return known.code;
    }
    return AccessCode::None;
}

bool ApplyAccessCode(std::string_view text, FeatureFlags& flags, IUserInterface& ui) {
    switch (IdentifyAccessCode(text)) {
        case AccessCode::None:
            return false;
        case AccessCode::Lock:
            flags = FeatureFlags{};
            ui.ShowBar(bar::kManufacturing, false);
            return true;
        case AccessCode::Manufacturing:
            flags.manufacturingMode = 1;
            ui.ShowBar(bar::kManufacturing, true);
            // The bar comes with its Ibis Extra, beside the Verify and
            // Reset Coefs. that the countdown's idle step shows.
            ui.ShowButton(cmd::kIbisExtra, true);
            UnlockExtras(flags, ui);
            return true;
        case AccessCode::Extras:
            UnlockExtras(flags, ui);
            return true;
        case AccessCode::FpgaRegisters:
            flags.manufacturingMode = 1;
            flags.fpgaRegistersUnlocked = 1;
            return true;
    }
    return false;
}

Outcome OnUnlockFeatures(IUserInterface& ui, FeatureFlags& flags, const CountdownHooks& countdown) {
    Outcome outcome;
    CUnlockDlg dialog;
    if (countdown.stop) countdown.stop();
    if (ui.DoModal(dialog) != mb::kIdOk) {
        outcome.Fail("enter an access code");
    } else if (ApplyAccessCode(dialog.code, flags, ui)) {
        outcome.Done("apply the access code");
    } else {
        outcome.Fail("apply the access code: the text is not a code");
    }
    if (countdown.restart) countdown.restart();
    return outcome;
}

}  // namespace spindle
