#include "LanternDialogs.h"
#include "DialogParts.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "MainWindow.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"

namespace spindle::gui {

namespace {

QLineEdit* Box(int controlId, QWidget* parent, int width = 90) {
    auto* box = Named(new QLineEdit(parent), controlId);
    box->setMinimumWidth(width);
    return box;
}

}  // namespace

bool ShowRefusal(QWidget* dialog, const std::string& title, const std::string& reason) {
    if (reason.empty()) return false;
    for (QWidget* widget = dialog; widget != nullptr; widget = widget->parentWidget()) {
        if (auto* window = qobject_cast<CMainWindow*>(widget)) {
            window->Ui().MessageBox(reason, title, mb::kIconWarning);
            return true;
        }
    }
    QMessageBox::warning(dialog, Q(title), Q(reason));
    return true;
}

// --- Calibrate Lantern ----------------------------------------------------------

CLanternCalDialog::CLanternCalDialog(CLanternCalDlg& model, QWidget* parent)
    : CModelDialog(parent),
      model_(model),
      temperature_(Named(new QRadioButton(QStringLiteral("Temperature"), this), lantern::kTemperature)),
      resistance_(Named(new QRadioButton(QStringLiteral("Resistance"), this), lantern::kResistance)),
      low_(Box(lantern::kLow, this)),
      high_(Box(lantern::kHigh, this)),
      lowUnit_(Named(new QLabel(this), lantern::kLowUnit)),
      highUnit_(Named(new QLabel(this), lantern::kHighUnit)),
      averages_(Box(lantern::kAverages, this)),
      da_(Box(lantern::kDa, this)),
      slope_(Box(lantern::kSlope, this, 130)),
      intercept_(Box(lantern::kIntercept, this, 130)),
      lightOn_(Named(new QCheckBox(QStringLiteral("Light On"), this), lantern::kLightOn)),
      lightPulsed_(Named(new QCheckBox(QStringLiteral("Light Pulsed"), this), lantern::kLightPulsed)),
      progress_(Named(new QProgressBar(this), lantern::kProgress)),
      status_(Named(new QLabel(this), lantern::kStatus)) {
    auto* layout = new QVBoxLayout(this);

    auto* modes = new QGroupBox(QStringLiteral("Calibration"), this);
    auto* modesLayout = new QHBoxLayout(modes);
    modesLayout->addWidget(temperature_);
    modesLayout->addWidget(resistance_);
    modesLayout->addStretch(1);
    layout->addWidget(modes);

    auto* grid = new QGridLayout;
    auto* storeLow = Named(new QPushButton(QStringLiteral("Store"), this), lantern::kStoreLow);
    auto* storeHigh = Named(new QPushButton(QStringLiteral("Store"), this), lantern::kStoreHigh);
    grid->addWidget(new QLabel(QStringLiteral("Low Value"), this), 0, 0);
    grid->addWidget(low_, 0, 1);
    grid->addWidget(lowUnit_, 0, 2);
    grid->addWidget(storeLow, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("High Value"), this), 1, 0);
    grid->addWidget(high_, 1, 1);
    grid->addWidget(highUnit_, 1, 2);
    grid->addWidget(storeHigh, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Averages"), this), 2, 0);
    grid->addWidget(averages_, 2, 1);
    slope_->setReadOnly(true);
    intercept_->setReadOnly(true);
    grid->addWidget(new QLabel(QStringLiteral("Slope"), this), 3, 0);
    grid->addWidget(slope_, 3, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Intercept"), this), 4, 0);
    grid->addWidget(intercept_, 4, 1, 1, 2);
    auto* getTemperature =
        Named(new QPushButton(QStringLiteral("Get Temperature"), this), lantern::kGetTemperature);
    grid->addWidget(getTemperature, 4, 3);
    // The unit labels are as wide as their longer text, so the grid does not
    // move when the mode changes.
    const int unitWidth = lowUnit_->fontMetrics().horizontalAdvance(QStringLiteral("Ohms")) + 6;
    lowUnit_->setMinimumWidth(unitWidth);
    highUnit_->setMinimumWidth(unitWidth);
    layout->addLayout(grid);

    auto* light = new QGroupBox(QStringLiteral("Light"), this);
    auto* lightLayout = new QGridLayout(light);
    auto* setDa = Named(new QPushButton(QStringLiteral("Set D/A"), this), lantern::kSetDa);
    lightLayout->addWidget(lightOn_, 0, 0);
    lightLayout->addWidget(lightPulsed_, 0, 1, 1, 2);
    lightLayout->addWidget(new QLabel(QStringLiteral("D/A Value"), light), 1, 0);
    lightLayout->addWidget(da_, 1, 1);
    lightLayout->addWidget(setDa, 1, 2);
    layout->addWidget(light);

    progress_->setTextVisible(false);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    layout->addWidget(progress_);
    status_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    status_->setMinimumHeight(status_->fontMetrics().height() + 6);
    layout->addWidget(status_);
    layout->addWidget(OkCancel(this));

    // A focused reference, averages or D/A box has its whole text selected.
    for (QLineEdit* edit : {low_, high_, averages_, da_}) edit->installEventFilter(this);

    connect(temperature_, &QRadioButton::clicked, this, [this] {
        Run([this] {
            model_.OnTemperatureMode();
            return std::string();
        });
    });
    connect(resistance_, &QRadioButton::clicked, this, [this] {
        Run([this] {
            model_.OnResistanceMode();
            return std::string();
        });
    });
    connect(storeLow, &QPushButton::clicked, this, [this] { Run([this] { return model_.OnStoreLow(); }); });
    connect(storeHigh, &QPushButton::clicked, this, [this] { Run([this] { return model_.OnStoreHigh(); }); });
    connect(getTemperature, &QPushButton::clicked, this,
            [this] { Run([this] { return model_.OnGetTemperature(); }); });
    connect(lightOn_, &QCheckBox::clicked, this, [this] {
        Run([this] { return model_.OnLightOn(); });
    });
    connect(lightPulsed_, &QCheckBox::clicked, this, [this] {
        Run([this] { return model_.OnLightPulsed(); });
    });
    connect(setDa, &QPushButton::clicked, this, [this] { Run([this] { return model_.OnSetDa(); }); });

    // Each reading of an averaging loop moves the bar and lets the dialog
    // repaint; user input waits, as the loop holds the window's thread.
    model_.onProgress = [this] { ShowProgress(); };
    Refill();
}

// The model outlives the dialog: it must not call back into a gone widget.
CLanternCalDialog::~CLanternCalDialog() { model_.onProgress = nullptr; }

void CLanternCalDialog::showEvent(QShowEvent* event) {
    CModelDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    model_.OnInitDialog();
    Refill();
    if (!testAttribute(Qt::WA_Resized)) resize(sizeHint());
}

bool CLanternCalDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // After the click that gave the focus has placed the cursor.
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    }
    return CModelDialog::eventFilter(watched, event);
}

void CLanternCalDialog::Store() {
    model_.lowText = Text(low_);
    model_.highText = Text(high_);
    model_.averagesText = Text(averages_);
    model_.daText = Text(da_);
    model_.slopeText = Text(slope_);
    model_.interceptText = Text(intercept_);
    model_.lightOn = lightOn_->isChecked();
    model_.lightPulsed = lightPulsed_->isChecked();
}

void CLanternCalDialog::Run(const std::function<std::string()>& handler) {
    Store();
    const std::string refusal = handler();
    Refill();
    ShowRefusal(this, model_.Title(), refusal);
}

void CLanternCalDialog::accept() {
    Store();
    const std::string refusal = model_.OnOK();
    Refill();
    if (ShowRefusal(this, model_.Title(), refusal)) return;
    QDialog::accept();
}

void CLanternCalDialog::ShowProgress() {
    progress_->setRange(0, model_.progressMaximum > 0 ? model_.progressMaximum : 1);
    progress_->setValue(model_.progressPosition);
    progress_->update();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CLanternCalDialog::Refill() {
    temperature_->setChecked(model_.mode == 1);
    resistance_->setChecked(model_.mode != 1);
    SetText(low_, model_.lowText);
    SetText(high_, model_.highText);
    SetText(lowUnit_, model_.unitLabel);
    SetText(highUnit_, model_.unitLabel);
    SetText(averages_, model_.averagesText);
    SetText(da_, model_.daText);
    SetText(slope_, model_.slopeText);
    SetText(intercept_, model_.interceptText);
    lightOn_->setChecked(model_.lightOn);
    lightPulsed_->setChecked(model_.lightPulsed);
    progress_->setRange(0, model_.progressMaximum > 0 ? model_.progressMaximum : 1);
    progress_->setValue(model_.progressPosition);
    SetText(status_, model_.statusText);
}

// --- Extra Kestrel Settings ------------------------------------------------------

CExtraKestrelDialog::CExtraKestrelDialog(CExtraKestrelDlg& model, QWidget* parent)
    : CModelDialog(parent),
      model_(model),
      readingPeriod_(Box(lantern::kReadingPeriod, this)),
      integrationTime_(Box(lantern::kIntegrationTime, this)),
      scansToAverage_(Box(lantern::kScansToAverage, this)),
      pixelBoxcar_(Box(lantern::kPixelBoxcar, this)),
      lampOnBetween_(
          Named(new QCheckBox(QStringLiteral("Lamp On Between Measurements"), this), lantern::kLampOnBetween)),
      warmupPeriod_(Box(lantern::kWarmupPeriod, this)),
      measurementType_(Named(new QComboBox(this), lantern::kMeasurementType)),
      analogFullScale_(Box(lantern::kAnalogFullScale, this)),
      printOutHeader_(Named(new QComboBox(this), lantern::kPrintOutHeader)),
      electricalDark_(Box(lantern::kElectricalDark, this)),
      fluorescencePeak_(Box(lantern::kFluorescencePeak, this)),
      referencePeak_(Box(lantern::kReferencePeak, this)),
      pixel3_(Box(lantern::kPixel3, this)),
      oxygenScansToAdd_(Box(lantern::kOxygenScansToAdd, this)),
      darkEveryNScans_(Box(lantern::kDarkEveryNScans, this)) {
    for (const char* text : CExtraKestrelDlg::kMeasurementTypes) measurementType_->addItem(QString::fromLatin1(text));
    for (const char* text : CExtraKestrelDlg::kPrintOutHeaders) printOutHeader_->addItem(QString::fromLatin1(text));
    const struct {
        std::uint8_t bit;
        const char* text;
    } flagBoxes[6] = {{CExtraKestrelDlg::kPulseLed, "Pulse LED"},
                      {CExtraKestrelDlg::kTemperatureCompensate, "Temperature Compensate"},
                      {CExtraKestrelDlg::kSecondOrder, "2nd Order"},
                      {CExtraKestrelDlg::kRatio, "Ratio"},
                      {CExtraKestrelDlg::kDarkCorrect, "Dark Correct"},
                      {CExtraKestrelDlg::kAcquireTemperature, "Acquire Temperature"}};
    for (int i = 0; i < 6; ++i) {
        flags_[i] = Named(new QCheckBox(QString::fromLatin1(flagBoxes[i].text), this), lantern::kFirstFlag + i);
        flags_[i]->setProperty("flagBit", flagBoxes[i].bit);
    }

    auto* layout = new QHBoxLayout(this);
    auto label = [this](const char* text) { return new QLabel(QString::fromLatin1(text), this); };

    auto* acquisition = new QGroupBox(QStringLiteral("Acquisition"), this);
    auto* left = new QGridLayout(acquisition);
    int row = 0;
    for (const auto& [text, box] : std::initializer_list<std::pair<const char*, QLineEdit*>>{
             {"Reading Period (sec)", readingPeriod_},
             {"Integration Time", integrationTime_},
             {"Scans to Average", scansToAverage_},
             {"Pixel Boxcar", pixelBoxcar_},
             {"Warmup Period (sec)", warmupPeriod_}}) {
        left->addWidget(label(text), row, 0);
        left->addWidget(box, row++, 1);
    }
    left->addWidget(lampOnBetween_, row++, 0, 1, 2);
    left->addWidget(label("Measurement Type"), row, 0);
    left->addWidget(measurementType_, row++, 1);
    left->addWidget(label("Analog Out Full\nScale Value"), row, 0);
    left->addWidget(analogFullScale_, row++, 1);
    left->addWidget(label("Print Out Header"), row, 0);
    left->addWidget(printOutHeader_, row++, 1);
    left->setRowStretch(row, 1);
    layout->addWidget(acquisition);

    auto* right = new QVBoxLayout;
    auto* pixels = new QGroupBox(QStringLiteral("Pixels"), this);
    auto* pixelGrid = new QGridLayout(pixels);
    row = 0;
    for (const auto& [text, box] : std::initializer_list<std::pair<const char*, QLineEdit*>>{
             {"0-Electrical Dark", electricalDark_},
             {"1-Fluorescence Peak", fluorescencePeak_},
             {"2-Reference Peak", referencePeak_},
             {"3", pixel3_}}) {
        pixelGrid->addWidget(label(text), row, 0);
        pixelGrid->addWidget(box, row++, 1);
    }
    right->addWidget(pixels);

    auto* application = new QGroupBox(QStringLiteral("Application"), this);
    auto* applicationGrid = new QGridLayout(application);
    applicationGrid->addWidget(label("Oxygen Scans to Add"), 0, 0);
    applicationGrid->addWidget(oxygenScansToAdd_, 0, 1);
    applicationGrid->addWidget(label("Dark Every N Scans"), 1, 0);
    applicationGrid->addWidget(darkEveryNScans_, 1, 1);
    for (int i = 0; i < 6; ++i) applicationGrid->addWidget(flags_[i], 2 + i / 2, i % 2);
    right->addWidget(application);

    auto* load =
        Named(new QPushButton(QStringLiteral("Load Values from Quillby Cal File"), this), lantern::kLoadCalFile);
    right->addWidget(load);
    right->addStretch(1);
    right->addWidget(OkCancel(this));
    layout->addLayout(right);

    connect(load, &QPushButton::clicked, this, [this] {
        Store();
        const std::string refusal = model_.OnLoadCalFile();
        Refill();
        ShowRefusal(this, model_.Title(), refusal);
    });
    Refill();
}

void CExtraKestrelDialog::showEvent(QShowEvent* event) {
    CModelDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    model_.OnInitDialog();
    Refill();
    // Shown at the size its fields ask for, not the small default a window
    // that was never sized starts with.
    if (!testAttribute(Qt::WA_Resized)) resize(sizeHint());
}

void CExtraKestrelDialog::Store() {
    model_.readingPeriod = Text(readingPeriod_);
    model_.integrationTime = Text(integrationTime_);
    model_.scansToAverage = Text(scansToAverage_);
    model_.pixelBoxcar = Text(pixelBoxcar_);
    model_.lampOnBetween = lampOnBetween_->isChecked();
    model_.warmupPeriod = Text(warmupPeriod_);
    model_.measurementType = std::max(0, measurementType_->currentIndex());
    model_.analogFullScale = Text(analogFullScale_);
    model_.printOutHeader = std::max(0, printOutHeader_->currentIndex());
    model_.electricalDark = Text(electricalDark_);
    model_.fluorescencePeak = Text(fluorescencePeak_);
    model_.referencePeak = Text(referencePeak_);
    model_.pixel3 = Text(pixel3_);
    model_.oxygenScansToAdd = Text(oxygenScansToAdd_);
    model_.darkEveryNScans = Text(darkEveryNScans_);
    std::uint8_t flags = 0;
    for (QCheckBox* box : flags_) {
        if (box->isChecked()) flags |= static_cast<std::uint8_t>(box->property("flagBit").toUInt());
    }
    model_.flags = flags;
}

void CExtraKestrelDialog::accept() {
    Store();
    const std::string refusal = model_.OnOK();
    if (ShowRefusal(this, model_.Title(), refusal)) return;
    QDialog::accept();
}

void CExtraKestrelDialog::Refill() {
    SetText(readingPeriod_, model_.readingPeriod);
    SetText(integrationTime_, model_.integrationTime);
    SetText(scansToAverage_, model_.scansToAverage);
    SetText(pixelBoxcar_, model_.pixelBoxcar);
    lampOnBetween_->setChecked(model_.lampOnBetween);
    SetText(warmupPeriod_, model_.warmupPeriod);
    measurementType_->setCurrentIndex(model_.measurementType);
    SetText(analogFullScale_, model_.analogFullScale);
    printOutHeader_->setCurrentIndex(model_.printOutHeader);
    SetText(electricalDark_, model_.electricalDark);
    SetText(fluorescencePeak_, model_.fluorescencePeak);
    SetText(referencePeak_, model_.referencePeak);
    SetText(pixel3_, model_.pixel3);
    SetText(oxygenScansToAdd_, model_.oxygenScansToAdd);
    SetText(darkEveryNScans_, model_.darkEveryNScans);
    for (QCheckBox* box : flags_) box->setChecked((model_.flags & box->property("flagBit").toUInt()) != 0);
}

}  // namespace spindle::gui
