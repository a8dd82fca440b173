#include "platform/ProfileText.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempFolder.h"

namespace spindle {
namespace {

using test::ReadWholeFile;
using test::TempFolder;
using test::WriteWholeFile;

TEST(ProfileText, ReadsTheWayHandEditedFilesExpect) {
    const ProfileText text(
        "Orphan=before any section\n"
        "; a comment line\n"
        "  [ Linearity Coefficients ]  \n"
        "  NL0  =  1.5e-3  \n"
        ";NL1=commented out\n"
        "NL1=first\n"
        "nl1=second\n"
        "Empty=\n"
        "no equals sign here\n"
        "[Setup]\n"
        "Int Period ms=100\n"
        "[linearity coefficients]\n"
        "NL2=from the repeated section\n");
    EXPECT_EQ(text.Get("LINEARITY COEFFICIENTS", "nl0"), "1.5e-3");
    EXPECT_EQ(text.Get("Linearity Coefficients", "NL1"), "first");
    EXPECT_EQ(text.Get("Linearity Coefficients", "Empty"), "");
    EXPECT_EQ(text.Get("Linearity Coefficients", "NL2"), "from the repeated section");
    EXPECT_EQ(text.Get("Setup", "Int Period ms"), "100");
    EXPECT_FALSE(text.Get("Setup", "NL0"));
    EXPECT_FALSE(text.Get("", "Orphan"));
    EXPECT_FALSE(text.Get("Linearity Coefficients", ";NL1"));
    EXPECT_FALSE(text.Get("Missing", "NL0"));
}

TEST(ProfileText, SetRewritesInPlaceAndAddsKeysAtTheEndOfTheirSection) {
    ProfileText text(
        "; Spindle settings, edited by hand\r\n"
        "[Settings]\r\n"
        "  ItemWidth =  180   \r\n"
        "; note about the next section\r\n"
        "\r\n"
        "[LanternCalibration]\r\n"
        "Averages=25");
    ASSERT_TRUE(text.Set("settings", "itemwidth", "240"));
    ASSERT_TRUE(text.Set("Settings", "DataWidth", "200"));
    ASSERT_TRUE(text.Set("LanternCalibration", "DAValue", "32000"));
    ASSERT_TRUE(text.Set("Profile\\MainWindowSize", "WindowPos", "0,1,2"));
    EXPECT_EQ(text.Text(),
              "; Spindle settings, edited by hand\r\n"
              "[Settings]\r\n"
              "  ItemWidth =  240\r\n"
              "DataWidth=200\r\n"
              "; note about the next section\r\n"
              "\r\n"
              "[LanternCalibration]\r\n"
              "Averages=25\r\n"
              "DAValue=32000\r\n"
              "\r\n"
              "[Profile\\MainWindowSize]\r\n"
              "WindowPos=0,1,2\r\n");

    ProfileText empty;
    ASSERT_TRUE(empty.Set("Settings", "Manufacturing", "1"));
    EXPECT_EQ(empty.Text(), "[Settings]\nManufacturing=1\n");
}

TEST(ProfileText, RefusesWhatWouldNotReadBackAsWritten) {
    ProfileText text("[Settings]\nA=1\n");
    EXPECT_FALSE(text.Set("Settings", "A", "1\n[Injected]\nB=2"));
    EXPECT_FALSE(text.Set("Settings", "A=B", "1"));
    EXPECT_FALSE(text.Set("Settings", ";A", "1"));
    EXPECT_FALSE(text.Set("Settings", "", "1"));
    EXPECT_FALSE(text.Set("Set]tings", "A", "1"));
    EXPECT_FALSE(text.Set("Settings", "A", std::string("1\0" "2", 3)));
    EXPECT_EQ(text.Text(), "[Settings]\nA=1\n");
}

TEST(ProfileText, OnePairOfMatchingQuotesIsDroppedAndQuotedValuesRoundTrip) {
    const ProfileText text(
        "[Linearity Coefficients]\n"
        "Intercept=\"0.9\"\n"
        "NL0='1.5e-5'\n"
        "NL1=\"2e-7'\n"
        "NL2=\"\"3\"\"\n"
        "NL3=\"\n");
    EXPECT_EQ(text.Get("Linearity Coefficients", "Intercept"), "0.9");
    EXPECT_EQ(text.Get("Linearity Coefficients", "NL0"), "1.5e-5");
    EXPECT_EQ(text.Get("Linearity Coefficients", "NL1"), "\"2e-7'");  // not a matching pair
    EXPECT_EQ(text.Get("Linearity Coefficients", "NL2"), "\"3\"");   // only one pair goes
    EXPECT_EQ(text.Get("Linearity Coefficients", "NL3"), "\"");

    ProfileText settings;
    for (const std::string value : {"'quoted'", "\"x\"", "plain", "\"", "''"}) {
        ASSERT_TRUE(settings.Set("Settings", "Path", value));
        EXPECT_EQ(settings.Get("Settings", "Path"), value);
    }
}

TEST(AtomicSave, KeepsPermissionsAndWritesThroughASymbolicLink) {
    TempFolder folder;
    const std::string real = folder.File("real.ini");
    const std::string link = folder.File("link.ini");
    WriteWholeFile(real, "old");
    std::filesystem::permissions(real, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_symlink("real.ini", link);  // relative, as people make them

    ASSERT_TRUE(SaveProfileFileAtomically(link, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(real), "new");
    EXPECT_EQ(std::filesystem::status(real).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

}  // namespace
}  // namespace spindle
