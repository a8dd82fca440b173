#include <gtest/gtest.h>

#include <string>

#include "BuildVersion.h"
#include "app/AboutBox.h"
#include "platform/ErrorReport.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

using test::ScriptedUserInterface;

TEST(ErrorReport, ModuleNameIsTheLastComponentWithoutItsExtension) {
    EXPECT_EQ(ModuleNameFromSourcePath("/work/src/core/app/INIFileSupport.cpp"), "INIFileSupport");
    EXPECT_EQ(ModuleNameFromSourcePath("archive.tar.gz"), "archive.tar");
    // A dot in a folder name is not an extension, nor is a leading dot.
    EXPECT_EQ(ModuleNameFromSourcePath("C:\\src.v2\\Anchor"), "Anchor");
    EXPECT_EQ(ModuleNameFromSourcePath("/home/op/.profile"), ".profile");
}

TEST(ErrorReport, ShowsTheErrorCauseAndSolution) {
    ScriptedUserInterface ui;
    std::vector<std::string> shown;
    ui.onDialog = [&](CDialogModel& dialog) {
        auto& error = dynamic_cast<CErrorDlg&>(dialog);
        EXPECT_EQ(dialog.DialogId(), 146);
        shown.push_back(error.errorText + "|" + error.cause + "|" + error.solution);
        return mb::kIdOk;
    };
    CheckAndReport(ui, false, "Cannot create view class", kNoSolution, "C:\\Spindle\\INIFileSupport.cpp", 130);
    CheckAndReport(ui, false, "NOCAUSE", "", "Tool.cpp", 7);
    CheckAndReport(ui, false, "", "Reinstall the driver", "Tool.cpp", 8);
    CheckAndReport(ui, true, "never", "shown", "Tool.cpp", 9);
    const std::string contact = "Contact Lumora Technical Support Department with the above information";
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], "Unhandled Exception occurrred in\nModule: INIFileSupport\nLine: 130|Cannot create view class|" +
                            contact);
    EXPECT_EQ(shown[1], "Unhandled Exception occurrred in\nModule: Tool\nLine: 7|Unknown|" + contact);
    EXPECT_EQ(shown[2], "Unhandled Exception occurrred in\nModule: Tool\nLine: 8|Unknown|Reinstall the driver");
    EXPECT_EQ(ui.dialogsShown, std::vector<std::string>(3, "Tarnwell Error"));
}

TEST(AboutBox, ShowsTheBuildVersion) {
    ScriptedUserInterface ui;
    std::string versionLine;
    ui.onDialog = [&](CDialogModel& dialog) {
        EXPECT_EQ(dialog.DialogId(), 100);
        versionLine = dynamic_cast<CAboutDlg&>(dialog).versionLine;
        return mb::kIdOk;
    };
    OnAppAbout(ui);
    EXPECT_EQ(ReadFileVersion(), SPINDLE_VERSION_TEXT);
    EXPECT_EQ(versionLine, std::string("Version: ") + SPINDLE_VERSION_TEXT);
    EXPECT_EQ(ui.dialogsShown, std::vector<std::string>{"About Spindle"});
}

}  // namespace
}  // namespace spindle
