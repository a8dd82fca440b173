// "Calibrate Lantern" against a scripted Kestrel with its Lantern: the two
// stores and the line, the questions, what OK writes, the settings it keeps,
// and the values it refuses instead of dividing by zero.
#include <gtest/gtest.h>

#include <memory>

#include "platform/DebugTrace.h"
#include "platform/INIFileSupport.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
const int kApplication = 0;

struct LanternRig {
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    std::unique_ptr<CLanternCalDlg> owned = std::make_unique<CLanternCalDlg>(platform, 0, &kApplication);
    CLanternCalDlg& dialog = *owned;

    void Prepare(const char* low, const char* high, const char* averages) {
        dialog.OnInitDialog();
        dialog.lowText = low;
        dialog.highText = high;
        dialog.averagesText = averages;
    }
    // `count` raw readings of `raw` (little-endian 32-bit replies).
    void Readings(std::uint32_t raw, int count) {
        for (int i = 0; i < count; ++i) {
            driver.QueueBulkReply({static_cast<std::uint8_t>(raw), static_cast<std::uint8_t>(raw >> 8),
                                   static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 24)});
        }
    }
    std::vector<Bytes> SlotWrites() const {
        std::vector<Bytes> writes;
        for (const Bytes& write : driver.BulkWrites()) {
            if (!write.empty() && (write[0] == 0x24 || write[0] == 0x27)) writes.push_back(write);
        }
        return writes;
    }
    long Pauses() const {
        const auto sleeps = clock.Sleeps();
        return std::count(sleeps.begin(), sleeps.end(), CLanternCalDlg::kReadingPauseMs);
    }
    // The settings the dialog keeps, once it is gone.
    CINIFileSupport Settings() {
        owned.reset();
        return CINIFileSupport(ui, nullptr, 1, &kApplication);
    }
};

TEST(LanternCalibration, TwoStoresGiveTheLineAndOkStoresItIntoSlotsOneAndTwo) {
    LanternRig rig;
    rig.Prepare("25", "65", "4");
    rig.Readings(1000, 5);  // one discarded, four averaged
    EXPECT_EQ(rig.dialog.OnStoreLow(), "");
    EXPECT_TRUE(rig.ui.Messages().empty()) << "one side computes nothing and asks nothing";
    EXPECT_EQ(rig.Pauses(), 4);
    rig.ui.QueueAnswer(mb::kIdYes);
    rig.Readings(3000, 5);
    EXPECT_EQ(rig.dialog.OnStoreHigh(), "");
    EXPECT_EQ(rig.Pauses(), 9) << "the high store waits once more before averaging";
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_EQ(rig.ui.Messages()[0].text,
              "Calibration Complete\n********************\nSlope 2.00000000e-02\nIntercept 5.00000000e+00\n\n"
              "Would you like to save these values?");
    EXPECT_EQ(rig.dialog.interceptText, "5.00000000e+00");
    rig.ui.QueueAnswer(mb::kIdYes);
    EXPECT_EQ(rig.dialog.OnOK(), "");
    const auto writes = rig.SlotWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(std::string(writes[0].begin() + 1, writes[0].begin() + 14), "\x01" "2.000000e-02");
    EXPECT_EQ(std::string(writes[1].begin() + 1, writes[1].begin() + 14), "\x02" "5.000000e+00");
    EXPECT_EQ(writes[2][0], 0x27) << "then the commit";
    CINIFileSupport store = rig.Settings();
    EXPECT_DOUBLE_EQ(store.ReadDouble(CLanternCalDlg::kSection, "HighValue", -1), 65.0);
    EXPECT_EQ(store.ReadInt(CLanternCalDlg::kSection, "Averages", -1), 4);
}

TEST(LanternCalibration, NoAnswerKeepsTheOldLineAndCancelStillKeepsTheSettings) {
    LanternRig rig;
    rig.Prepare("100", "120", "1");
    rig.dialog.slopeText = "1.5";
    rig.dialog.OnResistanceMode();
    rig.Readings(1000, 2);
    rig.dialog.OnStoreLow();
    rig.Readings(2000, 2);
    rig.ui.QueueAnswer(mb::kIdNo);
    rig.dialog.OnStoreHigh();
    EXPECT_EQ(rig.dialog.slopeText, "1.5");
    EXPECT_EQ(rig.dialog.OnOK(), "");
    EXPECT_TRUE(rig.SlotWrites().empty());
    EXPECT_EQ(rig.Settings().ReadInt(CLanternCalDlg::kSection, "Temperature", -1), 0) << "resistance mode kept";
}

TEST(LanternCalibration, EqualReadingsAndZeroAveragesAreRefusedInsteadOfDividingByZero) {
    LanternRig rig;
    rig.Prepare("25", "65", "0");
    EXPECT_NE(rig.dialog.OnStoreLow(), "");
    EXPECT_NE(rig.dialog.OnGetTemperature(), "");
    EXPECT_TRUE(rig.driver.Requests().empty()) << "nothing reaches the device";
    rig.dialog.averagesText = "2";
    rig.Readings(1500, 6);
    rig.dialog.OnStoreLow();
    EXPECT_NE(rig.dialog.OnStoreHigh().find("both 1500 counts"), std::string::npos);
    EXPECT_TRUE(rig.ui.Messages().empty()) << "no question for a line that cannot be drawn";
    for (const char* text : {"abc", "1e999", ""}) {
        rig.dialog.lowText = text;
        EXPECT_NE(rig.dialog.TakeFields(), "") << text;
    }
}

TEST(LanternCalibration, GetTemperatureUsesTheDialogsLineAndALevelBeyondSixteenBitsIsRefused) {
    LanternRig rig;
    rig.Prepare("25", "65", "2");
    rig.dialog.slopeText = "0.02";
    rig.dialog.interceptText = "5";
    rig.Readings(2000, 12);  // the Lantern's own line's slots and readings, then the two
    EXPECT_EQ(rig.dialog.OnGetTemperature(), "");
    EXPECT_EQ(rig.dialog.statusText, "45.00 \u00B0C");
    rig.driver.Clear();
    rig.dialog.daText = "70000";
    EXPECT_NE(rig.dialog.OnSetDa(), "");
    EXPECT_TRUE(rig.driver.BulkWrites().empty()) << "a level beyond 16 bits is refused";
}

TEST(LanternCalibration, AReadingThatFailsStoresNothingAndAFailedWriteKeepsTheDialogOpen) {
    LanternRig rig;
    rig.Prepare("25", "65", "4");
    rig.Readings(1000, 5);
    ASSERT_EQ(rig.dialog.OnStoreLow(), "");
    // The third averaged reading of the high side fails: averaging its 0 in
    // would draw the line through a reading that never happened.
    rig.Readings(3000, 3);
    int reads = 0;
    rig.driver.failWhen = [&](const ScriptedDriver::Request& request) {
        return request.code == ioctl::kBulkRead && ++reads == 4;
    };
    EXPECT_NE(rig.dialog.OnStoreHigh().find("Reading 4 of the Lantern's temperature failed"), std::string::npos);
    EXPECT_FALSE(rig.dialog.highStored);
    for (const auto& message : rig.ui.Messages()) EXPECT_NE(message.title, "Calibration Complete");
    EXPECT_NE(rig.dialog.OnGetTemperature(), "") << "the same for Get Temperature";

    // A calibration the Lantern does not take keeps OK's dialog open, and
    // nothing is committed after the failed write.
    rig.driver.failWhen = nullptr;
    rig.Readings(3000, 5);
    rig.ui.QueueAnswer(mb::kIdYes);
    ASSERT_EQ(rig.dialog.OnStoreHigh(), "");
    rig.ui.QueueAnswer(mb::kIdYes);
    rig.driver.FailNext(ioctl::kBulkWrite);
    EXPECT_NE(rig.dialog.OnOK(), "");
    EXPECT_EQ(rig.SlotWrites().size(), 1u) << "the failed write of slot 1 only: no slot 2, no commit";
}

}  // namespace
}  // namespace spindle::test
