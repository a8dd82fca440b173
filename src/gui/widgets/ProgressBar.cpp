#include "widgets/ProgressBar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <algorithm>

namespace spindle::gui {

CProgressBar::CProgressBar(int pane, QWidget* parent)
    : QWidget(parent), pane_(pane), text_(new QLabel(this)), bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("devicePane%1").arg(pane));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(4);
    layout->addWidget(text_);
    layout->addWidget(bar_, 1);
    // The countdown text is read in full; the bar takes what is left.
    text_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    bar_->setMinimumWidth(16);
    bar_->setTextVisible(false);
    bar_->setRange(0, maximum_);
    bar_->hide();
    SetPaneOpen(false);
}

void CProgressBar::SetPaneOpen(bool open, int width) {
    paneOpen_ = open;
    if (open) {
        setFixedWidth(width);
        show();
    } else {
        setFixedWidth(0);
        hide();
    }
}

void CProgressBar::Create(const QString& text, int widthPercent, int maximum, bool smooth, int step) {
    SetPaneOpen(true, 2 * widthPercent);
    text_->setText(text);
    // A segmented bar shows its chunks as text-less blocks; Qt styles draw
    // the smooth look by default, so only the text differs.
    bar_->setTextVisible(!smooth);
    SetRange(0, maximum, step);
    bar_->setValue(0);
    bar_->show();
}

void CProgressBar::SetBarColour(const QColor& colour) {
    QPalette palette = bar_->palette();
    palette.setColor(QPalette::Highlight, colour);
    bar_->setPalette(palette);
}

void CProgressBar::SetBkColour(const QColor& colour) {
    QPalette palette = bar_->palette();
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Window, colour);
    bar_->setPalette(palette);
}

void CProgressBar::SetRange(int lower, int upper, int step) {
    if (upper < lower) std::swap(lower, upper);
    maximum_ = upper;
    step_ = step;
    bar_->setRange(lower, upper);
}

void CProgressBar::SetPos(int position) {
    bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
    bar_->show();
}

void CProgressBar::StepIt() {
    int next = bar_->value() + step_;
    // The native control wraps round to the start once the end is passed.
    if (next > bar_->maximum()) next = bar_->minimum() + (next - bar_->maximum() - 1);
    SetPos(next);
}

int CProgressBar::GetPos() const { return bar_->value(); }

void CProgressBar::SetText(const QString& text) { text_->setText(text); }

QString CProgressBar::Text() const { return text_->text(); }

void CProgressBar::Clear() {
    bar_->hide();
    text_->clear();
}

bool CProgressBar::IsBarShown() const { return !bar_->isHidden(); }

}  // namespace spindle::gui
