#include "PsocDialogs.h"
#include "DialogParts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "MainWindow.h"
#include "tools/PsocSheet.h"
#include "widgets/MoviePicture.h"

namespace spindle::gui {

namespace {

QLineEdit* ReadOnlyBox(int controlId, QWidget* parent) {
    auto* box = Named(new QLineEdit(parent), controlId);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setMinimumWidth(110);
    return box;
}


}  // namespace

// --- The common page ----------------------------------------------------------------

CPsocPageWidget::CPsocPageWidget(CPsocPage& page, QWidget* parent) : QWidget(parent), page_(page) {
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, &CPsocPageWidget::PollTick);
}

void CPsocPageWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (started_) return;
    started_ = true;
    BeforeStart();
    page_.OnInitDialog();
    Changed();
}

void CPsocPageWidget::PollTick() {
    page_.OnTimer(CPsocPage::kPollTimerId);
    Changed();
}

void CPsocPageWidget::StopTimers() {
    pollTimer_.stop();
}

void CPsocPageWidget::Changed() {
    Refill();
    if (pollState_ != nullptr) {
        const QString state = QString::fromStdString(page_.PollStateText());
        if (pollState_->text() != state) pollState_->setText(state);
        pollState_->setStyleSheet(page_.PollingStopped() ? QStringLiteral("color: #b00020;") : QString());
    }
    if (page_.PollTimerRunning()) {
        if (!pollTimer_.isActive()) pollTimer_.start(static_cast<int>(page_.TickPeriodMs()));
    } else {
        pollTimer_.stop();
    }
}

bool CPsocPageWidget::Refused(const std::string& reason) {
    if (reason.empty()) return false;
    const QString title = QString::fromStdString(page_.Caption());
    // Through the window's message boxes when there is a window, so the
    // operator sees it like every other message.
    for (QWidget* widget = this; widget != nullptr; widget = widget->parentWidget()) {
        if (auto* window = qobject_cast<CMainWindow*>(widget)) {
            window->Ui().MessageBox(reason, page_.Caption(), mb::kIconWarning);
            return true;
        }
    }
    QMessageBox::warning(this, title, QString::fromStdString(reason));
    return true;
}

QLabel* CPsocPageWidget::MakePollState() {
    pollState_ = Named(new QLabel(this), psoc::kPollState);
    return pollState_;
}

CPsocPageWidget* MakePsocPageWidget(CPsocPage& page, QWidget* parent) {
    if (auto* falcon = dynamic_cast<CFalconExtrasPage*>(&page)) return new CFalconPageWidget(*falcon, parent);
    if (auto* condor = dynamic_cast<CCondorPsocPage*>(&page)) return new CCondorPageWidget(*condor, parent);
    if (auto* ibis = dynamic_cast<CIbisPsocPage*>(&page)) return new CIbisPageWidget(*ibis, parent);
    return nullptr;
}

// --- Falcon Extras ------------------------------------------------------------------

CFalconPageWidget::CFalconPageWidget(CFalconExtrasPage& page, QWidget* parent)
    : CPsocPageWidget(page, parent),
      model_(page),
      group_(new QGroupBox(QStringLiteral("PSOC"), this)),
      firmware_(Named(new QLabel(group_), psoc::kFalconFirmware)),
      readContinuous_(Named(new QPushButton(QStringLiteral("Read ADC Continuous"), this), psoc::kReadAdcContinuous)),
      rawAdc_(ReadOnlyBox(psoc::kRawAdcCounts, this)),
      adcVolts_(ReadOnlyBox(psoc::kAdcVolts, this)),
      rawDac_(Named(new QLineEdit(this), psoc::kRawDacCounts)),
      dacVolts_(Named(new QLineEdit(this), psoc::kDacVolts)),
      temperature_(ReadOnlyBox(psoc::kBoardTemperature, this)) {
    auto* layout = new QVBoxLayout(this);
    auto* groupLayout = new QVBoxLayout(group_);
    firmware_->setText(QStringLiteral("Firmware Version"));
    groupLayout->addWidget(firmware_);
    layout->addWidget(group_);

    auto* grid = new QGridLayout;
    auto* readAdc = Named(new QPushButton(QStringLiteral("Read ADC"), this), psoc::kReadAdc);
    readContinuous_->setCheckable(true);  // a push-like check box
    grid->addWidget(readAdc, 0, 0);
    grid->addWidget(readContinuous_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Raw ADC Counts"), this), 1, 0);
    grid->addWidget(rawAdc_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("ADC Volts"), this), 2, 0);
    grid->addWidget(adcVolts_, 2, 1);

    auto* writeDac = Named(new QPushButton(QStringLiteral("Write DAC"), this), psoc::kWriteDac);
    grid->addWidget(new QLabel(QStringLiteral("Raw DAC Counts"), this), 3, 0);
    grid->addWidget(rawDac_, 3, 1);
    grid->addWidget(writeDac, 3, 2);
    grid->addWidget(new QLabel(QStringLiteral("DAC Volts"), this), 4, 0);
    grid->addWidget(dacVolts_, 4, 1);

    auto* readTemp = Named(new QPushButton(QStringLiteral("Read Temp"), this), psoc::kReadTemp);
    grid->addWidget(new QLabel(QStringLiteral("Board\nTemperature"), this), 5, 0);
    grid->addWidget(temperature_, 5, 1);
    grid->addWidget(readTemp, 5, 2);
    layout->addLayout(grid);
    layout->addStretch(1);

    continuous_.setInterval(static_cast<int>(CFalconExtrasPage::kContinuousPeriodMs));
    connect(&continuous_, &QTimer::timeout, this, &CFalconPageWidget::ContinuousTick);
    connect(readAdc, &QPushButton::clicked, this, [this] {
        model_.readContinuous = readContinuous_->isChecked() ? 1 : 0;
        model_.OnReadAdc();
        Changed();
        if (model_.ContinuousReading()) continuous_.start();
    });
    // Releasing the box ends continuous reading at the next tick.
    connect(readContinuous_, &QPushButton::toggled, this,
            [this](bool pressed) { model_.readContinuous = pressed ? 1 : 0; });
    KeepWhileEdited(rawDac_);
    KeepWhileEdited(dacVolts_);
    connect(writeDac, &QPushButton::clicked, this, [this] {
        model_.rawDacCounts = Text(rawDac_);
        model_.dacVolts = Text(dacVolts_);
        if (Refused(model_.OnWriteDac())) return;
        TakeEdit(rawDac_);
        TakeEdit(dacVolts_);
        Changed();
    });
    connect(readTemp, &QPushButton::clicked, this, [this] {
        model_.OnReadTemp();
        Changed();
    });
}

void CFalconPageWidget::ContinuousTick() {
    model_.readContinuous = readContinuous_->isChecked() ? 1 : 0;
    model_.OnContinuousTick();
    Changed();
    if (!model_.ContinuousReading()) continuous_.stop();
}

// Continuous reading ends with the page, whether or not the box is released.
void CFalconPageWidget::StopTimers() {
    CPsocPageWidget::StopTimers();
    continuous_.stop();
}

void CFalconPageWidget::Refill() {
    SetText(firmware_, model_.firmwareText);
    {
        const QSignalBlocker block(readContinuous_);
        readContinuous_->setChecked(model_.readContinuous == 1);
    }
    SetText(rawAdc_, model_.rawAdcCounts);
    SetText(adcVolts_, model_.adcVolts);
    SetEditableText(rawDac_, model_.rawDacCounts);
    SetEditableText(dacVolts_, model_.dacVolts);
    SetText(temperature_, model_.boardTemperature);
}

// --- Condor PSOC --------------------------------------------------------------------

CCondorPageWidget::CCondorPageWidget(CCondorPsocPage& page, QWidget* parent)
    : CPsocPageWidget(page, parent),
      model_(page),
      firmware_(Named(new QLabel(this), psoc::kCondorFirmware)),
      setpoint_(Named(new QLineEdit(this), psoc::kSetpoint)),
      tec_(Named(new QCheckBox(QStringLiteral("TEC ON/OFF"), this), psoc::kCondorTec)),
      quantities_(new QButtonGroup(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(firmware_);

    // The setpoint box with its up-down buttons: each step writes the setpoint.
    auto* setpointRow = new QHBoxLayout;
    setpointRow->addWidget(new QLabel(QStringLiteral("Setpoint"), this));
    setpoint_->setMaximumWidth(90);
    setpointRow->addWidget(setpoint_);
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    auto* up = Named(new QToolButton(this), psoc::kSpinUp);
    up->setArrowType(Qt::UpArrow);
    auto* down = Named(new QToolButton(this), psoc::kSpinDown);
    down->setArrowType(Qt::DownArrow);
    for (QToolButton* arrow : {up, down}) arrow->setFixedSize(20, 12);
    arrows->addWidget(up);
    arrows->addWidget(down);
    setpointRow->addLayout(arrows);
    setpointRow->addSpacing(16);
    setpointRow->addWidget(tec_);
    setpointRow->addStretch(1);
    layout->addLayout(setpointRow);

    auto* grid = new QGridLayout;
    static const char* const kRadios[] = {"Get Temperature",     "Get ADC Counts", "Get Setpoint Counts",
                                          "Get PID Control",     "Get Setpoint C", "Get System Status"};
    static const char* const kValues[] = {"Temperature Celsius", "ADC Result", "Setpoint Counts",
                                          "PID Control Value", "SetPoint Celsius"};
    for (int i = 0; i < 6; ++i) {
        auto* radio = Named(new QRadioButton(QString::fromLatin1(kRadios[i]), this), psoc::kGetTemperature + i);
        quantities_->addButton(radio, i);
        grid->addWidget(radio, i, 0);
    }
    // Each value beside the radio button that polls it.
    for (int i = 0; i < 5; ++i) {
        values_[i] = ReadOnlyBox(psoc::kTemperatureCelsius + i, this);
        values_[i]->setPlaceholderText(QString::fromLatin1(CCondorPsocPage::kNotRead));
        grid->addWidget(new QLabel(QString::fromLatin1(kValues[i]), this), i, 1);
        grid->addWidget(values_[i], i, 2);
    }
    layout->addLayout(grid);

    auto* statusGroup = new QGroupBox(QStringLiteral("System Status"), this);
    auto* statusLayout = new QGridLayout(statusGroup);
    static const char* const kStatus[] = {"TEC Over Current", "Fan Fail", "PID Control Rail High", "PID Control Rail Low"};
    for (int i = 0; i < 4; ++i) {
        status_[i] = Named(new QCheckBox(QString::fromLatin1(kStatus[i]), statusGroup), psoc::kTecOverCurrent + i);
        // The device sets these; the operator cannot.
        status_[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
        status_[i]->setFocusPolicy(Qt::NoFocus);
        // Partly checked while the status was not read.
        status_[i]->setTristate(true);
        statusLayout->addWidget(status_[i], i / 2, i % 2);
    }
    layout->addWidget(statusGroup);
    layout->addWidget(MakePollState());
    layout->addStretch(1);

    connect(up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down, &QToolButton::clicked, this, [this] { Step(-1); });
    connect(setpoint_, &QLineEdit::textEdited, this, [this](const QString& text) {
        model_.setpointText = text.toStdString();
        model_.OnSetpointTextChanged();
        Changed();
    });
    connect(tec_, &QCheckBox::clicked, this, [this] {
        model_.OnTecClicked();
        Changed();
    });
    connect(quantities_, &QButtonGroup::idClicked, this, [this](int quantity) {
        model_.OnSelectQuantity(quantity);
        Changed();
    });
}

void CCondorPageWidget::Step(int delta) {
    model_.OnSpinDelta(model_.spinPosition, delta);
    Changed();
}

void CCondorPageWidget::Refill() {
    SetText(firmware_, model_.firmwareText);
    SetText(setpoint_, model_.setpointText);
    tec_->setChecked(model_.tecState != 0);
    if (QAbstractButton* radio = quantities_->button(model_.selectedQuantity)) radio->setChecked(true);
    // A value not read leaves its box empty, showing the "not read" placeholder.
    for (int i = 0; i < 5; ++i) SetText(values_[i], model_.IsRead(i) ? model_.ValueText(i) : std::string());
    const bool read = model_.IsRead(CCondorPsocPage::kSystemStatus);
    const bool bits[] = {model_.tecOverCurrent, model_.fanFail, model_.railHigh, model_.railLow};
    for (int i = 0; i < 4; ++i) {
        status_[i]->setCheckState(!read ? Qt::PartiallyChecked : bits[i] ? Qt::Checked : Qt::Unchecked);
        status_[i]->setToolTip(read ? QString() : QString::fromLatin1(CCondorPsocPage::kNotRead));
    }
}

// --- Ibis PSOC ----------------------------------------------------------------------

CIbisPageWidget::CIbisPageWidget(CIbisPsocPage& page, QWidget* parent)
    : CPsocPageWidget(page, parent),
      model_(page),
      setpoint_(Named(new QLineEdit(this), psoc::kIbisSetpoint)),
      tec_(Named(new QCheckBox(QStringLiteral("TEC ON/OFF"), this), psoc::kIbisTec)),
      fan_(Named(new QCheckBox(QStringLiteral("Fan ON/OFF"), this), psoc::kIbisFan)),
      picture_(Named(new CMoviePicture(this), psoc::kIbisPicture)) {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* note = Named(new QLabel(QString::fromLatin1(CIbisPsocPage::kNote), this), psoc::kIbisNote);
    top->addWidget(note, 1);
    top->addWidget(picture_);
    layout->addLayout(top);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Setpoint(C)"), this));
    setpoint_->setMaximumWidth(90);
    controls->addWidget(setpoint_);
    auto* set = Named(new QPushButton(QStringLiteral("Set"), this), psoc::kIbisSet);
    controls->addWidget(set);
    controls->addSpacing(16);
    controls->addWidget(tec_);
    controls->addWidget(fan_);
    controls->addStretch(1);
    layout->addLayout(controls);

    auto* grid = new QGridLayout;
    static const char* const kTexts[] = {"System Status", "Board Temp",        "Current Temperature(C)", "PID Error",
                                         "Current Setpoint(C)", "PID Control Value", "Version"};
    for (int i = 0; i < 7; ++i) {
        texts_[i] = ReadOnlyBox(psoc::kSystemStatus + i, this);
        grid->addWidget(new QLabel(QString::fromLatin1(kTexts[i]), this), i, 0);
        grid->addWidget(texts_[i], i, 1);
    }
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    layout->addWidget(MakePollState());
    layout->addStretch(1);

    KeepWhileEdited(setpoint_);
    connect(set, &QPushButton::clicked, this, [this] {
        model_.setpointText = Text(setpoint_);
        if (Refused(model_.OnSet())) return;
        TakeEdit(setpoint_);
        Changed();
    });
    connect(tec_, &QCheckBox::clicked, this, [this](bool checked) {
        model_.tecOn = checked;
        model_.OnTecClicked();
        Changed();
    });
    connect(fan_, &QCheckBox::clicked, this, [this](bool checked) {
        model_.fanOn = checked;
        model_.OnFanClicked();
        Changed();
    });
}

void CIbisPageWidget::BeforeStart() { model_.SetPicture(picture_); }

void CIbisPageWidget::Refill() {
    SetEditableText(setpoint_, model_.setpointText);
    tec_->setChecked(model_.tecOn);
    fan_->setChecked(model_.fanOn);
    const std::string* texts[] = {&model_.systemStatus,    &model_.boardTemp, &model_.currentTemperature,
                                  &model_.pidError,        &model_.currentSetpoint, &model_.pidControlValue,
                                  &model_.version};
    for (int i = 0; i < 7; ++i) SetText(texts_[i], *texts[i]);
}

// --- The sheet ----------------------------------------------------------------------

CPsocSheetDialog::CPsocSheetDialog(CSpecPropSheet& sheet, QWidget* parent)
    : CModelDialog(parent), sheet_(sheet), tabs_(new QTabWidget(this)) {
    tabs_->setObjectName(QStringLiteral("psocTabs"));
    for (CPsocPage* page : sheet.Pages()) {
        if (CPsocPageWidget* widget = MakePsocPageWidget(*page, tabs_)) {
            tabs_->addTab(widget, QString::fromStdString(page->Caption()));
        }
    }
    if (sheet.startPage >= 0 && sheet.startPage < tabs_->count()) tabs_->setCurrentIndex(sheet.startPage);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

CPsocPageWidget* CPsocSheetDialog::PageWidget(int index) {
    return qobject_cast<CPsocPageWidget*>(tabs_->widget(index));
}

void CPsocSheetDialog::done(int result) {
    // Either button ends every page: its timers stop before the dialog goes.
    for (int i = 0; i < tabs_->count(); ++i) {
        if (CPsocPageWidget* widget = PageWidget(i)) widget->StopTimers();
    }
    for (CPsocPage* page : sheet_.Pages()) page->OnOK();
    CModelDialog::done(result);
}

// --- Ibis Extra ---------------------------------------------------------------------

CIbisPsocDialog::CIbisPsocDialog(CIbisPsocPage& page, QWidget* parent)
    : CModelDialog(parent), page_(page), widget_(new CIbisPageWidget(page, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(widget_);
}

void CIbisPsocDialog::reject() {
    // Escape: the page's own Cancel does nothing.
    if (page_.ClosesOnEnterAndEscape()) CModelDialog::reject();
}

void CIbisPsocDialog::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (!page_.ClosesOnEnterAndEscape() &&
        (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)) {
        event->accept();
        return;
    }
    CModelDialog::keyPressEvent(event);
}

void CIbisPsocDialog::closeEvent(QCloseEvent* event) {
    // The close box: the page's close command, then the dialog ends with OK.
    widget_->StopTimers();
    page_.OnClose();
    event->accept();
    QDialog::done(QDialog::Accepted);
}

}  // namespace spindle::gui
