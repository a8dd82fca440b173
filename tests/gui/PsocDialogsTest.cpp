// The PSOC diagnostics sheet and Ibis Extra in the window: the pages' widgets
// show what the models hold, the operator's gestures reach the handlers, a
// refusal is shown and sends nothing, and the timers drive the polling from
// the event loop. The pages' rules and numbers are tested with the core.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "DemoWindow.h"
#include "PsocDialogs.h"
#include "platform/CommandIds.h"
#include "tools/PsocSheet.h"
#include "widgets/MoviePicture.h"

namespace spindle::gui {
namespace {

constexpr int kFalcon = 6, kCondor = 8, kGannet = 9;

class PsocDialogsTest : public DemoWindowTest {
protected:
    PsocDialogsTest() : DemoWindowTest(true) {}

    // PSOC Diags. (or Ibis Extra) on the device with this index; `check`
    // runs on the dialog while it is up.
    void Run(int index, const std::function<void(CDialogModel&, QDialog&)>& check, int command = cmd::kPsocDiags) {
        for (const TreeItem& item : window_->Frame().Tree().Items()) {
            if (item.text.rfind("[" + std::to_string(index) + "] ", 0) == 0) window_->SelectTreeItem(QString::fromStdString(item.text));
        }
        bench_->Device(index)->ClearLogs();
        onDialog = [&](CDialogModel& model, QDialog& dialog) {
            check(model, dialog);
            return mb::kIdOk;
        };
        window_->Frame().OnCommand(command);
        EXPECT_EQ(dialogsShown_.size(), 1u);
    }

    // The sheet's one tab, started, and its page widget.
    static CPsocPageWidget& OneTab(QDialog& dialog, const char* caption) {
        auto& sheet = dynamic_cast<CPsocSheetDialog&>(dialog);
        EXPECT_EQ(sheet.Tabs()->count(), 1);
        EXPECT_EQ(sheet.Tabs()->tabText(0), QString::fromLatin1(caption));
        EXPECT_TRUE(sheet.PageWidget(0)->Started());
        return *sheet.PageWidget(0);
    }
};

TEST_F(PsocDialogsTest, FalconPageShowsItsReadingsAndCancelEndsContinuousReading) {
    Run(kFalcon, [&](CDialogModel& model, QDialog& dialog) {
        auto& widget = static_cast<CFalconPageWidget&>(OneTab(dialog, "Falcon Extras"));
        auto& falcon = static_cast<CSpecPropSheet&>(model).Falcon();
        EXPECT_EQ(TextOf(dialog, psoc::kRawAdcCounts), QString::fromStdString(falcon.rawAdcCounts));
        // Write DAC takes the typed count; its volts replace what was typed.
        Type(dialog, psoc::kRawDacCounts, "1FF");
        Type(dialog, psoc::kDacVolts, "typed");
        Click(dialog, psoc::kWriteDac);
        EXPECT_EQ(TextOf(dialog, psoc::kDacVolts), QString::fromStdString(falcon.dacVolts));
        EXPECT_EQ(bench_->Device(kFalcon)->Psoc()->dac, 0x01FF);

        // Continuous reading runs on a timer while the box is pressed in.
        Click(dialog, psoc::kReadAdcContinuous);
        Click(dialog, psoc::kReadAdc);
        EXPECT_TRUE(widget.ContinuousTimer().isActive());
        sim::PsocModel chip = *bench_->Device(kFalcon)->Psoc();
        chip.adc = 0x0400;
        bench_->Device(kFalcon)->SetPsoc(chip);
        widget.ContinuousTick();
        EXPECT_EQ(TextOf(dialog, psoc::kRawAdcCounts), QStringLiteral("0X400")) << "each tick reads and shows";
        // The sheet's Cancel ends a continuous reading with it.
        ClickBox(dialog, QDialogButtonBox::Cancel);
        EXPECT_FALSE(widget.ContinuousTimer().isActive() || dialog.isVisible());
    });
}

TEST_F(PsocDialogsTest, CondorPagePollsFromItsTimerUntilTheDeviceFails) {
    Run(kCondor, [&](CDialogModel& model, QDialog& dialog) {
        CPsocPageWidget& page = OneTab(dialog, "Condor PSOC");
        auto& condor = static_cast<CSpecPropSheet&>(model).Condor();
        EXPECT_EQ(TextOf(dialog, psoc::kSetpoint), QStringLiteral("-10.00"));
        EXPECT_TRUE(Find<QRadioButton>(dialog, psoc::kGetTemperature)->isChecked());
        // What the start did not read shows as not read, not as 0 or "no".
        EXPECT_TRUE(TextOf(dialog, psoc::kSetpointCelsius).isEmpty());
        EXPECT_EQ(Find(dialog, psoc::kSetpointCelsius)->placeholderText(), QStringLiteral("not read"));
        EXPECT_EQ(Find<QCheckBox>(dialog, psoc::kFanFail)->checkState(), Qt::PartiallyChecked);
        EXPECT_EQ(page.PollTimer().interval(), static_cast<int>(condor.TickPeriodMs()));
        EXPECT_EQ(Find<QLabel>(dialog, psoc::kPollState)->text(), QStringLiteral("Polling"));
        const std::uint32_t before = condor.pollCounter;
        for (int i = 0; i < 400 && condor.pollCounter == before; ++i) QTest::qWait(5);
        EXPECT_GT(condor.pollCounter, before) << "the event loop drives the timer";

        // A radio button chooses what the next poll reads.
        Click(dialog, psoc::kGetTemperature + CCondorPsocPage::kSystemStatus);
        EXPECT_EQ(condor.selectedQuantity, CCondorPsocPage::kSystemStatus);

        // The arrows step the setpoint; what is typed reaches the model.
        Find<QToolButton>(dialog, psoc::kSpinUp)->click();
        QTest::keyClicks(Find(dialog, psoc::kSetpoint), QStringLiteral("5"));
        EXPECT_EQ(condor.setpointText, "-7.005");

        // Unplugged while polling: the warning, then no timer and the state shown.
        bench_->RemoveDevice(kCondor);
        condor.pollCounter = 0;
        page.PollTick();
        EXPECT_FALSE(messages_.empty());
        EXPECT_FALSE(page.PollTimer().isActive());
        EXPECT_EQ(Find<QLabel>(dialog, psoc::kPollState)->text(), QString::fromStdString(condor.PollStateText()));
        ClickBox(dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    });
}

TEST_F(PsocDialogsTest, IbisSheetPlaysTheFanWhileItRunsAndKeepsATypedSetpoint) {
    Run(kGannet, [&](CDialogModel& model, QDialog& dialog) {
        auto& widget = static_cast<CIbisPageWidget&>(OneTab(dialog, "Ibis PSOC"));
        auto& ibis = static_cast<CSpecPropSheet&>(model).Ibis();
        EXPECT_TRUE(Find<QCheckBox>(dialog, psoc::kIbisFan)->isChecked());
        EXPECT_EQ(TextOf(dialog, psoc::kSystemStatus + 2), QString::fromStdString(ibis.currentTemperature));
        EXPECT_TRUE(widget.PollTimer().isActive());
        // The fan picture loads from the program's resources and runs with the fan.
        EXPECT_TRUE(widget.Picture().IsPlaying());
        Click(dialog, psoc::kIbisFan);
        EXPECT_FALSE(widget.Picture().IsPlaying());
        EXPECT_FALSE(bench_->Device(kGannet)->Tec()->fanOn);

        // What the operator types survives the poll ticks; a refused
        // setpoint is shown in a box and sends nothing; 12.5 goes out.
        bench_->Device(kGannet)->ClearLogs();
        QLineEdit* setpoint = Find(dialog, psoc::kIbisSetpoint);
        setpoint->selectAll();
        QTest::keyClicks(setpoint, QStringLiteral("30"));
        widget.PollTick();
        EXPECT_EQ(setpoint->text(), QStringLiteral("30"));
        Click(dialog, psoc::kIbisSet);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_TRUE(Sent(kGannet).empty());
        setpoint->setText(QStringLiteral("12.5"));
        Click(dialog, psoc::kIbisSet);
        EXPECT_EQ(Sent(kGannet), (std::vector<std::vector<std::uint8_t>>{{0x3E, 0x00, 0x00, 0x7D, 0x00, 0x00}}));
    });
}

TEST_F(PsocDialogsTest, IbisExtraClosesOnlyByItsCloseBox) {
    Run(kGannet, [&](CDialogModel& model, QDialog& dialog) {
        auto& standalone = dynamic_cast<CIbisPsocDialog&>(dialog);
        auto& ibis = static_cast<CIbisPsocPage&>(model);
        EXPECT_TRUE(ibis.PollTimerRunning());
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(&dialog, key);
            QTest::keyClick(Find(dialog, psoc::kIbisSetpoint), key);
        }
        dialog.reject();  // what a platform's own Escape handling calls
        EXPECT_TRUE(dialog.isVisible());
        dialog.close();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(ibis.PollTimerRunning());
        EXPECT_FALSE(standalone.PageWidget().PollTimer().isActive());
    }, cmd::kIbisExtra);
}

}  // namespace
}  // namespace spindle::gui
