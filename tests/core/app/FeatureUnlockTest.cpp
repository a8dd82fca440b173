#include "app/FeatureUnlock.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/INIFileSupport.h"
#include "support/TempFolder.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

using test::ScriptedUserInterface;

FeatureFlags AllSet() { return FeatureFlags{1, 1, 1, 1, 1}; }

TEST(FeatureUnlock, EachCodeHasExactlyItsEffect) {
    struct Case {
        const char* code;
        FeatureFlags start;
        FeatureFlags expected;
        std::map<int, bool> bars;
        std::map<int, bool> buttons;
    };
    const std::map<int, bool> extrasShown{{cmd::kExtraKestrel, true}, {cmd::kPsocDiags, true}};
    std::map<int, bool> manufacturingShown = extrasShown;
    manufacturingShown[cmd::kIbisExtra] = true;
    const std::vector<Case> cases = {
        {"QARVEST", AllSet(), FeatureFlags{}, {{bar::kManufacturing, false}}, {}},
        {"TOLMIDEXN", FeatureFlags{}, FeatureFlags{1, 0, 1, 1, 1}, {{bar::kManufacturing, true}}, manufacturingShown},
        {"PIXOLANTE", FeatureFlags{0, 1, 0, 0, 0}, FeatureFlags{1, 1, 1, 1, 1}, {{bar::kManufacturing, true}},
         manufacturingShown},
        {"BRUNDAPLOSE", FeatureFlags{}, FeatureFlags{0, 0, 1, 1, 1}, {}, extrasShown},
        {"WENTRAGUMO", FeatureFlags{}, FeatureFlags{1, 1, 0, 0, 0}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ScriptedUserInterface ui;
        FeatureFlags flags = c.start;
        EXPECT_TRUE(ApplyAccessCode(c.code, flags, ui));
        EXPECT_EQ(flags, c.expected);
        EXPECT_EQ(ui.barVisible, c.bars);
        EXPECT_EQ(ui.buttonVisible, c.buttons);
    }
}

TEST(FeatureUnlock, OnlyTheWholeCodeInItsOwnCaseCounts) {
    for (const char* text : {"", "tolmidexn", "Tolmidexn", "TOLMIDEXN ", " TOLMIDEXN", "TOLMIDEX", "TOLMIDEXNN",
                             "QARVESTQARVEST", "WENTRAGUMO\n"}) {
        SCOPED_TRACE(text);
        ScriptedUserInterface ui;
        FeatureFlags flags{0, 1, 0, 1, 0};
        EXPECT_EQ(IdentifyAccessCode(text), AccessCode::None);
        EXPECT_FALSE(ApplyAccessCode(text, flags, ui));
        EXPECT_EQ(flags, (FeatureFlags{0, 1, 0, 1, 0}));
        EXPECT_TRUE(ui.barVisible.empty());
        EXPECT_TRUE(ui.buttonVisible.empty());
        EXPECT_TRUE(ui.Messages().empty());
    }
}

TEST(FeatureUnlock, CommandAppliesOnOkOnlyAndRestartsTheCountdownEitherWay) {
    for (const int answer : {mb::kIdOk, mb::kIdCancel}) {
        SCOPED_TRACE(answer);
        ScriptedUserInterface ui;
        std::vector<std::string> log;
        ui.onDialog = [&](CDialogModel& dialog) {
            log.push_back("dialog " + std::to_string(dialog.DialogId()));
            auto* unlock = dynamic_cast<CUnlockDlg*>(&dialog);
            EXPECT_NE(unlock, nullptr);
            if (unlock != nullptr) {
                EXPECT_EQ(unlock->code, "");
                unlock->code = "WENTRAGUMO";
            }
            return answer;
        };
        FeatureFlags flags;
        OnUnlockFeatures(ui, flags, {[&] { log.push_back("stop"); }, [&] { log.push_back("restart"); }});
        EXPECT_EQ(log, (std::vector<std::string>{"stop", "dialog 133", "restart"}));
        EXPECT_EQ(ui.dialogsShown, std::vector<std::string>{"Unlock Features"});
        EXPECT_EQ(flags.manufacturingMode, answer == mb::kIdOk ? 1 : 0);
        EXPECT_EQ(flags.fpgaRegistersUnlocked, answer == mb::kIdOk ? 1 : 0);
        EXPECT_TRUE(ui.barVisible.empty());  // this code shows no bar
    }
}

TEST(FeatureUnlock, FlagsPersistInTheSettings) {
    test::TempFolder folder;
    test::ScopedEnv dir("SPINDLE_CONFIG_DIR", folder.Path().c_str());
    ScriptedUserInterface ui;
    const int application = 0;
    {
        CINIFileSupport store(ui, nullptr, 1, &application);
        EXPECT_EQ(ReadFeatureFlags(store), FeatureFlags{});
        EXPECT_TRUE(WriteFeatureFlags(store, FeatureFlags{1, 0, 1, 0, 1}));
    }
    CINIFileSupport store(ui, nullptr, 1, &application);
    EXPECT_EQ(ReadFeatureFlags(store), (FeatureFlags{1, 0, 1, 0, 1}));
    EXPECT_EQ(store.ReadText("Settings", "ExtraIbisSettings"), "1");
    EXPECT_EQ(store.ReadText("Settings", "FPGARegisters"), "0");
}

}  // namespace
}  // namespace spindle
