#pragma once
#include <QTimer>
#include <QWidget>

#include "Dialogs.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace spindle {
class CCondorPsocPage;
class CFalconExtrasPage;
class CIbisPsocPage;
class CPsocPage;
class CSpecPropSheet;
}  // namespace spindle

namespace spindle::gui {

class CMoviePicture;

// Control ids of the PSOC pages' widgets (their object names through
// ControlName), one range per page.
namespace psoc {
// Falcon Extras.
inline constexpr int kFalconFirmware = 1100, kReadAdc = 1101, kReadAdcContinuous = 1102, kRawAdcCounts = 1103,
                     kAdcVolts = 1104, kRawDacCounts = 1105, kDacVolts = 1106, kWriteDac = 1107,
                     kBoardTemperature = 1108, kReadTemp = 1109;
// Condor PSOC; the six quantity radio buttons follow kGetTemperature in order.
inline constexpr int kCondorFirmware = 1200, kSetpoint = 1201, kSpinUp = 1202, kSpinDown = 1203, kCondorTec = 1204,
                     kGetTemperature = 1210, kTemperatureCelsius = 1220, kAdcResult = 1221, kSetpointCounts = 1222,
                     kPidControlValue = 1223, kSetpointCelsius = 1224, kTecOverCurrent = 1230, kFanFail = 1231,
                     kRailHigh = 1232, kRailLow = 1233;
// Ibis PSOC; the seven read-only texts follow kSystemStatus in the order
// System Status, Board Temp, Current Temperature(C), PID Error, Current
// Setpoint(C), PID Control Value, Version.
inline constexpr int kIbisNote = 1300, kIbisSetpoint = 1301, kIbisSet = 1302, kIbisTec = 1303, kIbisFan = 1304,
                     kIbisPicture = 1305, kSystemStatus = 1310;
// The polling pages' status line.
inline constexpr int kPollState = 1099;
}  // namespace psoc

// One PSOC page as a widget. The page starts (OnInitDialog) when it is first
// shown; after every handler, and every poll tick, the widgets are filled
// again from the model. Timers run on the event loop: the poll timer while
// the model asks for it, the Falcon's continuous reading while it lasts.
class CPsocPageWidget : public QWidget {
    Q_OBJECT
public:
    CPsocPageWidget(CPsocPage& page, QWidget* parent);
    CPsocPage& Page() { return page_; }
    bool Started() const { return started_; }
    QTimer& PollTimer() { return pollTimer_; }
    // One tick of the poll timer (its timeout slot).
    void PollTick();
    // Stops the timers, as closing the page does.
    virtual void StopTimers();

protected:
    void showEvent(QShowEvent* event) override;
    // Before the start: what the page needs from the window.
    virtual void BeforeStart() {}
    // Widgets from the model.
    virtual void Refill() = 0;
    // After a handler: refill and follow the model's timers.
    void Changed();
    // Shows a handler's refusal (non-empty) to the operator; true if there was one.
    bool Refused(const std::string& reason);
    // The status line of a polling page, kept by Changed().
    QLabel* MakePollState();

private:
    CPsocPage& page_;
    QTimer pollTimer_;
    QLabel* pollState_ = nullptr;
    bool started_ = false;
};

class CFalconPageWidget final : public CPsocPageWidget {
    Q_OBJECT
public:
    CFalconPageWidget(CFalconExtrasPage& page, QWidget* parent);
    QTimer& ContinuousTimer() { return continuous_; }
    void ContinuousTick();
    void StopTimers() override;

protected:
    void Refill() override;

private:
    CFalconExtrasPage& model_;
    QTimer continuous_;
    QGroupBox* group_;
    QLabel* firmware_;
    QPushButton* readContinuous_;
    QLineEdit* rawAdc_;
    QLineEdit* adcVolts_;
    QLineEdit* rawDac_;
    QLineEdit* dacVolts_;
    QLineEdit* temperature_;
};

class CCondorPageWidget final : public CPsocPageWidget {
    Q_OBJECT
public:
    CCondorPageWidget(CCondorPsocPage& page, QWidget* parent);

protected:
    void Refill() override;

private:
    void Step(int delta);

    CCondorPsocPage& model_;
    QLabel* firmware_;
    QLineEdit* setpoint_;
    QCheckBox* tec_;
    QButtonGroup* quantities_;
    QLineEdit* values_[5];
    QCheckBox* status_[4];
};

class CIbisPageWidget final : public CPsocPageWidget {
    Q_OBJECT
public:
    CIbisPageWidget(CIbisPsocPage& page, QWidget* parent);
    CMoviePicture& Picture() { return *picture_; }

protected:
    void BeforeStart() override;
    void Refill() override;

private:
    CIbisPsocPage& model_;
    QLineEdit* setpoint_;
    QCheckBox* tec_;
    QCheckBox* fan_;
    QLineEdit* texts_[7];
    CMoviePicture* picture_;
};

// The page widget for a model (null for a page this window cannot draw).
CPsocPageWidget* MakePsocPageWidget(CPsocPage& page, QWidget* parent);

// "PSOC Diags.": the sheet as a tab widget with its one page, the sheet's
// caption as window title, OK and Cancel that close it and end every page.
class CPsocSheetDialog final : public CModelDialog {
    Q_OBJECT
public:
    CPsocSheetDialog(CSpecPropSheet& sheet, QWidget* parent);
    void Store() override {}
    void done(int result) override;
    QTabWidget* Tabs() { return tabs_; }
    CPsocPageWidget* PageWidget(int index);

private:
    CSpecPropSheet& sheet_;
    QTabWidget* tabs_;
};

// "Ibis Extra": the Ibis page on its own. Enter and Escape do not close it;
// only the window's close box does, through the page's close command.
class CIbisPsocDialog final : public CModelDialog {
    Q_OBJECT
public:
    CIbisPsocDialog(CIbisPsocPage& page, QWidget* parent);
    void Store() override {}
    void reject() override;
    CIbisPageWidget& PageWidget() { return *widget_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CIbisPsocPage& page_;
    CIbisPageWidget* widget_;
};

}  // namespace spindle::gui
