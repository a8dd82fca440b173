#pragma once
// Small pieces every dialog of the window builds with: texts between the
// core's std::string and Qt, named controls, text setters that keep a box's
// cursor, and the OK / Cancel row.
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <string>

#include "Dialogs.h"

namespace spindle::gui {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

// The core's page texts break lines the Windows way; a label wants "\n".
inline QString QLines(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

inline std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

template <typename Widget>
Widget* Named(Widget* widget, int controlId) {
    widget->setObjectName(ControlName(controlId));
    return widget;
}

// A text is only set when it changed, so a box being typed into keeps its
// cursor and selection.
inline void SetText(QLineEdit* edit, const std::string& text) {
    const QString shown = QLines(text);
    if (edit->text() != shown) edit->setText(shown);
}

// A box the operator types into: from the first keystroke until the model
// takes its text (TakeEdit), a refill from the model (a poll, another
// button) leaves the box as typed.
inline void KeepWhileEdited(QLineEdit* edit) {
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit] { edit->setProperty("spindleEdited", true); });
}
inline void TakeEdit(QLineEdit* edit) { edit->setProperty("spindleEdited", false); }
inline void SetEditableText(QLineEdit* edit, const std::string& text) {
    if (!edit->property("spindleEdited").toBool()) SetText(edit, text);
}

inline void SetText(QLabel* label, const std::string& text) {
    const QString shown = QLines(text);
    if (label->text() != shown) label->setText(shown);
}

// A box at least as wide as its title: a short text would otherwise leave
// the title cut off ("USB Warning!" over "BULK_OUT failed.").
inline void FitTitle(QMessageBox& box) {
    // The title bar's font is the window system's; the box's own font, with
    // room for the title bar's buttons, is a close enough measure.
    const int wanted = QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
}

inline QDialogButtonBox* OkCancel(QDialog* dialog, bool withCancel = true) {
    auto* buttons =
        new QDialogButtonBox(withCancel ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Ok, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace spindle::gui
