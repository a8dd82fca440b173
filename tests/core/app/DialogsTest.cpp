// Unlock Features, the error report and About (flags' persistence: spindle-cli).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "BuildVersion.h"
#include "app/AboutBox.h"
#include "app/FeatureUnlock.h"
#include "platform/ErrorReport.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

TEST(FeatureUnlock, EachCodeHasExactlyItsEffect) {
    struct Case {
        const char* code;
        FeatureFlags start, expected;
        std::map<int, bool> bars, buttons;
    };
    const std::map<int, bool> extras{{cmd::kExtraKestrel, true}, {cmd::kPsocDiags, true}};
    const std::map<int, bool> allThree{{cmd::kExtraKestrel, true}, {cmd::kPsocDiags, true}, {cmd::kIbisExtra, true}};
    const std::map<int, bool> barOn{{bar::kManufacturing, true}};
    for (const Case& c : std::vector<Case>{
             {"QARVEST", FeatureFlags{1, 1, 1, 1, 1}, FeatureFlags{}, {{bar::kManufacturing, false}}, {}},
             {"TOLMIDEXN", FeatureFlags{}, FeatureFlags{1, 0, 1, 1, 1}, barOn, allThree},
             {"PIXOLANTE", FeatureFlags{0, 1, 0, 0, 0}, FeatureFlags{1, 1, 1, 1, 1}, barOn, allThree},
             {"BRUNDAPLOSE", FeatureFlags{}, FeatureFlags{0, 0, 1, 1, 1}, {}, extras}}) {
        SCOPED_TRACE(c.code);
        ScriptedUserInterface ui;
        FeatureFlags flags = c.start;
        EXPECT_TRUE(ApplyAccessCode(c.code, flags, ui));
        EXPECT_EQ(flags, c.expected);
        EXPECT_EQ(ui.barVisible, c.bars);
        EXPECT_EQ(ui.buttonVisible, c.buttons);
    }
}

TEST(FeatureUnlock, CommandAppliesOnOkOnlyAndRestartsTheCountdownEitherWay) {
    for (const int answer : {mb::kIdOk, mb::kIdCancel}) {
        SCOPED_TRACE(answer);
        ScriptedUserInterface ui;
        std::vector<std::string> log;
        ui.onDialog = [&](CDialogModel& dialog) {
            log.push_back("dialog " + std::to_string(dialog.DialogId()));
            dynamic_cast<CUnlockDlg&>(dialog).code = "WENTRAGUMO";
            return answer;
        };
        FeatureFlags flags;
        OnUnlockFeatures(ui, flags, {[&] { log.push_back("stop"); }, [&] { log.push_back("restart"); }});
        EXPECT_EQ(log, (std::vector<std::string>{"stop", "dialog 133", "restart"}));
        // This code unlocks the FPGA registers with manufacturing mode, and shows no bar.
        EXPECT_EQ(flags, (answer == mb::kIdOk ? FeatureFlags{1, 1, 0, 0, 0} : FeatureFlags{}));
        EXPECT_TRUE(ui.barVisible.empty());
    }
}

TEST(ErrorReport, ShowsTheModuleLineCauseAndSolution) {
    ScriptedUserInterface ui;
    std::vector<std::string> shown;
    ui.onDialog = [&](CDialogModel& dialog) {
        const auto& error = dynamic_cast<CErrorDlg&>(dialog);
        return shown.push_back(error.errorText + "|" + error.cause + "|" + error.solution), mb::kIdOk;
    };
    // The module: the path's last component less its extension (no folder's dot, nor a leading one).
    CheckAndReport(ui, false, "", "", "C:\\src.v2\\.profile", 130);
    CheckAndReport(ui, false, "Cannot create view class", "Reinstall the driver", "/work/src/Tool.cpp", 8);
    CheckAndReport(ui, true, "never", "shown", "Tool.cpp", 9);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "Unhandled Exception occurrred in\nModule: .profile\nLine: 130|Unknown|Contact Lumora "
                         "Technical Support Department with the above information",
                         "Unhandled Exception occurrred in\nModule: Tool\nLine: 8|Cannot create view class|Reinstall "
                         "the driver"}));
}

TEST(AboutBox, ShowsTheBuildVersion) {
    ScriptedUserInterface ui;
    std::string line;
    ui.onDialog = [&](CDialogModel& dialog) { return line = dynamic_cast<CAboutDlg&>(dialog).versionLine, mb::kIdOk; };
    OnAppAbout(ui);
    EXPECT_EQ(line, std::string("Version: ") + SPINDLE_VERSION_TEXT);
}

}  // namespace
}  // namespace spindle::test
