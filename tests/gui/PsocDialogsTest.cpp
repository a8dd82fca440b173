// The PSOC diagnostics sheet and Ibis Extra in the window: the pages' widgets
// must show what the models hold, the operator's gestures must reach the
// handlers, and the timers must drive the polling from the event loop. The
// pages' own logic is tested with the core.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <memory>

#include "Dialogs.h"
#include "MainWindow.h"
#include "PsocDialogs.h"
#include "platform/CommandIds.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "sim/SimDevice.h"
#include "tools/PsocSheet.h"
#include "widgets/MoviePicture.h"

namespace spindle::gui {
namespace {

constexpr int kFalcon = 6, kCondor = 8, kGannet = 9;

class PsocDialogsTest : public ::testing::Test {
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
        ui.messageHook = [this](const QString& text, const QString& title, unsigned) {
            messages_.push_back(title + QStringLiteral(": ") + text);
            return mb::kIdOk;
        };
        // The dialog is shown (which starts its page) and handed to the test.
        ui.dialogHook = [this](CDialogModel& model, QDialog& dialog) {
            ++dialogs_;
            dialog.show();
            return onDialog ? onDialog(model, dialog) : mb::kIdCancel;
        };
        window_->Start();
        window_->show();
    }

    // PSOC Diags. (or Ibis Extra) on the device with this index.
    void Run(int index, int command = cmd::kPsocDiags) {
        ASSERT_TRUE(window_->SelectTreeItem(LabelOf(index)));
        bench_->Device(index)->ClearLogs();
        window_->Frame().OnCommand(command);
    }

    QString LabelOf(int index) {
        const QString prefix = QStringLiteral("[%1] ").arg(index);
        for (const TreeItem& item : window_->Frame().Tree().Items()) {
            const QString text = QString::fromStdString(item.text);
            if (text.startsWith(prefix)) return text;
        }
        return {};
    }

    std::vector<std::vector<std::uint8_t>> Sent(int index) { return bench_->Device(index)->BulkCommands(); }

    template <typename Widget>
    static Widget* Find(QWidget& dialog, int controlId) {
        auto* widget = dialog.findChild<Widget*>(ControlName(controlId));
        EXPECT_NE(widget, nullptr) << controlId;
        return widget;
    }
    static QString TextOf(QWidget& dialog, int controlId) { return Find<QLineEdit>(dialog, controlId)->text(); }

    // The sheet with its one tab, checked and its page widget returned.
    static CPsocPageWidget* OneTab(QDialog& dialog, const char* caption) {
        auto* sheet = dynamic_cast<CPsocSheetDialog*>(&dialog);
        EXPECT_NE(sheet, nullptr);
        if (sheet == nullptr) return nullptr;
        EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Spindle"));
        EXPECT_EQ(sheet->Tabs()->count(), 1);
        EXPECT_EQ(sheet->Tabs()->tabText(0), QString::fromLatin1(caption));
        CPsocPageWidget* page = sheet->PageWidget(0);
        EXPECT_TRUE(page != nullptr && page->Started());
        return page;
    }

    std::function<int(CDialogModel&, QDialog&)> onDialog;
    std::vector<QString> messages_;
    int dialogs_ = 0;
    QTemporaryDir configDir_;
    std::unique_ptr<sim::SimBench> bench_;
    VirtualClock clock_;
    NullDebugTrace trace_;
    std::unique_ptr<CMainWindow> window_;
};

TEST_F(PsocDialogsTest, FalconPageStartsAndItsButtonsReachTheDevice) {
    bool checked = false;
    onDialog = [&](CDialogModel& model, QDialog& dialog) {
        CPsocPageWidget* page = OneTab(dialog, "Falcon Extras");
        if (page == nullptr) return mb::kIdCancel;
        auto& falcon = static_cast<CSpecPropSheet&>(model).Falcon();
        EXPECT_EQ(&page->Page(), &falcon);
        // The start: version, one ADC reading (0x1000), the DAC at 512, the temperature.
        EXPECT_TRUE(Find<QLabel>(dialog, psoc::kFalconFirmware)->text().endsWith(QStringLiteral("\n ADC 13-Bit DAC 9-Bit")));
        EXPECT_EQ(TextOf(dialog, psoc::kRawAdcCounts), QStringLiteral("0X1000"));
        EXPECT_EQ(TextOf(dialog, psoc::kAdcVolts), QStringLiteral("2.650"));
        EXPECT_EQ(TextOf(dialog, psoc::kRawDacCounts), QStringLiteral("0X200"));
        EXPECT_EQ(TextOf(dialog, psoc::kDacVolts), QStringLiteral("5.10"));
        EXPECT_EQ(TextOf(dialog, psoc::kBoardTemperature), QString::fromStdString(falcon.boardTemperature));
        EXPECT_NE(falcon.boardTemperature, "-999.000");

        // Write DAC takes the typed count; its volts replace whatever was typed.
        bench_->Device(kFalcon)->ClearLogs();
        Find<QLineEdit>(dialog, psoc::kRawDacCounts)->setText(QStringLiteral("1FF"));
        Find<QLineEdit>(dialog, psoc::kDacVolts)->setText(QStringLiteral("typed"));
        Find<QPushButton>(dialog, psoc::kWriteDac)->click();
        EXPECT_EQ(TextOf(dialog, psoc::kDacVolts), QStringLiteral("5.090039"));
        EXPECT_EQ(bench_->Device(kFalcon)->Psoc()->dac, 0x01FF);
        // A count that is not hexadecimal is refused in a box and sends nothing.
        bench_->Device(kFalcon)->ClearLogs();
        Find<QLineEdit>(dialog, psoc::kRawDacCounts)->setText(QStringLiteral("12G"));
        Find<QPushButton>(dialog, psoc::kWriteDac)->click();
        EXPECT_TRUE(Sent(kFalcon).empty());
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(TextOf(dialog, psoc::kDacVolts), QStringLiteral("5.090039"));

        // Continuous reading runs on a timer while the box is pressed in.
        auto& widget = static_cast<CFalconPageWidget&>(*page);
        sim::PsocModel chip = *bench_->Device(kFalcon)->Psoc();
        chip.adc = 0x0800;
        bench_->Device(kFalcon)->SetPsoc(chip);
        Find<QPushButton>(dialog, psoc::kReadAdcContinuous)->click();
        EXPECT_TRUE(Find<QPushButton>(dialog, psoc::kReadAdcContinuous)->isChecked());
        Find<QPushButton>(dialog, psoc::kReadAdc)->click();
        EXPECT_EQ(TextOf(dialog, psoc::kRawAdcCounts), QStringLiteral("0X800"));
        EXPECT_TRUE(widget.ContinuousTimer().isActive());
        chip.adc = 0x0400;
        bench_->Device(kFalcon)->SetPsoc(chip);
        widget.ContinuousTick();
        EXPECT_EQ(TextOf(dialog, psoc::kRawAdcCounts), QStringLiteral("0X400"));
        // Released: the next tick reads nothing and the timer stops.
        Find<QPushButton>(dialog, psoc::kReadAdcContinuous)->click();
        bench_->Device(kFalcon)->ClearLogs();
        widget.ContinuousTick();
        EXPECT_FALSE(widget.ContinuousTimer().isActive());
        EXPECT_TRUE(Sent(kFalcon).empty());

        Find<QPushButton>(dialog, psoc::kReadTemp)->click();
        EXPECT_FALSE(TextOf(dialog, psoc::kBoardTemperature).isEmpty());
        // The sheet's Cancel closes it, and ends a continuous reading with it.
        Find<QPushButton>(dialog, psoc::kReadAdcContinuous)->click();
        Find<QPushButton>(dialog, psoc::kReadAdc)->click();
        EXPECT_TRUE(widget.ContinuousTimer().isActive());
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        EXPECT_FALSE(widget.ContinuousTimer().isActive());
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        checked = true;
        return mb::kIdCancel;
    };
    Run(kFalcon);
    EXPECT_TRUE(checked);
    EXPECT_EQ(dialogs_, 1);
}

TEST_F(PsocDialogsTest, CondorPagePollsFromItsTimerUntilTheDeviceFails) {
    bool checked = false;
    onDialog = [&](CDialogModel& model, QDialog& dialog) {
        CPsocPageWidget* page = OneTab(dialog, "Condor PSOC");
        if (page == nullptr) return mb::kIdCancel;
        auto& condor = static_cast<CSpecPropSheet&>(model).Condor();
        EXPECT_TRUE(Find<QLabel>(dialog, psoc::kCondorFirmware)->text().endsWith(
            QStringLiteral("\n PSOC PID control and Information.")));
        EXPECT_EQ(TextOf(dialog, psoc::kSetpoint), QStringLiteral("-10.00"));
        EXPECT_EQ(TextOf(dialog, psoc::kTemperatureCelsius), QStringLiteral("-10"));
        EXPECT_TRUE(Find<QRadioButton>(dialog, psoc::kGetTemperature)->isChecked());
        // What the start did not read shows as not read, not as 0 or "no".
        EXPECT_TRUE(TextOf(dialog, psoc::kSetpointCelsius).isEmpty());
        EXPECT_EQ(Find<QLineEdit>(dialog, psoc::kSetpointCelsius)->placeholderText(), QStringLiteral("not read"));
        EXPECT_EQ(Find<QCheckBox>(dialog, psoc::kFanFail)->checkState(), Qt::PartiallyChecked);
        EXPECT_TRUE(page->PollTimer().isActive());
        EXPECT_EQ(page->PollTimer().interval(), static_cast<int>(condor.TickPeriodMs()));
        EXPECT_EQ(Find<QLabel>(dialog, psoc::kPollState)->text(), QStringLiteral("Polling"));

        // The event loop drives the timer.
        const std::uint32_t before = condor.pollCounter;
        QTest::qWait(60);
        EXPECT_GT(condor.pollCounter, before);

        // A radio button chooses what the next poll reads: the status bits.
        bench_->Device(kCondor)->SetPsocRegister(0x20, 0x0049);
        Find<QRadioButton>(dialog, psoc::kGetTemperature + CCondorPsocPage::kSystemStatus)->click();
        EXPECT_EQ(condor.selectedQuantity, CCondorPsocPage::kSystemStatus);
        page->PollTimer().stop();
        condor.pollCounter = 0;
        page->PollTick();
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kTecOverCurrent)->isChecked());
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kFanFail)->isChecked());
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kRailHigh)->isChecked());
        EXPECT_FALSE(Find<QCheckBox>(dialog, psoc::kRailLow)->isChecked());

        // The spin writes the position before its step; typing only delays the poll.
        Find<QToolButton>(dialog, psoc::kSpinUp)->click();
        EXPECT_EQ(TextOf(dialog, psoc::kSetpoint), QStringLiteral("-7.00"));
        EXPECT_EQ(static_cast<std::int16_t>(bench_->Device(kCondor)->PsocRegister(0x80)), -70);
        Find<QToolButton>(dialog, psoc::kSpinDown)->click();
        EXPECT_EQ(TextOf(dialog, psoc::kSetpoint), QStringLiteral("-6.00"));
        bench_->Device(kCondor)->ClearLogs();
        condor.pollCounter = 40;
        QTest::keyClicks(Find<QLineEdit>(dialog, psoc::kSetpoint), QStringLiteral("5"));
        EXPECT_EQ(condor.pollCounter, 1u);
        EXPECT_EQ(condor.setpointText, "-6.005");
        EXPECT_TRUE(Sent(kCondor).empty());

        // TEC ON/OFF follows the model's state.
        Find<QCheckBox>(dialog, psoc::kCondorTec)->click();
        EXPECT_EQ(condor.tecState, 1);
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kCondorTec)->isChecked());
        EXPECT_EQ(bench_->Device(kCondor)->PsocRegister(0x10), 1);

        // Unplugged while polling: the warning, then no timer and the state shown.
        page->PollTimer().start();
        bench_->RemoveDevice(kCondor);
        condor.pollCounter = 0;
        page->PollTick();
        EXPECT_FALSE(messages_.empty());
        EXPECT_FALSE(page->PollTimer().isActive());
        EXPECT_TRUE(condor.PollingStopped());
        EXPECT_EQ(Find<QLabel>(dialog, psoc::kPollState)->text(), QString::fromStdString(condor.PollStateText()));
        EXPECT_NE(condor.PollStateText(), "Polling");

        // OK still closes the sheet.
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        checked = true;
        return mb::kIdOk;
    };
    Run(kCondor);
    EXPECT_TRUE(checked);
}

TEST_F(PsocDialogsTest, IbisSheetPlaysTheFanWhileItRunsAndRefusesASetpointOutOfRange) {
    bool checked = false;
    onDialog = [&](CDialogModel& model, QDialog& dialog) {
        CPsocPageWidget* page = OneTab(dialog, "Ibis PSOC");
        if (page == nullptr) return mb::kIdCancel;
        auto& ibis = static_cast<CSpecPropSheet&>(model).Ibis();
        auto& widget = static_cast<CIbisPageWidget&>(*page);
        EXPECT_EQ(Find<QLabel>(dialog, psoc::kIbisNote)->text(), QString::fromLatin1(CIbisPsocPage::kNote));
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kIbisTec)->isChecked());
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kIbisFan)->isChecked());
        EXPECT_EQ(TextOf(dialog, psoc::kSystemStatus + 1), QStringLiteral("NA"));
        EXPECT_EQ(TextOf(dialog, psoc::kSystemStatus + 2), QString::fromStdString(ibis.currentTemperature));
        EXPECT_FALSE(ibis.currentTemperature.empty());
        EXPECT_TRUE(page->PollTimer().isActive());

        // The fan picture loads from the program's resources and runs with the fan.
        EXPECT_TRUE(ibis.PictureLoaded());
        EXPECT_TRUE(widget.Picture().IsPlaying());
        Find<QCheckBox>(dialog, psoc::kIbisFan)->click();
        EXPECT_FALSE(widget.Picture().IsPlaying());
        EXPECT_FALSE(bench_->Device(kGannet)->Tec()->fanOn);
        Find<QCheckBox>(dialog, psoc::kIbisFan)->click();
        EXPECT_TRUE(widget.Picture().IsPlaying());
        EXPECT_TRUE(bench_->Device(kGannet)->Tec()->fanOn);
        Find<QCheckBox>(dialog, psoc::kIbisTec)->click();
        EXPECT_FALSE(bench_->Device(kGannet)->Tec()->tecOn);

        // What the operator types survives the poll ticks; 30 degrees is
        // then refused in a box and nothing is sent; 12.5 goes out.
        bench_->Device(kGannet)->ClearLogs();
        QLineEdit* setpoint = Find<QLineEdit>(dialog, psoc::kIbisSetpoint);
        setpoint->selectAll();
        QTest::keyClicks(setpoint, QStringLiteral("30"));
        page->PollTick();
        EXPECT_EQ(setpoint->text(), QStringLiteral("30"));
        Find<QPushButton>(dialog, psoc::kIbisSet)->click();
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(setpoint->text(), QStringLiteral("30"));
        EXPECT_TRUE(Sent(kGannet).empty());
        Find<QLineEdit>(dialog, psoc::kIbisSetpoint)->setText(QStringLiteral("12.5"));
        Find<QPushButton>(dialog, psoc::kIbisSet)->click();
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(Sent(kGannet), (std::vector<std::vector<std::uint8_t>>{{0x3E, 0x00, 0x00, 0x7D, 0x00, 0x00}}));

        // The 500th tick polls the status into the texts.
        sim::TecModel tec = *bench_->Device(kGannet)->Tec();
        tec.temperature = -200;
        bench_->Device(kGannet)->SetTec(tec);
        page->PollTimer().stop();
        ibis.pollCounter = 500;
        page->PollTick();
        EXPECT_EQ(TextOf(dialog, psoc::kSystemStatus + 2), QStringLiteral("-20.00"));
        checked = true;
        return mb::kIdOk;
    };
    Run(kGannet);
    EXPECT_TRUE(checked);
}

TEST_F(PsocDialogsTest, IbisExtraClosesOnlyByItsCloseBox) {
    bool checked = false;
    onDialog = [&](CDialogModel& model, QDialog& dialog) {
        auto* standalone = dynamic_cast<CIbisPsocDialog*>(&dialog);
        EXPECT_NE(standalone, nullptr);
        if (standalone == nullptr) return mb::kIdCancel;
        auto& ibis = static_cast<CIbisPsocPage&>(model);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Ibis PSOC"));
        EXPECT_TRUE(standalone->PageWidget().Started());
        EXPECT_TRUE(ibis.PollTimerRunning());
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(&dialog, key);
            EXPECT_TRUE(dialog.isVisible()) << key;
        }
        QTest::keyClick(Find<QLineEdit>(dialog, psoc::kIbisSetpoint), Qt::Key_Return);
        QTest::keyClick(Find<QLineEdit>(dialog, psoc::kIbisSetpoint), Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        dialog.close();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(ibis.PollTimerRunning());
        EXPECT_FALSE(standalone->PageWidget().PollTimer().isActive());
        checked = true;
        return mb::kIdOk;
    };
    Run(kGannet, cmd::kIbisExtra);
    EXPECT_TRUE(checked);
}

// The artwork is decoded by Qt as drawn: 8 frames of 48x48, hub, blade and
// ring in their colours (a fault in the script's encoder garbles them).
TEST(FanPicture, ResourceDecodesIntoEightFramesOfTheFan) {
    CMoviePicture picture;
    EXPECT_FALSE(picture.Load("GIF", 164));
    ASSERT_TRUE(picture.Load("GIF", CIbisPsocPage::kPictureId));
    QMovie& movie = picture.Movie();
    EXPECT_EQ(movie.frameCount(), 8);
    for (int frame = 0; frame < 8; ++frame) {
        ASSERT_TRUE(movie.jumpToFrame(frame));
        const QImage image = movie.currentImage();
        ASSERT_EQ(image.size(), QSize(48, 48));
        EXPECT_EQ(image.pixelColor(24, 24), QColor(0x20, 0x20, 0x20)) << frame;  // hub
        EXPECT_EQ(image.pixelColor(0, 0), QColor(0xF0, 0xF0, 0xF0)) << frame;    // background
        EXPECT_EQ(image.pixelColor(24, 46), QColor(0x50, 0x5A, 0x64)) << frame;  // ring
        EXPECT_EQ(image.pixelColor(46, 24), QColor(0x50, 0x5A, 0x64)) << frame;
    }
    picture.Play();
    EXPECT_TRUE(picture.IsPlaying());
    picture.Stop();
    EXPECT_FALSE(picture.IsPlaying());
}

}  // namespace
}  // namespace spindle::gui
