// "Extra Kestrel Settings" and the Zephyr calibration import: the packed
// slots 17-19 both ways, the .cal file's fields, and the refusals that keep
// a bad file or a zero full scale away from the device.
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
};

TEST(ExtraKestrel, TheThreeSlotsRoundTripEveryField) {
    KestrelRig rig;
    Slot a{0x01, 0x2C, 0x00, 0x64, 0x00, 0x05, 3, 1, 30, 4, 0x00, 0x0F, 0, 0, 2};
    Slot p{0x00, 0x10, 0x02, 0x00, 0x03, 0x00, 0x00, 0x07};
    Slot x{8, 0x28, 0x01, 0x00};
    rig.dialog.Decode(a, p, x);
    EXPECT_EQ(rig.dialog.readingPeriod, "300");
    EXPECT_EQ(rig.dialog.analogFullScale, "4369") << "65535 / 15";
    EXPECT_EQ(rig.dialog.measurementType, 4);
    EXPECT_STREQ(CExtraKestrelDlg::kMeasurementTypes[rig.dialog.measurementType], "Flourescence");
    EXPECT_STREQ(CExtraKestrelDlg::kPrintOutHeaders[rig.dialog.printOutHeader], "Answer with Header");
    EXPECT_EQ(rig.dialog.flags, CExtraKestrelDlg::kRatio | CExtraKestrelDlg::kAcquireTemperature);
    Slot a2{}, p2{}, x2{};
    std::string why;
    rig.dialog.analogFullScale = "4096";
    ASSERT_TRUE(rig.dialog.Encode(a2, p2, x2, why)) << why;
    EXPECT_EQ(a2, a) << "4096 is stored as 15";
    EXPECT_EQ(p2, p);
    EXPECT_EQ(x2, x);
    EXPECT_EQ(x2[1], 0x28);

    // OK writes 17, 18 and 19, each with its pause.
    EXPECT_EQ(rig.dialog.OnOK(), "");
    const auto writes = rig.driver.BulkWrites();
    ASSERT_EQ(writes.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(writes[static_cast<std::size_t>(i)][1], 17 + i);
    EXPECT_EQ(writes[0][2], 0x01);
    EXPECT_EQ(writes[0][3], 0x2C);
}

TEST(ExtraKestrel, AZeroFullScaleIsRefusedAndAStoredZeroShowsAsNotSet) {
    KestrelRig rig;
    rig.dialog.Decode(Slot{}, Slot{}, Slot{});
    EXPECT_EQ(rig.dialog.analogFullScale, "") << "a stored 0 was never set";
    for (const char* text : {"0", "65536", "", "abc"}) {
        rig.dialog.analogFullScale = text;
        EXPECT_NE(rig.dialog.OnOK(), "") << text;
    }
    // Every field must fit its bytes: a number cut to 16 or 8 bits would be
    // stored as another one. The refusal names the limit.
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
    ASSERT_TRUE(rig.dialog.LoadCalFile(rig.CalFile("[Setup]\nInt Period ms=120\nAverage=3\nBoxcar=2\n"
                                                   "Analysis [pixel]=700\nReference [pixel]=650\nSecond Order=1\n"
                                                   "T Compensation=0\n"),
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
    // Junk is not taken as 0.
    EXPECT_FALSE(rig.dialog.LoadCalFile(rig.CalFile("[Setup]\nInt Period ms=12O\n"), why));
    EXPECT_NE(why.find("\"Int Period ms\"=12O is not a whole number"), std::string::npos) << why;
    EXPECT_EQ(rig.dialog.integrationTime, "120");
}

TEST(ZephyrImport, CoefficientsGoIntoSlots3To18AndAMissingKeyIsAskedAbout) {
    KestrelRig rig;
    // The Lantern's slot 0 holds its serial (the value follows two reply bytes).
    rig.driver.QueueBulkReply(std::vector<std::uint8_t>{0x23, 0x00, 'L', 'A', 'N', '1', 0});
    std::string text = "[Setup]\n";
    for (int i = 0; i < 15; ++i) text += std::string(kZephyrCoefficientKeys[i]) + "=" + std::to_string(i + 1) + ".5\n";
    rig.ui.QueueAnswer(mb::kIdYes);
    const ZephyrImport imported = ImportZephyrCalibration(rig.platform, 0x100, rig.CalFile(text));
    EXPECT_TRUE(imported.written) << imported.problem;
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_NE(rig.ui.Messages()[0].text.find("\"K2 Second\""), std::string::npos);
    std::map<int, std::string> written;
    for (const auto& write : rig.driver.BulkWrites()) {
        if (write.size() > 2 && write[0] == 0x24) {
            written[write[1]] = std::string(write.begin() + 2, std::find(write.begin() + 2, write.end(), 0));
        }
    }
    EXPECT_EQ(written[0], "LAN1");
    EXPECT_EQ(written[3], "1.500000e+00");
    EXPECT_EQ(written[17], "1.550000e+01");
    EXPECT_EQ(written[18], "0.000000e+00");

    // Declined, or no coefficients at all: nothing is written.
    KestrelRig declined;
    declined.ui.QueueAnswer(mb::kIdNo);
    EXPECT_FALSE(ImportZephyrCalibration(declined.platform, 0x100, declined.CalFile(text)).written);
    const ZephyrImport empty = ImportZephyrCalibration(declined.platform, 0x100, declined.CalFile("[Setup]\nBoxcar=2\n"));
    EXPECT_FALSE(empty.written);
    EXPECT_NE(empty.problem.find("nothing was written"), std::string::npos);
    // nan, inf and values beyond a float are refused as a .lin file's are.
    for (const char* value : {"nan", "1e999", "-inf", "1e39"}) {
        const ZephyrImport odd =
            ImportZephyrCalibration(declined.platform, 0x100, declined.CalFile(std::string("[Setup]\nK First=") + value));
        EXPECT_FALSE(odd.written) << value;
        EXPECT_NE(odd.problem.find("not a coefficient the instrument can keep"), std::string::npos) << value;
    }
    EXPECT_TRUE(declined.driver.BulkWrites().empty());
}

TEST(ExtraKestrel, SlotsThatCouldNotBeReadAreNeverOverwrittenWithTheDialogsBlanks) {
    KestrelRig rig;
    rig.driver.FailNext(ioctl::kBulkRead);  // slot 17's reply
    rig.dialog.OnInitDialog();
    EXPECT_EQ(rig.dialog.UnreadSlot(), 17);
    const std::size_t before = rig.driver.BulkWrites().size();
    const std::string why = rig.dialog.OnOK();
    EXPECT_NE(why.find("Slot 17 could not be read"), std::string::npos) << why;
    EXPECT_EQ(rig.driver.BulkWrites().size(), before) << "nothing written";
    // Read whole, OK writes; a write the Kestrel refuses is reported.
    rig.dialog.OnInitDialog();
    EXPECT_EQ(rig.dialog.UnreadSlot(), 0);
    rig.dialog.analogFullScale = "4096";
    rig.driver.FailNext(ioctl::kBulkWrite);
    EXPECT_NE(rig.dialog.OnOK().find("did not take slot 17"), std::string::npos);
}

TEST(ZephyrImport, ASlotThatCouldNotBeReadStopsTheImportBeforeAnyWrite) {
    KestrelRig rig;
    std::string text = "[Setup]\n";
    for (int i = 0; i < 16; ++i) text += std::string(kZephyrCoefficientKeys[i]) + "=1\n";
    const std::string path = rig.CalFile(text);
    // Slot 0 (the serial) and slot 2 (the intercept): each read back whole
    // or not written at all, never written back empty or as 0.
    for (const int failing : {0, 2}) {
        KestrelRig flaky;
        int replies = 0;
        flaky.driver.failWhen = [&](const ScriptedDriver::Request& request) {
            return request.code == ioctl::kBulkRead && replies++ == failing;
        };
        const ZephyrImport imported = ImportZephyrCalibration(flaky.platform, 0x100, path);
        EXPECT_FALSE(imported.written);
        EXPECT_NE(imported.problem.find("slot " + std::to_string(failing) + " failed"), std::string::npos)
            << imported.problem;
        for (const auto& write : flaky.driver.BulkWrites()) {
            EXPECT_NE(write.empty() ? 0 : write[0], 0x24) << "a slot was written";
        }
    }
}

}  // namespace
}  // namespace spindle::test
