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
};

void Prepare(CLanternCalDlg& dialog, const char* low, const char* high, const char* averages) {
    dialog.OnInitDialog();
    dialog.lowText = low;
    dialog.highText = high;
    dialog.averagesText = averages;
}

TEST(LanternCalibration, TwoStoresGiveTheLineAndOkStoresItIntoSlotsOneAndTwo) {
    LanternRig rig;
    {
        CLanternCalDlg dialog(rig.platform, 0, &kApplication);
        Prepare(dialog, "25", "65", "4");
        EXPECT_EQ(dialog.unitLabel, "\u00B0C");
        rig.Readings(1000, 5);  // one discarded, four averaged
        EXPECT_EQ(dialog.OnStoreLow(), "");
        EXPECT_EQ(dialog.lowCounts, 1000u);
        EXPECT_TRUE(rig.ui.Messages().empty()) << "one side computes nothing and asks nothing";
        const auto readingPauses = [&rig] {
            const auto sleeps = rig.clock.Sleeps();
            return std::count(sleeps.begin(), sleeps.end(), CLanternCalDlg::kReadingPauseMs);
        };
        EXPECT_EQ(readingPauses(), 4);
        const auto pauses = readingPauses();
        rig.ui.QueueAnswer(mb::kIdYes);
        rig.Readings(3000, 5);
        EXPECT_EQ(dialog.OnStoreHigh(), "");
        EXPECT_EQ(readingPauses() - pauses, 5) << "the high store waits once more before averaging";
        ASSERT_EQ(rig.ui.Messages().size(), 1u);
        EXPECT_EQ(rig.ui.Messages()[0].title, "Calibration Complete");
        EXPECT_EQ(rig.ui.Messages()[0].text,
                  "Calibration Complete\n********************\nSlope 2.00000000e-02\nIntercept 5.00000000e+00\n\n"
                  "Would you like to save these values?");
        EXPECT_EQ(dialog.slopeText, "2.00000000e-02");
        EXPECT_EQ(dialog.interceptText, "5.00000000e+00");
        EXPECT_TRUE(dialog.accepted);

        rig.ui.QueueAnswer(mb::kIdYes);
        EXPECT_EQ(dialog.OnOK(), "");
        const auto writes = rig.SlotWrites();
        ASSERT_EQ(writes.size(), 3u);
        EXPECT_EQ(writes[0][1], 1);
        EXPECT_EQ(std::string(writes[0].begin() + 2, writes[0].begin() + 14), "2.000000e-02");
        EXPECT_EQ(writes[1][1], 2);
        EXPECT_EQ(std::string(writes[1].begin() + 2, writes[1].begin() + 14), "5.000000e+00");
        EXPECT_EQ(writes[2][0], 0x27) << "then the commit";
    }
    // The five settings were written when the dialog went.
    CINIFileSupport store(rig.ui, nullptr, 1, &kApplication);
    EXPECT_EQ(store.ReadInt(CLanternCalDlg::kSection, "Temperature", -1), 1);
    EXPECT_DOUBLE_EQ(store.ReadDouble(CLanternCalDlg::kSection, "LowValue", -1), 25.0);
    EXPECT_DOUBLE_EQ(store.ReadDouble(CLanternCalDlg::kSection, "HighValue", -1), 65.0);
    EXPECT_EQ(store.ReadInt(CLanternCalDlg::kSection, "Averages", -1), 4);
    EXPECT_EQ(store.ReadInt(CLanternCalDlg::kSection, "DAValue", -1), 32000);
}

TEST(LanternCalibration, ResistanceModeConvertsTheReferencesAndNoAnswerKeepsTheOldLine) {
    LanternRig rig;
    auto owned = std::make_unique<CLanternCalDlg>(rig.platform, 0, &kApplication);
    CLanternCalDlg& dialog = *owned;
    Prepare(dialog, "100", "120", "1");
    dialog.slopeText = "1.5";
    dialog.interceptText = "-3";
    dialog.OnResistanceMode();
    EXPECT_EQ(dialog.unitLabel, "Ohms");
    EXPECT_EQ(dialog.mode, 0);
    rig.Readings(1000, 2);
    dialog.OnStoreLow();
    rig.Readings(2000, 2);
    rig.ui.QueueAnswer(mb::kIdNo);
    dialog.OnStoreHigh();
    double slope = 0, intercept = 0;
    std::string why;
    ASSERT_TRUE(dialog.ComputeLine(slope, intercept, why));
    const double lowCelsius = 100 * 2.6402690825 - 264.3936703072;
    EXPECT_NEAR(lowCelsius, -0.3668, 1e-4);
    const double highCelsius = 120 * 2.6402690825 - 264.3936703072;
    EXPECT_DOUBLE_EQ(slope, (highCelsius - lowCelsius) / 1000.0);
    // Declined: the line and the flag stay as they were, and OK writes nothing.
    EXPECT_EQ(dialog.slopeText, "1.5");
    EXPECT_FALSE(dialog.accepted);
    EXPECT_EQ(dialog.OnOK(), "");
    EXPECT_TRUE(rig.SlotWrites().empty());
    // Closed without OK (Cancel): the mode and values are written all the same.
    owned.reset();
    CINIFileSupport store(rig.ui, nullptr, 1, &kApplication);
    EXPECT_EQ(store.ReadInt(CLanternCalDlg::kSection, "Temperature", -1), 0);
    EXPECT_DOUBLE_EQ(store.ReadDouble(CLanternCalDlg::kSection, "HighValue", -1), 120.0);
    EXPECT_EQ(store.ReadInt(CLanternCalDlg::kSection, "Averages", -1), 1);
}

TEST(LanternCalibration, EqualReadingsAndZeroAveragesAreRefusedInsteadOfDividingByZero) {
    LanternRig rig;
    CLanternCalDlg dialog(rig.platform, 0, &kApplication);
    Prepare(dialog, "25", "65", "0");
    const std::size_t before = rig.driver.Requests().size();
    EXPECT_NE(dialog.OnStoreLow(), "");
    EXPECT_NE(dialog.OnGetTemperature(), "");
    EXPECT_EQ(rig.driver.Requests().size(), before) << "nothing reaches the device";
    dialog.averagesText = "2";
    rig.Readings(1500, 3);
    dialog.OnStoreLow();
    rig.Readings(1500, 3);
    const std::string why = dialog.OnStoreHigh();
    EXPECT_NE(why.find("both 1500 counts"), std::string::npos) << why;
    EXPECT_TRUE(rig.ui.Messages().empty()) << "no question for a line that cannot be drawn";
    for (const char* text : {"abc", "1e999", ""}) {
        dialog.lowText = text;
        EXPECT_NE(dialog.TakeFields(), "") << text;
    }
}

TEST(LanternCalibration, GetTemperatureUsesTheDialogsLineAndTheLightControlsSendTheirStates) {
    LanternRig rig;
    CLanternCalDlg dialog(rig.platform, 0, &kApplication);
    Prepare(dialog, "25", "65", "2");
    dialog.slopeText = "0.02";
    dialog.interceptText = "5";
    // AverageAccessoryTemperature reads slots 1 and 2 and two readings first;
    // the scripted device answers them with the same readings.
    rig.Readings(2000, 12);
    EXPECT_EQ(dialog.OnGetTemperature(), "");
    EXPECT_EQ(dialog.statusText, "45.00 \u00B0C");
    rig.driver.Clear();
    dialog.lightOn = true;
    dialog.OnLightOn();
    dialog.daText = "1234";
    EXPECT_EQ(dialog.OnSetDa(), "");
    dialog.daText = "70000";
    EXPECT_NE(dialog.OnSetDa(), "");
    EXPECT_EQ(rig.driver.BulkWrites().size(), 2u);
}

TEST(LanternCalibration, AReadingThatFailsStoresNothingAndAFailedWriteKeepsTheDialogOpen) {
    LanternRig rig;
    CLanternCalDlg dialog(rig.platform, 0, &kApplication);
    Prepare(dialog, "25", "65", "4");
    rig.Readings(1000, 5);
    ASSERT_EQ(dialog.OnStoreLow(), "");
    // The third averaged reading of the high side fails: averaging its 0 in
    // would draw the line through a reading that never happened.
    rig.Readings(3000, 3);
    int reads = 0;
    rig.driver.failWhen = [&](const ScriptedDriver::Request& request) {
        return request.code == ioctl::kBulkRead && ++reads == 4;
    };
    const std::string why = dialog.OnStoreHigh();
    EXPECT_NE(why.find("Reading 4 of the Lantern's temperature failed"), std::string::npos) << why;
    EXPECT_FALSE(dialog.highStored);
    EXPECT_FALSE(dialog.accepted);
    for (const auto& message : rig.ui.Messages()) EXPECT_NE(message.title, "Calibration Complete");
    EXPECT_NE(dialog.OnGetTemperature(), "") << "the same for Get Temperature";

    // A calibration the Lantern does not take keeps OK's dialog open, and
    // nothing is committed after the failed write.
    rig.driver.failWhen = nullptr;
    rig.Readings(3000, 5);
    rig.ui.QueueAnswer(mb::kIdYes);
    ASSERT_EQ(dialog.OnStoreHigh(), "");
    ASSERT_TRUE(dialog.accepted);
    rig.ui.QueueAnswer(mb::kIdYes);
    rig.driver.FailNext(ioctl::kBulkWrite);
    EXPECT_NE(dialog.OnOK(), "");
    EXPECT_EQ(rig.SlotWrites().size(), 1u) << "the failed write of slot 1 only: no slot 2, no commit";
}

}  // namespace
}  // namespace spindle::test
