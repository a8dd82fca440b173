#include "Dialogs.h"
#include "DialogParts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "Artwork.h"
#include "LanternDialogs.h"
#include "PsocDialogs.h"
#include "app/AboutBox.h"
#include "platform/ErrorReport.h"
#include "app/FeatureUnlock.h"
#include "protocol/ValueEditors.h"
#include "tools/ExtraKestrelDlg.h"
#include "tools/LanternCalibrationDlg.h"
#include "tools/PsocSheet.h"

namespace spindle::gui {

namespace {

QLabel* Note(const std::string& text, int controlId, QWidget* parent) {
    auto* note = new QLabel(Q(text), parent);
    note->setObjectName(ControlName(controlId));
    note->setWordWrap(false);
    QFont font = note->font();
    font.setItalic(true);
    note->setFont(font);
    return note;
}

// Focus to a control with all its text selected, once the dialog is shown.
void FocusSelected(QLineEdit* edit, bool selectAll) {
    edit->setFocus();
    if (selectAll) edit->selectAll();
}

}  // namespace

QString ControlName(int controlId) { return QStringLiteral("control%1").arg(controlId); }

void CModelDialog::accept() {
    Store();
    const std::string problem = Problem();
    if (!problem.empty()) {
        QMessageBox::warning(this, windowTitle(), Q(problem));
        return;
    }
    QDialog::accept();
}

std::unique_ptr<CModelDialog> MakeDialog(CDialogModel& model, QWidget* parent) {
    std::unique_ptr<CModelDialog> dialog;
    // The PSOC sheet, and the Ibis page when it runs on its own.
    if (auto* sheet = dynamic_cast<CSpecPropSheet*>(&model)) {
        dialog = std::make_unique<CPsocSheetDialog>(*sheet, parent);
    } else if (auto* ibis = dynamic_cast<CIbisPsocPage*>(&model)) {
        dialog = std::make_unique<CIbisPsocDialog>(*ibis, parent);
    } else {
        switch (model.DialogId()) {
            case CEditValueDlg::kDialogId:
                dialog = std::make_unique<CEditValueDialog>(static_cast<CEditValueDlg&>(model), parent);
                break;
            case CAutoNullingDlg::kDialogId:
                dialog = std::make_unique<CAutoNullingDialog>(static_cast<CAutoNullingDlg&>(model), parent);
                break;
            case CUnlockDlg::kDialogId:
                dialog = std::make_unique<CUnlockDialog>(static_cast<CUnlockDlg&>(model), parent);
                break;
            case CErrorDlg::kDialogId:
                dialog = std::make_unique<CErrorDialog>(static_cast<CErrorDlg&>(model), parent);
                break;
            case CAboutDlg::kDialogId:
                dialog = std::make_unique<CAboutDialog>(static_cast<CAboutDlg&>(model), parent);
                break;
            case CLanternCalDlg::kDialogId:
                dialog = std::make_unique<CLanternCalDialog>(static_cast<CLanternCalDlg&>(model), parent);
                break;
            case CExtraKestrelDlg::kDialogId:
                dialog = std::make_unique<CExtraKestrelDialog>(static_cast<CExtraKestrelDlg&>(model), parent);
                break;
            default: return nullptr;
        }
    }
    dialog->setWindowTitle(Q(model.Title()));
    // Dialogs have a title and a close box, never minimize or maximize.
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog->setObjectName(QStringLiteral("dialog%1").arg(model.DialogId()));
    return dialog;
}

// --- Edit Stored Value ----------------------------------------------------------

CEditValueDialog::CEditValueDialog(CEditValueDlg& model, QWidget* parent)
    : CModelDialog(parent), model_(model), value_(new QLineEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(Q(model.label), this);
    label->setObjectName(ControlName(CEditValueDlg::kLabelControlId));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    layout->addWidget(label);

    auto* form = new QFormLayout;
    value_->setObjectName(ControlName(CEditValueDlg::kValueControlId));
    value_->setText(Q(model.value));
    value_->setMinimumWidth(320);
    value_->setEnabled(model.valueEnabled);
    form->addRow(tr("Value"), value_);
    layout->addLayout(form);

    QLabel* note = Note(model.noteText, CEditValueDlg::kNoteControlId, this);
    note->setVisible(model.noteShown);
    layout->addWidget(note);
    layout->addWidget(OkCancel(this));

    if (model.valueEnabled) FocusSelected(value_, model.selectAllOnFocus);
}

void CEditValueDialog::Store() { model_.value = value_->text().toStdString(); }

std::string CEditValueDialog::Problem() { return model_.CheckValue(); }

// --- Auto Nulling FPGA Registers -------------------------------------------------

CAutoNullingDialog::CAutoNullingDialog(CAutoNullingDlg& model, QWidget* parent)
    : CModelDialog(parent),
      model_(model),
      autoNulling_(new QCheckBox(tr("Auto Nulling Enabled"), this)),
      compensation_(new QCheckBox(tr("Temperature Compensation"), this)),
      dark_(new QLineEdit(this)),
      saturation_(new QLineEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    autoNulling_->setObjectName(ControlName(CAutoNullingDlg::kAutoNullingControlId));
    compensation_->setObjectName(ControlName(CAutoNullingDlg::kCompensationControlId));
    dark_->setObjectName(ControlName(CAutoNullingDlg::kDarkValueControlId));
    saturation_->setObjectName(ControlName(CAutoNullingDlg::kSaturationControlId));

    autoNulling_->setChecked(model.autoNullingEnabled != 0);
    compensation_->setChecked(model.temperatureCompensation != 0);
    dark_->setText(Q(model.darkValue));
    saturation_->setText(Q(model.saturationValue));
    // The dialog keeps its own state of the box and sets the box to match.
    connect(autoNulling_, &QCheckBox::clicked, this, [this] {
        model_.OnAutoNullingClicked();
        autoNulling_->setChecked(model_.autoNullingEnabled != 0);
    });

    layout->addWidget(autoNulling_);
    layout->addWidget(compensation_);
    auto* grid = new QGridLayout;
    auto* darkLabel = new QLabel(QStringLiteral("Dark Value @ 25\u00B0C"), this);
    darkLabel->setObjectName(ControlName(CAutoNullingDlg::kDarkValueLabelId));
    auto* saturationLabel = new QLabel(tr("Saturation Value"), this);
    saturationLabel->setObjectName(ControlName(CAutoNullingDlg::kSaturationLabelId));
    grid->addWidget(darkLabel, 0, 0);
    grid->addWidget(dark_, 0, 1);
    grid->addWidget(saturationLabel, 1, 0);
    grid->addWidget(saturation_, 1, 1);
    layout->addLayout(grid);

    QLabel* note = Note(model.noteText, CAutoNullingDlg::kNoteControlId, this);
    note->setVisible(model.noteShown);
    layout->addWidget(note);
    layout->addWidget(OkCancel(this));

    for (QWidget* control : std::initializer_list<QWidget*>{autoNulling_, compensation_, dark_, saturation_,
                                                             darkLabel, saturationLabel}) {
        control->setEnabled(model.controlsEnabled);
    }
    if (model.controlsEnabled) FocusSelected(dark_, model.selectAllOnFocus);
}

void CAutoNullingDialog::Store() {
    model_.autoNullingEnabled = autoNulling_->isChecked() ? 1 : 0;
    model_.temperatureCompensation = compensation_->isChecked() ? 1 : 0;
    model_.darkValue = dark_->text().toStdString();
    model_.saturationValue = saturation_->text().toStdString();
}

std::string CAutoNullingDialog::Problem() { return model_.CheckValues(); }

// --- Unlock Features ------------------------------------------------------------------

CUnlockDialog::CUnlockDialog(CUnlockDlg& model, QWidget* parent)
    : CModelDialog(parent), model_(model), code_(new QLineEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    code_->setObjectName(ControlName(CUnlockDlg::kCodeControlId));
    code_->setText(Q(model.code));
    code_->setMinimumWidth(220);
    form->addRow(tr("Unlock code"), code_);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this));
    code_->setFocus();
}

// The code is taken exactly as typed.
void CUnlockDialog::Store() { model_.code = code_->text().toStdString(); }

// --- Error report -------------------------------------------------------------------

CErrorDialog::CErrorDialog(CErrorDlg& model, QWidget* parent) : CModelDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    const struct {
        const char* caption;
        int controlId;
        const std::string& text;
    } fields[] = {{"Error", CErrorDlg::kErrorControlId, model.errorText},
                  {"Cause", CErrorDlg::kCauseControlId, model.cause},
                  {"Solution", CErrorDlg::kSolutionControlId, model.solution}};
    for (const auto& field : fields) {
        layout->addWidget(new QLabel(tr(field.caption), this));
        auto* text = new QLabel(Q(field.text), this);
        text->setObjectName(ControlName(field.controlId));
        text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        text->setWordWrap(true);
        text->setMinimumWidth(360);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text->setMargin(4);
        layout->addWidget(text);
    }
    layout->addWidget(OkCancel(this, false));
}

// --- About ------------------------------------------------------------------------------

CAboutDialog::CAboutDialog(CAboutDlg& model, QWidget* parent) : CModelDialog(parent) {
    auto* layout = new QGridLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(ApplicationIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon, 0, 0, 2, 1);
    layout->addWidget(new QLabel(Q(model.productText), this), 0, 1);
    auto* version = new QLabel(Q(model.versionLine), this);
    version->setObjectName(ControlName(CAboutDlg::kVersionControlId));
    layout->addWidget(version, 1, 1);
    layout->addWidget(OkCancel(this, false), 2, 0, 1, 2);
    layout->setHorizontalSpacing(16);
}

}  // namespace spindle::gui
