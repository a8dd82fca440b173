// "Calibrate Lantern" and "Extra Kestrel Settings" in the window, on the demo
// bench's Kestrel 0 and its Lantern: the widgets must show what the models
// hold, the typed texts must reach the handlers, refusals must keep the
// device untouched and the dialog open, and the averaging loops must let the
// dialog repaint. The models' own logic is tested with the core.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>
#include <set>
#include <utility>

#include "Dialogs.h"
#include "LanternDialogs.h"
#include "MainWindow.h"
#include "device/ScopedDevice.h"
#include "platform/CommandIds.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "sim/SimDevice.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle::gui {
namespace {

constexpr int kKestrel = 0;

// Counts the paint events of one widget and the values it showed.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QProgressBar* bar) : bar_(bar) { bar->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == bar_ && event->type() == QEvent::Paint) {
            ++paints;
            values.insert(bar_->value());
        }
        return false;
    }
    int paints = 0;
    std::set<int> values;

private:
    QProgressBar* bar_;
};

class LanternDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configDir_.isValid());
        qputenv("SPINDLE_CONFIG_DIR", configDir_.path().toLocal8Bit());
        bench_ = sim::LoadBench("demo");
        WindowOptions options;
        options.simulatedBench = true;
        window_ = std::make_unique<CMainWindow>(*bench_, clock_, trace_, options);
        CQtUserInterface& ui = window_->Ui();
        ui.SetManualTimers(true);
        // Questions are answered Yes; every box is recorded.
        ui.messageHook = [this](const QString& text, const QString& title, unsigned style) {
            messages_.push_back(title + QStringLiteral(": ") + text);
            return (style & 0x0F) == mb::kYesNo ? mb::kIdYes : mb::kIdOk;
        };
        ui.dialogHook = [this](CDialogModel& model, QDialog& dialog) {
            dialog.show();
            const int answer = onDialog ? onDialog(model, dialog) : mb::kIdCancel;
            result_ = dialog.result();
            return answer;
        };
        window_->Start();
        window_->show();
        platform_ = std::make_unique<Platform>(Platform{*bench_, clock_, trace_, window_->Ui()});
        bench_->Device(kKestrel)->ClearLogs();
    }

    std::vector<std::vector<std::uint8_t>> Sent() { return bench_->Device(kKestrel)->BulkCommands(); }

    template <typename Widget>
    static Widget* Find(QWidget& dialog, int controlId) {
        auto* widget = dialog.findChild<Widget*>(ControlName(controlId));
        EXPECT_NE(widget, nullptr) << controlId;
        return widget;
    }
    static QString TextOf(QWidget& dialog, int controlId) { return Find<QLineEdit>(dialog, controlId)->text(); }
    static void Type(QWidget& dialog, int controlId, const char* text) {
        Find<QLineEdit>(dialog, controlId)->setText(QString::fromUtf8(text));
    }
    static void Click(QWidget& dialog, int controlId) { Find<QAbstractButton>(dialog, controlId)->click(); }
    static void ClickOk(QDialog& dialog) {
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }
    static bool HasText(QWidget& dialog, const QString& text) {
        for (auto* label : dialog.findChildren<QLabel*>()) {
            if (label->text() == text) return true;
        }
        for (auto* button : dialog.findChildren<QAbstractButton*>()) {
            if (button->text() == text) return true;
        }
        return false;
    }

    std::function<int(CDialogModel&, QDialog&)> onDialog;
    std::vector<QString> messages_;
    int result_ = -1;
    QTemporaryDir configDir_;
    std::unique_ptr<sim::SimBench> bench_;
    VirtualClock clock_;
    NullDebugTrace trace_;
    std::unique_ptr<CMainWindow> window_;
    std::unique_ptr<Platform> platform_;
};

TEST_F(LanternDialogsTest, CalibrateLanternShowsItsModelAndTheModeButtonsSwapTheUnits) {
    CLanternCalDlg model(*platform_, kKestrel, &window_->Frame());
    model.slopeText = "2.000000e-02";
    model.interceptText = "5.000000e+00";
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        EXPECT_TRUE(static_cast<CLanternCalDialog&>(dialog).Started());
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Calibrate Lantern"));
        // The settings' defaults, the line handed in, the °C labels.
        EXPECT_TRUE(Find<QRadioButton>(dialog, lantern::kTemperature)->isChecked());
        EXPECT_EQ(TextOf(dialog, lantern::kLow), QStringLiteral("0.000000"));
        EXPECT_EQ(TextOf(dialog, lantern::kHigh), QStringLiteral("100.000000"));
        EXPECT_EQ(TextOf(dialog, lantern::kAverages), QStringLiteral("25"));
        EXPECT_EQ(TextOf(dialog, lantern::kDa), QStringLiteral("32000"));
        EXPECT_EQ(TextOf(dialog, lantern::kSlope), QStringLiteral("2.000000e-02"));
        EXPECT_EQ(TextOf(dialog, lantern::kIntercept), QStringLiteral("5.000000e+00"));
        EXPECT_TRUE(Find<QLineEdit>(dialog, lantern::kSlope)->isReadOnly());
        EXPECT_TRUE(Find<QLineEdit>(dialog, lantern::kIntercept)->isReadOnly());
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kLowUnit)->text(), QStringLiteral("\u00B0C"));
        for (const char* text : {"Temperature", "Resistance", "Low Value", "High Value", "Store", "Averages",
                                 "D/A Value", "Slope", "Intercept", "Get Temperature", "Light On", "Light Pulsed",
                                 "Set D/A"}) {
            EXPECT_TRUE(HasText(dialog, QString::fromLatin1(text))) << text;
        }

        // The mode buttons take the typed texts first and show them again.
        Type(dialog, lantern::kLow, "100");
        Click(dialog, lantern::kResistance);
        EXPECT_EQ(model.mode, 0);
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kLowUnit)->text(), QStringLiteral("Ohms"));
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kHighUnit)->text(), QStringLiteral("Ohms"));
        EXPECT_EQ(TextOf(dialog, lantern::kLow), QStringLiteral("100.000000"));
        Click(dialog, lantern::kTemperature);
        EXPECT_EQ(model.mode, 1);
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kHighUnit)->text(), QStringLiteral("\u00B0C"));

        // The light controls send the boxes' new states and the typed level.
        Click(dialog, lantern::kLightOn);
        Type(dialog, lantern::kDa, "1234");
        Click(dialog, lantern::kSetDa);
        const auto lantern = bench_->Device(kKestrel)->Lantern();
        EXPECT_TRUE(lantern && lantern->lightOn);
        EXPECT_EQ(lantern ? lantern->dac : 0, 1234);
        EXPECT_TRUE(messages_.empty());
        return mb::kIdCancel;
    };
    EXPECT_EQ(window_->Ui().DoModal(model), mb::kIdCancel);
}

TEST_F(LanternDialogsTest, StoresRefuseZeroAveragesAndRepaintTheProgressWhileTheyRead) {
    CLanternCalDlg model(*platform_, kKestrel, &window_->Frame());
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        // No average of no readings: a box, and nothing reaches the device.
        Type(dialog, lantern::kAverages, "0");
        Click(dialog, lantern::kStoreLow);
        EXPECT_TRUE(Sent().empty());
        EXPECT_FALSE(model.lowStored);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(!messages_.empty() && messages_[0].startsWith(QStringLiteral("Calibrate Lantern: ")));
        EXPECT_EQ(TextOf(dialog, lantern::kAverages), QStringLiteral("0")) << "the typed text stays";
        messages_.clear();

        // Each reading moves the bar and repaints it.
        auto* bar = Find<QProgressBar>(dialog, lantern::kProgress);
        PaintCounter counter(bar);
        EXPECT_TRUE(static_cast<bool>(model.onProgress));
        Type(dialog, lantern::kAverages, "4");
        Type(dialog, lantern::kLow, "25");
        Type(dialog, lantern::kHigh, "65");
        Click(dialog, lantern::kStoreLow);
        EXPECT_TRUE(model.lowStored);
        EXPECT_EQ(model.lowCounts, 1000u);
        EXPECT_GE(counter.paints, 3);
        EXPECT_TRUE(counter.values.count(3)) << "the last reading was shown";
        EXPECT_EQ(bar->value(), 0) << "the bar is reset afterwards";
        EXPECT_TRUE(messages_.empty()) << "one side asks nothing";

        // The second side: the line is asked about (Yes) and shown.
        bench_->Device(kKestrel)->SetLanternTemperatureRaw(3000);
        Click(dialog, lantern::kStoreHigh);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(!messages_.empty() && messages_[0].startsWith(QStringLiteral("Calibration Complete: ")));
        EXPECT_EQ(TextOf(dialog, lantern::kSlope), QStringLiteral("2.00000000e-02"));
        EXPECT_EQ(TextOf(dialog, lantern::kIntercept), QStringLiteral("5.00000000e+00"));

        // Get Temperature shows the reading through the dialog's own line.
        Click(dialog, lantern::kGetTemperature);
        EXPECT_EQ(Find<QLabel>(dialog, lantern::kStatus)->text(), QStringLiteral("65.00 \u00B0C"));

        // OK asks to store (Yes) and closes.
        messages_.clear();
        ClickOk(dialog);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        return dialog.result() == QDialog::Accepted ? mb::kIdOk : mb::kIdCancel;
    };
    EXPECT_EQ(window_->Ui().DoModal(model), mb::kIdOk);
    EXPECT_EQ(sim::TextOfSlot(bench_->Device(kKestrel)->CommittedAccessorySlot(1)), "2.000000e-02");
    EXPECT_EQ(sim::TextOfSlot(bench_->Device(kKestrel)->CommittedAccessorySlot(2)), "5.000000e+00");
    EXPECT_FALSE(static_cast<bool>(model.onProgress)) << "the dialog is gone; the model must not call it";
}

class ExtraKestrelTest : public LanternDialogsTest {
protected:
    void RunDialog(CExtraKestrelDlg& model) {
        ScopedDevice device(*platform_, kKestrel);
        model.SetDevice(device.Handle());
        window_->Ui().DoModal(model);
    }
    // The slot writes (0x06) the bench received.
    std::vector<std::vector<std::uint8_t>> SlotWrites() {
        std::vector<std::vector<std::uint8_t>> writes;
        for (const auto& command : Sent()) {
            if (!command.empty() && command[0] == 0x06) writes.push_back(command);
        }
        return writes;
    }
};

TEST_F(ExtraKestrelTest, ShowsTheSlotsAndAZeroFullScaleKeepsItOpenWithABox) {
    CExtraKestrelDlg model(*platform_);
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Extra Kestrel Settings"));
        // Demo slots 17 (01 2C 00 64 00 0A 02 01 05 01 00 10 00 00 01), 18
        // (00 C8 01 F4 02 58 00 00) and 19 (05 12 00 0A).
        const std::pair<int, const char*> texts[] = {
            {lantern::kReadingPeriod, "300"},   {lantern::kIntegrationTime, "100"}, {lantern::kScansToAverage, "10"},
            {lantern::kPixelBoxcar, "2"},       {lantern::kWarmupPeriod, "5"},      {lantern::kAnalogFullScale, "4095"},
            {lantern::kElectricalDark, "200"},  {lantern::kFluorescencePeak, "500"}, {lantern::kReferencePeak, "600"},
            {lantern::kPixel3, "0"},            {lantern::kOxygenScansToAdd, "5"},  {lantern::kDarkEveryNScans, "10"}};
        for (const auto& [id, text] : texts) EXPECT_EQ(TextOf(dialog, id), QString::fromLatin1(text)) << id;
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kLampOnBetween)->isChecked());
        auto* type = Find<QComboBox>(dialog, lantern::kMeasurementType);
        auto* header = Find<QComboBox>(dialog, lantern::kPrintOutHeader);
        EXPECT_EQ(type->currentText(), QStringLiteral("Oxygen"));
        EXPECT_EQ(header->currentText(), QStringLiteral("All Values"));
        QStringList types, headers;
        for (int i = 0; i < type->count(); ++i) types << type->itemText(i);
        for (int i = 0; i < header->count(); ++i) headers << header->itemText(i);
        EXPECT_EQ(types.join(QLatin1Char('|')), QStringLiteral("None|Oxygen|Absobance|Transmission|Flourescence"));
        EXPECT_EQ(headers.join(QLatin1Char('|')),
                  QStringLiteral("Answer Only|All Values|Answer with Header|All Values with Header"));
        const char* flagTexts[6] = {"Pulse LED", "Temperature Compensate", "2nd Order", "Ratio", "Dark Correct",
                                    "Acquire Temperature"};
        const bool flagsSet[6] = {false, true, false, false, true, false};  // 0x12
        for (int i = 0; i < 6; ++i) {
            auto* box = Find<QCheckBox>(dialog, lantern::kFirstFlag + i);
            EXPECT_EQ(box->text(), QString::fromLatin1(flagTexts[i]));
            EXPECT_EQ(box->isChecked(), flagsSet[i]) << flagTexts[i];
        }
        EXPECT_TRUE(HasText(dialog, QStringLiteral("Analog Out Full\nScale Value")));

        bench_->Device(kKestrel)->ClearLogs();
        Type(dialog, lantern::kAnalogFullScale, "0");
        ClickOk(dialog);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(dialog.isVisible()) << "a refused OK keeps the dialog open";
        EXPECT_TRUE(SlotWrites().empty());
        // Cancel then writes nothing either.
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        return mb::kIdCancel;
    };
    RunDialog(model);
    EXPECT_TRUE(SlotWrites().empty());
}

TEST_F(ExtraKestrelTest, LoadFillsTheFieldsFromACalFileAndOkWritesThem) {
    const QString path = configDir_.filePath(QStringLiteral("sensor.cal"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Text));
        QTextStream(&file) << "[Setup]\nInt Period ms=120\nAverage=3\nBoxcar=4\nAnalysis [pixel]=700\n"
                              "Reference [pixel]=800\nSecond Order=1\nT Compensation=0\nRatio=1\n"
                              "Io Const=1.5\n";
    }
    std::string offered;
    window_->Ui().fileHook = [&](FileChoice& choice) {
        offered = choice.title;
        choice.chosenPath = path.toStdString();
        return true;
    };
    CExtraKestrelDlg model(*platform_);
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        bench_->Device(kKestrel)->ClearLogs();
        Type(dialog, lantern::kReadingPeriod, "60");  // typed before the load, kept by it
        Click(dialog, lantern::kLoadCalFile);
        EXPECT_EQ(offered, "Select Quillby Zephyr Calibration File");
        EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
        EXPECT_EQ(TextOf(dialog, lantern::kReadingPeriod), QStringLiteral("60"));
        EXPECT_EQ(TextOf(dialog, lantern::kIntegrationTime), QStringLiteral("120"));
        EXPECT_EQ(TextOf(dialog, lantern::kScansToAverage), QStringLiteral("1"));
        EXPECT_EQ(TextOf(dialog, lantern::kPixelBoxcar), QStringLiteral("4"));
        EXPECT_EQ(TextOf(dialog, lantern::kElectricalDark), QStringLiteral("0"));
        EXPECT_EQ(TextOf(dialog, lantern::kFluorescencePeak), QStringLiteral("700"));
        EXPECT_EQ(TextOf(dialog, lantern::kReferencePeak), QStringLiteral("800"));
        EXPECT_EQ(TextOf(dialog, lantern::kOxygenScansToAdd), QStringLiteral("3"));
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 0)->isChecked()) << "Pulse LED";
        EXPECT_FALSE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 1)->isChecked()) << "Temperature Compensate";
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 2)->isChecked()) << "2nd Order";
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 3)->isChecked()) << "Ratio";
        EXPECT_TRUE(Find<QCheckBox>(dialog, lantern::kFirstFlag + 4)->isChecked()) << "Dark Correct kept";
        EXPECT_TRUE(SlotWrites().empty()) << "nothing reaches the device before OK";

        ClickOk(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        return mb::kIdOk;
    };
    RunDialog(model);
    const auto writes = SlotWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0][1], 17);
    EXPECT_EQ(writes[0][2], 0x00);
    EXPECT_EQ(writes[0][3], 60);
    EXPECT_EQ(writes[0][5], 120);
    EXPECT_EQ(writes[2][1], 19);
    EXPECT_EQ(writes[2][3], CExtraKestrelDlg::kPulseLed | CExtraKestrelDlg::kSecondOrder | CExtraKestrelDlg::kRatio |
                                CExtraKestrelDlg::kDarkCorrect);
}

// The frame's commands build these dialogs through the window: Calibrate
// on the Lantern starts from the line the Lantern holds, and Extra Kestrel
// reads the Kestrel's slots.
TEST_F(LanternDialogsTest, TheFrameCommandsOpenTheDialogsOnTheDemoKestrelAndItsLantern) {
    ASSERT_TRUE(window_->SelectTreeItem(QStringLiteral("Lantern - LAN00231")));
    int opened = 0;
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        ++opened;
        EXPECT_NE(dynamic_cast<CLanternCalDialog*>(&dialog), nullptr);
        EXPECT_EQ(TextOf(dialog, lantern::kSlope), QStringLiteral("2.000000e-02"));
        EXPECT_EQ(TextOf(dialog, lantern::kIntercept), QStringLiteral("5.000000e+00"));
        return mb::kIdCancel;
    };
    window_->Frame().OnCommand(cmd::kCalibrate);
    EXPECT_EQ(opened, 1);

    ASSERT_TRUE(window_->SelectTreeItem(QStringLiteral("[0] Kestrel - KES10234")));
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        ++opened;
        EXPECT_NE(dynamic_cast<CExtraKestrelDialog*>(&dialog), nullptr);
        EXPECT_EQ(TextOf(dialog, lantern::kReadingPeriod), QStringLiteral("300"));
        return mb::kIdCancel;
    };
    window_->Frame().OnCommand(cmd::kExtraKestrel);
    EXPECT_EQ(opened, 2);
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace spindle::gui
