#pragma once
#include <functional>
#include <string>

#include "Dialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;

namespace spindle {
class CExtraKestrelDlg;
class CLanternCalDlg;
}  // namespace spindle

namespace spindle::gui {

// Control ids of the two dialogs' widgets (object names through ControlName).
namespace lantern {
// Calibrate Lantern.
inline constexpr int kTemperature = 1400, kResistance = 1401, kLow = 1402, kLowUnit = 1403, kStoreLow = 1404,
                     kHigh = 1405, kHighUnit = 1406, kStoreHigh = 1407, kAverages = 1408, kDa = 1409,
                     kSlope = 1410, kIntercept = 1411, kGetTemperature = 1412, kLightOn = 1413,
                     kLightPulsed = 1414, kSetDa = 1415, kProgress = 1416, kStatus = 1417;
// Extra Kestrel Settings.
inline constexpr int kReadingPeriod = 1500, kIntegrationTime = 1501, kScansToAverage = 1502, kPixelBoxcar = 1503,
                     kLampOnBetween = 1504, kWarmupPeriod = 1505, kMeasurementType = 1506,
                     kAnalogFullScale = 1507, kPrintOutHeader = 1508, kElectricalDark = 1509,
                     kFluorescencePeak = 1510, kReferencePeak = 1511, kPixel3 = 1512, kOxygenScansToAdd = 1513,
                     kDarkEveryNScans = 1514, kLoadCalFile = 1515;
// The six flag check boxes, in the order of their bits (Pulse LED first).
inline constexpr int kFirstFlag = 1520;
}  // namespace lantern

// "Calibrate Lantern" (134). The model starts (OnInitDialog) when the dialog
// is first shown. Before every handler the typed texts and box states go
// into the model, and afterwards the widgets are filled from it again; a
// handler's refusal is shown in a box and the dialog stays open. The
// averaging loops run on this thread, so while they last the dialog only
// repaints: the progress bar moves, input is not taken.
class CLanternCalDialog final : public CModelDialog {
    Q_OBJECT
public:
    CLanternCalDialog(CLanternCalDlg& model, QWidget* parent);
    ~CLanternCalDialog() override;
    void Store() override;
    // OK: the model's OnOK; the dialog closes only when it refuses nothing.
    void accept() override;
    bool Started() const { return started_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refill();
    void Run(const std::function<std::string()>& handler);
    void ShowProgress();

    CLanternCalDlg& model_;
    bool started_ = false;
    QRadioButton* temperature_;
    QRadioButton* resistance_;
    QLineEdit* low_;
    QLineEdit* high_;
    QLabel* lowUnit_;
    QLabel* highUnit_;
    QLineEdit* averages_;
    QLineEdit* da_;
    QLineEdit* slope_;
    QLineEdit* intercept_;
    QCheckBox* lightOn_;
    QCheckBox* lightPulsed_;
    QProgressBar* progress_;
    QLabel* status_;
};

// "Extra Kestrel Settings" (168). The three slots are read when the dialog
// is first shown; OK writes them (and closes only when the model accepts the
// fields); Cancel writes nothing. "Load Values from Quillby Cal File" fills
// fields from a .cal file, which reach the device only with OK.
class CExtraKestrelDialog final : public CModelDialog {
    Q_OBJECT
public:
    CExtraKestrelDialog(CExtraKestrelDlg& model, QWidget* parent);
    void Store() override;
    void accept() override;
    bool Started() const { return started_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Refill();

    CExtraKestrelDlg& model_;
    bool started_ = false;
    QLineEdit* readingPeriod_;
    QLineEdit* integrationTime_;
    QLineEdit* scansToAverage_;
    QLineEdit* pixelBoxcar_;
    QCheckBox* lampOnBetween_;
    QLineEdit* warmupPeriod_;
    QComboBox* measurementType_;
    QLineEdit* analogFullScale_;
    QComboBox* printOutHeader_;
    QLineEdit* electricalDark_;
    QLineEdit* fluorescencePeak_;
    QLineEdit* referencePeak_;
    QLineEdit* pixel3_;
    QLineEdit* oxygenScansToAdd_;
    QLineEdit* darkEveryNScans_;
    QCheckBox* flags_[6];
};

// Shows a handler's refusal (non-empty) over `dialog`, through the window's
// message boxes when the dialog belongs to one; true if there was one.
bool ShowRefusal(QWidget* dialog, const std::string& title, const std::string& reason);

}  // namespace spindle::gui
