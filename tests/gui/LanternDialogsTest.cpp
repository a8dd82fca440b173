// "Calibrate Lantern" and "Extra Kestrel Settings" in the window, on the demo
// bench's Kestrel 0 and its Lantern: the widgets show what the models hold,
// the typed texts reach the handlers, a refusal is shown and keeps the dialog
// open, and the averaging loops let the dialog repaint. The models' rules
// and numbers are tested with the core.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QRadioButton>
#include <QTextStream>
#include <algorithm>
#include <set>

#include "DemoWindow.h"
#include "LanternDialogs.h"
#include "platform/CommandIds.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle::gui {
namespace {

constexpr int kKestrel = 0;

// Counts the paint events of a progress bar and the values it showed.
struct PaintCounter : QObject {
    explicit PaintCounter(QProgressBar* bar) : bar(bar) { bar->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == bar && event->type() == QEvent::Paint) {
            values.insert(bar->value());
            ++paints;
        }
        return false;
    }
    QProgressBar* bar;
    int paints = 0;
    std::set<int> values;
};

class LanternDialogsTest : public DemoWindowTest {
protected:
    LanternDialogsTest() : DemoWindowTest(true) { answerToQuestions = mb::kIdYes; }
    // The frame's command on the device with this label.
    void Run(const char* label, int command) {
        ASSERT_TRUE(window_->SelectTreeItem(QString::fromLatin1(label)));
        window_->Frame().OnCommand(command);
        EXPECT_EQ(dialogsShown_.size(), 1u);
    }
    // The slot writes (0x06) the Kestrel received.
    std::vector<std::vector<std::uint8_t>> SlotWrites() {
        std::vector<std::vector<std::uint8_t>> writes;
        for (const auto& command : Sent(kKestrel)) {
            if (!command.empty() && command[0] == 0x06) writes.push_back(command);
        }
        return writes;
    }
};

// Calibrate on the Lantern starts from the line the Lantern holds.
TEST_F(LanternDialogsTest, CalibrateLanternShowsItsModelAndRepaintsTheProgressWhileItReads) {
    onDialog = [&](CDialogModel& dialogModel, QDialog& dialog) {
        auto& model = static_cast<CLanternCalDlg&>(dialogModel);
        EXPECT_EQ(TextOf(dialog, lantern::kIntercept), QStringLiteral("5.000000e+00"));
        EXPECT_TRUE(Find<QRadioButton>(dialog, lantern::kTemperature)->isChecked());
        // The mode buttons take the typed texts first and show them again.
        Type(dialog, lantern::kLow, "100");
        Click(dialog, lantern::kResistance);
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kHighUnit)->text(), QStringLiteral("Ohms"));
        EXPECT_EQ(TextOf(dialog, lantern::kLow), QStringLiteral("100.000000"));
        Click(dialog, lantern::kTemperature);
        EXPECT_EQ(model.mode, 1);
        // The light controls send the boxes' new states and the typed level.
        Click(dialog, lantern::kLightOn);
        Type(dialog, lantern::kDa, "1234");
        Click(dialog, lantern::kSetDa);
        EXPECT_TRUE(bench_->Device(kKestrel)->Lantern()->lightOn && bench_->Device(kKestrel)->Lantern()->dac == 1234);
        // A refusal is shown and the typed text stays.
        Type(dialog, lantern::kAverages, "0");
        Click(dialog, lantern::kStoreLow);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(!messages_.empty() && messages_[0].startsWith(QStringLiteral("Calibrate Lantern: ")));
        EXPECT_EQ(TextOf(dialog, lantern::kAverages), QStringLiteral("0"));
        messages_.clear();

        // Each reading moves the bar and repaints it.
        auto* bar = Find<QProgressBar>(dialog, lantern::kProgress);
        PaintCounter counter(bar);
        Type(dialog, lantern::kAverages, "4");
        Type(dialog, lantern::kLow, "25");
        Type(dialog, lantern::kHigh, "65");
        Click(dialog, lantern::kStoreLow);
        EXPECT_TRUE(model.lowStored);
        EXPECT_GE(counter.paints, 3);
        EXPECT_TRUE(counter.values.count(3)) << "the last reading was shown";
        EXPECT_EQ(bar->value(), 0) << "the bar is reset afterwards";
        // The second side: the line is asked about (Yes) and shown.
        bench_->Device(kKestrel)->SetLanternTemperatureRaw(3000);
        Click(dialog, lantern::kStoreHigh);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(TextOf(dialog, lantern::kSlope), QStringLiteral("2.00000000e-02"));
        Click(dialog, lantern::kGetTemperature);
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kStatus)->text(), QStringLiteral("65.00 \u00B0C"));
        // OK asks to store (Yes) and closes.
        messages_.clear();
        ClickBox(dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        return mb::kIdOk;
    };
    Run("Lantern - LAN00231", cmd::kCalibrate);
    const auto sent = Sent(kKestrel);
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [](const auto& c) { return !c.empty() && c[0] == 0x27; }))
        << "OK committed the line";
}

TEST_F(LanternDialogsTest, ExtraKestrelShowsTheSlotsLoadsACalFileAndOkWritesWhatIsShown) {
    const QString path = configDir_.filePath(QStringLiteral("sensor.cal"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Text));
        QTextStream(&file) << "[Setup]\nInt Period ms=120\nSecond Order=1\nT Compensation=0\nRatio=1\n";
    }
    window_->Ui().fileHook = [&](FileChoice& choice) {
        choice.chosenPath = path.toStdString();
        return true;
    };
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        // The demo's slots 17-19: a field of each kind.
        EXPECT_EQ(TextOf(dialog, lantern::kReadingPeriod), QStringLiteral("300"));
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kLampOnBetween)->isChecked());
        EXPECT_EQ(Find<QComboBox>(dialog, lantern::kMeasurementType)->currentText(), QStringLiteral("Oxygen"));
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 1)->isChecked()) << "flags 0x12";
        bench_->Device(kKestrel)->ClearLogs();
        Type(dialog, lantern::kAnalogFullScale, "0");
        ClickBox(dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(dialog.isVisible()) << "a refused OK keeps the dialog open";

        Type(dialog, lantern::kAnalogFullScale, "4095");
        Type(dialog, lantern::kReadingPeriod, "60");  // typed before the load, kept by it
        Click(dialog, lantern::kLoadCalFile);
        EXPECT_EQ(TextOf(dialog, lantern::kReadingPeriod), QStringLiteral("60"));
        EXPECT_EQ(TextOf(dialog, lantern::kIntegrationTime), QStringLiteral("120"));
        EXPECT_FALSE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 1)->isChecked()) << "T Compensation=0";
        EXPECT_TRUE(SlotWrites().empty()) << "nothing reaches the device before OK";
        ClickBox(dialog, QDialogButtonBox::Ok);
        return mb::kIdOk;
    };
    Run("[0] Kestrel - KES10234", cmd::kExtraKestrel);
    EXPECT_EQ(messages_.size(), 1u);
    const auto writes = SlotWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0][3], 60);
    EXPECT_EQ(writes[0][5], 120);
    EXPECT_EQ(writes[2][3], CExtraKestrelDlg::kPulseLed | CExtraKestrelDlg::kSecondOrder | CExtraKestrelDlg::kRatio |
                                CExtraKestrelDlg::kDarkCorrect);
}

}  // namespace
}  // namespace spindle::gui
