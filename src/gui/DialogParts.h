#pragma once
// Small pieces every dialog of the window builds with: texts between the
// core's std::string and Qt, named controls, text setters that keep a box's
// cursor, and the OK / Cancel row.
#include <QDialog>
#include <QDialogButtonBox>
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

inline void SetText(QLabel* label, const std::string& text) {
    const QString shown = QLines(text);
    if (label->text() != shown) label->setText(shown);
}

inline QDialogButtonBox* OkCancel(QDialog* dialog, bool withCancel = true) {
    auto* buttons =
        new QDialogButtonBox(withCancel ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Ok, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace spindle::gui
