#include "app/ProgressBar.h"

#include <algorithm>

namespace spindle {

void CProgressBar::Create(const std::string& text, int widthPercent, int maximum, bool smooth, int step) {
    view_.open = true;
    view_.width = 2 * widthPercent;
    view_.barShown = true;
    view_.text = text;
    lower_ = 0;
    view_.maximum = maximum;
    view_.position = 0;
    smooth_ = smooth;
    step_ = step;
    Push();
}

void CProgressBar::SetBarColour(unsigned rgb) {
    view_.barColour = rgb;
    Push();
}

void CProgressBar::SetBkColour(unsigned rgb) {
    view_.backgroundColour = rgb;
    Push();
}

void CProgressBar::SetRange(int lower, int upper, int step) {
    lower_ = lower;
    view_.maximum = upper;
    step_ = step;
    view_.position = std::clamp(view_.position, lower_, std::max(lower_, upper));
    Push();
}

void CProgressBar::SetPos(int position) {
    view_.position = std::clamp(position, lower_, std::max(lower_, view_.maximum));
    view_.barShown = true;
    Push();
}

void CProgressBar::StepIt() { SetPos(view_.position + step_); }

void CProgressBar::SetText(const std::string& text) {
    if (view_.text == text) return;
    view_.text = text;
    Push();
}

void CProgressBar::Clear() {
    view_.barShown = false;
    view_.text = pane_ == 0 ? "Ready" : "";
    Push();
}

void CProgressBar::ClosePane() {
    view_.open = false;
    view_.width = 0;
    Push();
}

}  // namespace spindle
