// The window on the demo bench for the GUI suites: Qt's offscreen platform,
// manual timers, every dialog shown and handed to `onDialog` (Cancel without
// one), every message box recorded and answered OK (or `answerToQuestions`
// for a yes/no question); the bench is reached through `gate_`, which can hold jobs.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "Dialogs.h"
#include "support/GateDriver.h"
#include "MainWindow.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "sim/SimDevice.h"

namespace spindle::gui {

class DemoWindowTest : public ::testing::Test {
protected:
    explicit DemoWindowTest(bool startAtOnce = false) : startAtOnce_(startAtOnce) {}
    void SetUp() override {
        ASSERT_TRUE(configDir_.isValid());
        qputenv("SPINDLE_CONFIG_DIR", configDir_.path().toLocal8Bit());
        bench_ = sim::LoadBench("demo");
        gate_ = std::make_unique<test::GateDriver>(*bench_);
        if (startAtOnce_) StartWindow();
    }

    // A new window (the one before it goes), started and shown as it would be.
    CMainWindow& StartWindow() {
        WindowOptions options;
        options.simulatedBench = true;
        window_ = std::make_unique<CMainWindow>(*gate_, clock_, trace_, options);
        CQtUserInterface& ui = window_->Ui();
        ui.SetManualTimers(true);
        ui.messageHook = [this](const QString& text, const QString& title, unsigned style) {
            messages_.push_back(title + QStringLiteral(": ") + text);
            return (style & 0x0F) == mb::kYesNo ? answerToQuestions : mb::kIdOk;
        };
        ui.dialogHook = [this](CDialogModel& model, QDialog& dialog) {
            dialogsShown_.push_back(QString::fromStdString(model.Title()));
            dialog.show();
            return onDialog ? onDialog(model, dialog) : mb::kIdCancel;
        };
        window_->Start();
        window_->StartMaximized() ? window_->showMaximized() : window_->show();
        return *window_;
    }

    std::vector<std::vector<std::uint8_t>> Sent(int index) { return bench_->Device(index)->BulkCommands(); }

    template <typename Widget = QLineEdit>
    static Widget* Find(QWidget& dialog, int controlId) {
        auto* widget = dialog.findChild<Widget*>(ControlName(controlId));
        EXPECT_NE(widget, nullptr) << controlId;
        return widget;
    }
    static QString TextOf(QWidget& dialog, int controlId) { return Find(dialog, controlId)->text(); }
    static void Type(QWidget& dialog, int controlId, const char* text) {
        Find(dialog, controlId)->setText(QString::fromUtf8(text));
    }
    static void Click(QWidget& dialog, int controlId) { Find<QAbstractButton>(dialog, controlId)->click(); }
    static void ClickBox(QDialog& dialog, QDialogButtonBox::StandardButton which) {
        dialog.findChild<QDialogButtonBox*>()->button(which)->click();
    }

    std::function<int(CDialogModel&, QDialog&)> onDialog;
    int answerToQuestions = mb::kIdOk;
    std::vector<QString> messages_;
    std::vector<QString> dialogsShown_;
    QTemporaryDir configDir_;
    std::unique_ptr<sim::SimBench> bench_;
    std::unique_ptr<test::GateDriver> gate_;
    VirtualClock clock_;
    NullDebugTrace trace_;
    std::unique_ptr<CMainWindow> window_;
    bool startAtOnce_;
};

}  // namespace spindle::gui
