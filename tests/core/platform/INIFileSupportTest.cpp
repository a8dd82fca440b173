#include "platform/INIFileSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/ApplicationProfile.h"
#include "platform/ProfileText.h"
#include "support/TempFolder.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

using test::ReadWholeFile;
using test::ScopedEnv;
using test::ScriptedUserInterface;
using test::TempFolder;
using test::WriteWholeFile;

const int kApplication = 0;  // stands in for the application object

class SettingsStore : public ::testing::TestWithParam<bool> {
protected:
    SettingsStore() : configDir("SPINDLE_CONFIG_DIR", folder.Path().c_str()) {}
    void TearDown() override { SetProfileWriteFaultForTesting({}); }

    bool Registry() const { return GetParam(); }
    std::string StorePath() const { return Registry() ? folder.File("Spindle.ini") : folder.File("Cal.ini"); }
    CINIFileSupport Make() {
        return Registry() ? CINIFileSupport(ui, nullptr, 1, &kApplication)
                          : CINIFileSupport(ui, StorePath().c_str(), 0, nullptr);
    }
    std::string Stored(const std::string& section, const std::string& key) {
        return ProfileText(ReadWholeFile(StorePath())).Get(section, key).value_or("<missing>");
    }
    bool Ok(int result) const { return Registry() ? result == CINIFileSupport::kRegistryOk : result == 1; }

    TempFolder folder;
    ScopedEnv configDir;
    ScriptedUserInterface ui;
};

TEST_P(SettingsStore, EveryTypeIsWrittenInItsTextFormAndReadBack) {
    {
        CINIFileSupport store = Make();
        int wide = 300;  // the narrow types keep the low bits
        EXPECT_TRUE(Ok(store.WriteUInt8("S", "u8", static_cast<std::uint8_t>(wide))));
        wide = 200;
        EXPECT_TRUE(Ok(store.WriteInt8("S", "i8", static_cast<std::int8_t>(wide))));
        wide = 70000;
        EXPECT_TRUE(Ok(store.WriteUInt16("S", "u16", static_cast<std::uint16_t>(wide))));
        EXPECT_TRUE(Ok(store.WriteInt16("S", "i16", -30000)));
        EXPECT_TRUE(Ok(store.WriteUInt32("S", "u32", 4294967295u)));
        EXPECT_TRUE(Ok(store.WriteLong("S", "long", -2000000000)));
        EXPECT_TRUE(Ok(store.WriteDouble("S", "plain", 2.5)));
        EXPECT_TRUE(Ok(store.WriteDoubleExponent("S", "small", -0.00125)));
        EXPECT_TRUE(Ok(store.WriteDoubleExponent("S", "doubleE", 6.02214076e23)));
        EXPECT_TRUE(Ok(store.WriteFloat("S", "float", 0.1f)));
        EXPECT_TRUE(Ok(store.WriteFloatExponent("S", "floatE", 1.5f)));
        EXPECT_TRUE(Ok(store.WriteText("S", "text", "C:\\Spindle Files")));
        EXPECT_TRUE(store.LastWriteSucceeded());
        EXPECT_EQ(store.ValueText(), "C:\\Spindle Files");
    }
    EXPECT_EQ(Stored("S", "u8"), "44");
    EXPECT_EQ(Stored("S", "i8"), "-56");
    EXPECT_EQ(Stored("S", "u16"), "4464");
    EXPECT_EQ(Stored("S", "u32"), "4294967295");
    EXPECT_EQ(Stored("S", "plain"), "2.500000000000000");
    EXPECT_EQ(Stored("S", "small"), "-1.250000000000000e-003");
    EXPECT_EQ(Stored("S", "float"), "0.100000");
    EXPECT_EQ(Stored("S", "floatE"), "1.500000e+000");
    CINIFileSupport store = Make();
    EXPECT_EQ(store.ReadUInt8("S", "u8"), 44);
    EXPECT_EQ(store.ReadInt8("S", "i8"), -56);
    EXPECT_EQ(store.ReadInt16("S", "i16"), -30000);
    EXPECT_EQ(store.ReadUInt32("S", "u32"), 4294967295u);
    EXPECT_EQ(store.ReadLong("S", "long"), -2000000000);
    EXPECT_DOUBLE_EQ(store.ReadDouble("S", "small"), -0.00125);
    EXPECT_DOUBLE_EQ(store.ReadDouble("S", "doubleE"), 6.02214076e23);
    EXPECT_EQ(store.ReadFloat("S", "floatE"), 1.5f);
    EXPECT_EQ(store.ReadText("S", "text"), "C:\\Spindle Files");
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_P(SettingsStore, ParsesTheStartOfTheTextAndKeepsTheLowBits) {
    WriteWholeFile(StorePath(),
                   "[S]\n"
                   "a=12abc\n"
                   "b=  -7 apples\n"
                   "c=abc\n"
                   "d=300\n"
                   "e=200\n"
                   "f=3.5e2xyz\n"
                   "k=-65536\n");
    CINIFileSupport store = Make();
    EXPECT_EQ(store.ReadInt("S", "a"), 12);
    EXPECT_EQ(store.ReadLong("S", "b"), -7);
    EXPECT_EQ(store.ReadInt("S", "c", 5), 0);
    EXPECT_EQ(store.ReadUInt8("S", "d"), 44);
    EXPECT_EQ(store.ReadInt8("S", "e"), -56);
    EXPECT_EQ(store.ReadDouble("S", "f"), 350.0);
    EXPECT_EQ(store.ReadUInt16("S", "k"), 0);
    EXPECT_EQ(store.ReadUInt32("S", "k"), 0xFFFF0000u);
    EXPECT_EQ(store.ValueText(), "-65536");
}

TEST_P(SettingsStore, MissingValuesGiveTheirDefaults) {
    CINIFileSupport store = Make();
    EXPECT_EQ(store.ReadText("LanternCalibration", "Missing"), "0");
    EXPECT_EQ(store.ReadInt("Settings", "SplitterColumnSize", 150), 150);
    EXPECT_EQ(store.ReadDouble("Settings", "Missing"), 0.0);
    EXPECT_EQ(store.ReadUInt32("Settings", "Missing", 4000000000u), 4000000000u);
    EXPECT_EQ(store.DefaultText(), "-294967296");
    // The default comes back exactly, though its text has six decimals.
    EXPECT_EQ(store.ReadDouble("LanternCalibration", "ResistanceCalibrationSlope", 2.6402690825), 2.6402690825);
    EXPECT_EQ(store.DefaultText(), "2.640269");
    EXPECT_FALSE(std::filesystem::exists(StorePath()));  // reading creates nothing
}

TEST_P(SettingsStore, TextsLongerThanTheLimitsAreCutOnReadAndRefusedOnWrite) {
    const std::string longValue(300, 'x');
    WriteWholeFile(StorePath(), "[S]\nlong=" + longValue + "\n");
    CINIFileSupport store = Make();
    EXPECT_EQ(store.ReadText("S", "long"), std::string(255, 'x'));

    const std::string before = ReadWholeFile(StorePath());
    EXPECT_FALSE(Ok(store.WriteText("S", "long", std::string(256, 'y'))));
    EXPECT_FALSE(store.LastWriteSucceeded());
    EXPECT_FALSE(Ok(store.WriteDouble("S", "huge", 1e300)));  // its plain form has 316 characters
    EXPECT_FALSE(Ok(store.WriteText("S", "two", "lines\n[Injected]")));
    EXPECT_EQ(ReadWholeFile(StorePath()), before);

    EXPECT_TRUE(Ok(store.WriteText("S", "long", std::string(255, 'y'))));
    EXPECT_TRUE(Ok(store.WriteDoubleExponent("S", "huge", 1e300)));
    EXPECT_EQ(store.ReadDouble("S", "huge"), 1e300);
}

TEST_P(SettingsStore, AFailingOrRefusedWriteReportsFailureAndKeepsTheOldFile) {
    CINIFileSupport store = Make();
    ASSERT_TRUE(Ok(store.WriteInt("Settings", "ItemWidth", 180)));
    const std::string before = ReadWholeFile(StorePath());
    SetProfileWriteFaultForTesting([](const std::string&) { return true; });
    const int result = store.WriteInt("Settings", "ItemWidth", 240);
    EXPECT_EQ(result, Registry() ? CINIFileSupport::kRegistryWriteFailed : 0);
    SetProfileWriteFaultForTesting({});
    EXPECT_EQ(ReadWholeFile(StorePath()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1) << "no temporary file left";
    EXPECT_EQ(store.ReadInt("Settings", "ItemWidth"), 180);
    // A read-only file is not replaced either, and stays read-only.
    std::filesystem::permissions(StorePath(), std::filesystem::perms::owner_read);
    EXPECT_FALSE(Ok(store.WriteInt("Settings", "ItemWidth", 240)));
    EXPECT_EQ(ReadWholeFile(StorePath()), before);
    EXPECT_EQ(std::filesystem::status(StorePath()).permissions(), std::filesystem::perms::owner_read);
    std::filesystem::permissions(StorePath(), std::filesystem::perms::owner_all);
}

TEST_P(SettingsStore, AFileThatCannotBeReadIsReportedOnceAndNeverWrittenOver) {
    ForgetUnreadableSettingsFilesForTesting();
    // A folder where the file should be: it exists but cannot be read as a
    // file (a mode-000 file would still be readable by root).
    std::filesystem::create_directory(StorePath());
    std::filesystem::create_directory(StorePath() + "/kept");
    {
        CINIFileSupport store = Make();
        EXPECT_EQ(store.ReadInt("Settings", "Manufacturing", 7), 7);
        EXPECT_EQ(store.ReadInt("Settings", "FPGARegisters", 8), 8);
        EXPECT_FALSE(Ok(store.WriteInt("Settings", "Manufacturing", 1)));
    }
    CINIFileSupport again = Make();
    again.ReadInt("Settings", "Manufacturing");
    const std::vector<std::string> boxes = ui.MessageTexts();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(StorePath()), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("cannot be read"), std::string::npos) << boxes[0];
    EXPECT_TRUE(AnyUnreadableSettingsFile());
    EXPECT_TRUE(std::filesystem::is_directory(StorePath() + "/kept"));
    ForgetUnreadableSettingsFilesForTesting();
}

INSTANTIATE_TEST_SUITE_P(BothModes, SettingsStore, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Registry" : "File"; });

TEST(SettingsStoreRegistry, FallsBackToTheXdgThenTheHomeConfigurationFolder) {
    TempFolder folder;
    ScriptedUserInterface ui;
    {
        ScopedEnv dir("SPINDLE_CONFIG_DIR", nullptr);
        ScopedEnv xdg("XDG_CONFIG_HOME", folder.File("xdg").c_str());
        CINIFileSupport store(ui, nullptr, 1, &kApplication);
        EXPECT_EQ(store.FilePath(), folder.File("xdg/Lumora Software/Spindle.ini"));
        EXPECT_EQ(store.WriteInt("Settings", "Manufacturing", 1), CINIFileSupport::kRegistryOk);
        EXPECT_TRUE(std::filesystem::exists(folder.File("xdg/Lumora Software/Spindle.ini")));
    }
    {
        ScopedEnv dir("SPINDLE_CONFIG_DIR", nullptr);
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", folder.File("home").c_str());
        EXPECT_EQ(SettingsFilePath(), folder.File("home/.config/Lumora Software/Spindle.ini"));
    }
}

class SettingsStoreFileName : public ::testing::Test {
protected:
    void SetUp() override {
        char buffer[4096];
        ASSERT_NE(::getcwd(buffer, sizeof buffer), nullptr);
        oldDirectory = buffer;
        ASSERT_EQ(::chdir(folder.Path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(::chdir(oldDirectory.c_str()), 0); }

    TempFolder folder;
    std::string oldDirectory;
    ScriptedUserInterface ui;
};

TEST_F(SettingsStoreFileName, ResolvesAgainstTheCurrentFolderOnlyWhenTheFileIsThere) {
    WriteWholeFile(folder.File("Sensor.cal"), "[Setup]\nBoxcar=3\n");
    CINIFileSupport present(ui, "Sensor.cal", 0, nullptr);
    EXPECT_EQ(present.FilePath(), folder.File("Sensor.cal"));
    EXPECT_EQ(present.ReadInt("setup", "BOXCAR"), 3);

    CINIFileSupport absent(ui, "New.lin", 0, nullptr);
    EXPECT_EQ(absent.FilePath(), "New.lin");

    TempFolder elsewhere;
    WriteWholeFile(elsewhere.File("Sensor.cal"), "[Setup]\nBoxcar=9\n");
    CINIFileSupport full(ui, elsewhere.File("Sensor.cal").c_str(), 0, nullptr);
    EXPECT_EQ(full.FilePath(), elsewhere.File("Sensor.cal"));
    EXPECT_EQ(full.ReadInt("Setup", "Boxcar"), 9);

    // A name too long to hold is refused, never cut to some other file's name.
    const std::string tooLong = "/tmp/" + std::string(250, 'n') + ".ini";
    CINIFileSupport refused(ui, tooLong.c_str(), 0, nullptr);
    EXPECT_EQ(refused.FilePath(), "");
    EXPECT_EQ(refused.ReadInt("Setup", "Boxcar", 4), 4);
    EXPECT_EQ(refused.WriteInt("Setup", "Boxcar", 4), 0);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(ApplicationProfile, KeepsPlacementAndBarStatesApartFromTheSettings) {
    TempFolder folder;
    ScopedEnv dir("SPINDLE_CONFIG_DIR", folder.Path().c_str());
    ScriptedUserInterface ui;
    CINIFileSupport settings(ui, nullptr, 1, &kApplication);
    settings.WriteText("MainWindowSize", "WindowPos", "not the placement");

    CApplicationProfile profile;
    EXPECT_EQ(profile.FilePath(), folder.File("Spindle.ini"));
    EXPECT_FALSE(profile.ReadWindowPlacement());
    WindowPlacement maximized{2, 3, -1, -1, -8, -8, 10, 20, 810, 620};
    ASSERT_TRUE(profile.WriteWindowPlacement(maximized));
    EXPECT_EQ(profile.GetProfileString("MainWindowSize", "WindowPos"), "2,3,-1,-1,-8,-8,10,20,810,620");
    const auto back = profile.ReadWindowPlacement();
    ASSERT_TRUE(back);
    EXPECT_EQ(FormatWindowPlacement(*back), "2,3,-1,-1,-8,-8,10,20,810,620");
    EXPECT_EQ(settings.ReadText("MainWindowSize", "WindowPos"), "not the placement");

    ASSERT_TRUE(profile.WriteProfileString("MainWindowSize", "WindowPos", "0,1,2,3,4,5,6,7,8"));
    EXPECT_FALSE(profile.ReadWindowPlacement());

    const std::string state(600, 'Q');  // longer than a settings value may be
    ASSERT_TRUE(profile.WriteBarState(CApplicationProfile::kMainBars, state));
    ASSERT_TRUE(profile.WriteBarState(CApplicationProfile::kManufacturingBars, "AAEC"));
    EXPECT_EQ(profile.ReadBarState("MainBars"), state);
    EXPECT_EQ(profile.ReadBarState("ManufacturingBars"), "AAEC");
    EXPECT_EQ(profile.ReadBarState("OtherBars"), "");
    EXPECT_FALSE(profile.WriteBarState("MainBars", "two\nlines"));
}

}  // namespace
}  // namespace spindle
