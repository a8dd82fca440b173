#pragma once
#include <QDialog>
#include <memory>

#include "platform/UserInterface.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace spindle {
class CAboutDlg;
class CAutoNullingDlg;
class CEditValueDlg;
class CErrorDlg;
class CUnlockDlg;
}  // namespace spindle

namespace spindle::gui {

// A Qt dialog that renders one of the core's dialog models: its controls are
// filled from the model when it is built, and Store copies them back (the
// data exchange of the OK button). Controls carry the model's control ids as
// their object names ("control1001"), so tests can find them.
class CModelDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;
    virtual void Store() = 0;
    // Why the model would refuse what the controls hold; empty when OK may
    // close the dialog. OK with a problem shows it and keeps the dialog open.
    virtual std::string Problem() { return {}; }
    void accept() override;
};

// The dialog for a model by its id, or null for a dialog this front end
// does not know.
std::unique_ptr<CModelDialog> MakeDialog(CDialogModel& model, QWidget* parent);

// Object name of a control by its id.
QString ControlName(int controlId);

// "Edit Stored Value" (131).
class CEditValueDialog : public CModelDialog {
    Q_OBJECT
public:
    CEditValueDialog(CEditValueDlg& model, QWidget* parent);
    void Store() override;
    std::string Problem() override;

private:
    CEditValueDlg& model_;
    QLineEdit* value_;
};

// "Auto Nulling FPGA Registers" (170).
class CAutoNullingDialog : public CModelDialog {
    Q_OBJECT
public:
    CAutoNullingDialog(CAutoNullingDlg& model, QWidget* parent);
    void Store() override;
    std::string Problem() override;

private:
    CAutoNullingDlg& model_;
    QCheckBox* autoNulling_;
    QCheckBox* compensation_;
    QLineEdit* dark_;
    QLineEdit* saturation_;
};

// "Unlock Features" (133).
class CUnlockDialog : public CModelDialog {
    Q_OBJECT
public:
    CUnlockDialog(CUnlockDlg& model, QWidget* parent);
    void Store() override;

private:
    CUnlockDlg& model_;
    QLineEdit* code_;
};

// The error report "Tarnwell Error" (146): read-only fields, OK only.
class CErrorDialog : public CModelDialog {
    Q_OBJECT
public:
    CErrorDialog(CErrorDlg& model, QWidget* parent);
    void Store() override {}
};

// "About Spindle" (100).
class CAboutDialog : public CModelDialog {
    Q_OBJECT
public:
    CAboutDialog(CAboutDlg& model, QWidget* parent);
    void Store() override {}
};

}  // namespace spindle::gui
