// "Extra Kestrel Settings" and the Zephyr calibration import: the packed
// slots 17-19 both ways, the .cal file's fields, and the refusals that keep
// a bad file, a zero full scale or an unread slot away from the device.
#include <gtest/gtest.h>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"
#include "tools/ExtraKestrelDlg.h"

namespace spindle::test {
namespace {

using Slot = CExtraKestrelDlg::Slot;

struct KestrelRig {
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    TempFolder folder;
    CExtraKestrelDlg dialog{platform};
    KestrelRig() { dialog.SetDevice(0x100); }

    std::string CalFile(const std::string& text) {
        const std::string path = folder.File("sensor.cal");
        WriteWholeFile(path, text);
        return path;
    }
    ZephyrImport Import(const std::string& text) { return ImportZephyrCalibration(platform, 0x100, CalFile(text)); }
    std::vector<std::vector<std::uint8_t>> AccessoryWrites() const {
        std::vector<std::vector<std::uint8_t>> writes;
        for (const auto& write : driver.BulkWrites()) {
            if (!write.empty() && write[0] == 0x24) writes.push_back(write);
        }
        return writes;
    }
};

TEST(ExtraKestrel, TheThreeSlotsRoundTripAndOkWritesEach) {
    KestrelRig rig;
    Slot a{0x01, 0x2C, 0x00, 0x64, 0x00, 0x05, 3, 1, 30, 4, 0x00, 0x0F, 0, 0, 2};
    Slot p{0x00, 0x10, 0x02, 0x00, 0x03, 0x00, 0x00, 0x07};
    Slot x{8, 0x28, 0x01, 0x00};
    rig.dialog.Decode(a, p, x);
    EXPECT_EQ(rig.dialog.readingPeriod, "300");
    EXPECT_EQ(rig.dialog.analogFullScale, "4369") << "kept as 65535 / value";
    EXPECT_EQ(rig.dialog.flags, CExtraKestrelDlg::kRatio | CExtraKestrelDlg::kAcquireTemperature);
    Slot a2{}, p2{}, x2{};
    std::string why;
    rig.dialog.analogFullScale = "4096";
    ASSERT_TRUE(rig.dialog.Encode(a2, p2, x2, why)) << why;
    EXPECT_EQ(a2, a);
    EXPECT_EQ(p2, p);
    EXPECT_EQ(x2, x);
    EXPECT_EQ(rig.dialog.OnOK(), "");
    const auto writes = rig.driver.BulkWrites();
    ASSERT_EQ(writes.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(writes[static_cast<std::size_t>(i)][1], 17 + i);
}

TEST(ExtraKestrel, AFieldThatDoesNotFitItsBytesOrAZeroFullScaleIsRefused) {
    KestrelRig rig;
    rig.dialog.Decode(Slot{}, Slot{}, Slot{});
    EXPECT_EQ(rig.dialog.analogFullScale, "") << "a stored 0 was never set";
    for (const char* text : {"0", "65536", "", "abc"}) {
        rig.dialog.analogFullScale = text;
        EXPECT_NE(rig.dialog.OnOK(), "") << text;
    }
    // A number cut to 16 or 8 bits would be stored as another one.
    rig.dialog.analogFullScale = "4096";
    rig.dialog.integrationTime = "1215752191";
    EXPECT_NE(rig.dialog.OnOK().find("\"Integration Time\" must be a whole number from 0 to 65535"), std::string::npos);
    rig.dialog.integrationTime = "65535";
    for (const char* text : {"256", "-1"}) {
        rig.dialog.pixelBoxcar = text;
        EXPECT_NE(rig.dialog.OnOK().find("from 0 to 255"), std::string::npos) << text;
    }
    EXPECT_TRUE(rig.driver.BulkWrites().empty());
}

TEST(ExtraKestrel, ACalFileFillsItsFieldsAndAlwaysSetsOneScanAndPulseLed) {
    KestrelRig rig;
    rig.dialog.Decode(Slot{0, 0, 0, 0, 0, 9}, Slot{0, 5}, Slot{0, CExtraKestrelDlg::kRatio});
    std::string why;
    ASSERT_TRUE(rig.dialog.LoadCalFile(
        rig.CalFile("[Setup]\nInt Period ms=120\nAverage=3\nAnalysis [pixel]=700\nSecond Order=1\nT Compensation=0\n"),
        why));
    EXPECT_EQ(rig.dialog.scansToAverage, "1");
    EXPECT_EQ(rig.dialog.electricalDark, "0");
    EXPECT_EQ(rig.dialog.oxygenScansToAdd, "3");
    EXPECT_EQ(rig.dialog.fluorescencePeak, "700");
    // "Ratio" is missing: it reads as 0 and clears its box.
    EXPECT_EQ(rig.dialog.flags, CExtraKestrelDlg::kPulseLed | CExtraKestrelDlg::kSecondOrder);
    EXPECT_TRUE(rig.driver.BulkWrites().empty()) << "nothing reaches the device until OK";
    EXPECT_FALSE(rig.dialog.LoadCalFile(rig.CalFile("[Other]\nAverage=3\n"), why));
    EXPECT_NE(why.find("no \"Setup\" section"), std::string::npos);
    EXPECT_FALSE(rig.dialog.LoadCalFile(rig.CalFile("[Setup]\nInt Period ms=12O\n"), why)) << "junk is not 0";
    EXPECT_NE(why.find("\"Int Period ms\"=12O is not a whole number"), std::string::npos) << why;
    EXPECT_EQ(rig.dialog.integrationTime, "120");
}

TEST(ExtraKestrel, SlotsThatCouldNotBeReadAreNeverOverwrittenWithTheDialogsBlanks) {
    KestrelRig rig;
    rig.driver.FailNext(ioctl::kBulkRead);  // slot 17's reply
    rig.dialog.OnInitDialog();
    EXPECT_EQ(rig.dialog.UnreadSlot(), 17);
    const std::size_t before = rig.driver.BulkWrites().size();
    EXPECT_NE(rig.dialog.OnOK().find("Slot 17 could not be read"), std::string::npos);
    EXPECT_EQ(rig.driver.BulkWrites().size(), before) << "nothing written";
    // Read whole, OK writes; a write the Kestrel refuses is reported.
    rig.dialog.OnInitDialog();
    EXPECT_EQ(rig.dialog.UnreadSlot(), 0);
    rig.dialog.analogFullScale = "4096";
    rig.driver.FailNext(ioctl::kBulkWrite);
    EXPECT_NE(rig.dialog.OnOK().find("did not take slot 17"), std::string::npos);
}

TEST(ZephyrImport, CoefficientsGoIntoSlots3To18AndAMissingKeyIsAskedAbout) {
    KestrelRig rig;
    // The Lantern's slot 0 holds its serial (the value follows two reply bytes).
    rig.driver.QueueBulkReply(std::vector<std::uint8_t>{0x23, 0x00, 'L', 'A', 'N', '1', 0});
    std::string text = "[Setup]\n";
    for (int i = 0; i < 15; ++i) text += std::string(kZephyrCoefficientKeys[i]) + "=" + std::to_string(i + 1) + ".5\n";
    rig.ui.QueueAnswer(mb::kIdYes);
    const ZephyrImport imported = rig.Import(text);
    EXPECT_TRUE(imported.written) << imported.problem;
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_NE(rig.ui.Messages()[0].text.find("\"K2 Second\""), std::string::npos);
    std::map<int, std::string> written;
    for (const auto& write : rig.AccessoryWrites()) {
        written[write[1]] = std::string(write.begin() + 2, std::find(write.begin() + 2, write.end(), 0));
    }
    EXPECT_EQ(written[0], "LAN1");
    EXPECT_EQ(written[3], "1.500000e+00");
    EXPECT_EQ(written[18], "0.000000e+00");

    // Declined, or no coefficients at all: nothing is written.
    KestrelRig declined;
    declined.ui.QueueAnswer(mb::kIdNo);
    EXPECT_FALSE(declined.Import(text).written);
    EXPECT_FALSE(declined.Import("[Setup]\nBoxcar=2\n").written);
    EXPECT_TRUE(declined.driver.BulkWrites().empty());
}

TEST(ZephyrImport, ASlotThatCouldNotBeReadStopsTheImportBeforeAnyWrite) {
    std::string text = "[Setup]\n";
    for (const char* key : kZephyrCoefficientKeys) text += std::string(key) + "=1\n";
    // Slot 0 (the serial) and slot 2 (the intercept): read back whole or
    // not written at all, never written back empty or as 0.
    for (const int failing : {0, 2}) {
        KestrelRig flaky;
        int replies = 0;
        flaky.driver.failWhen = [&](const ScriptedDriver::Request& request) {
            return request.code == ioctl::kBulkRead && replies++ == failing;
        };
        const ZephyrImport imported = flaky.Import(text);
        EXPECT_FALSE(imported.written);
        EXPECT_NE(imported.problem.find("slot " + std::to_string(failing) + " failed"), std::string::npos)
            << imported.problem;
        EXPECT_TRUE(flaky.AccessoryWrites().empty());
    }
}

}  // namespace
}  // namespace spindle::test
