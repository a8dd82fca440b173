#pragma once
#include <string>

#include "platform/UserInterface.h"

namespace spindle {

// The progress bar of one status-bar pane: its state lives here, and every
// change is handed to the front end, which draws it. User-interface thread
// only: workers report progress through the job table instead.
class CProgressBar {
public:
    CProgressBar(IUserInterface& ui, int pane) : ui_(ui), pane_(pane) {}

    // Opens the pane (width 2 x widthPercent pixels, a normal border) with
    // the message text and a bar over 0..maximum.
    void Create(const std::string& text, int widthPercent, int maximum, bool smooth, int step);
    void SetBarColour(unsigned rgb);
    void SetBkColour(unsigned rgb);
    void SetRange(int lower, int upper, int step);
    // Positions are clamped to the range; moving the bar shows it again.
    void SetPos(int position);
    void StepIt();
    int GetPos() const { return view_.position; }
    int RangeMaximum() const { return view_.maximum; }
    void SetText(const std::string& text);
    // Hides the bar and gives the pane its idle text (empty for a device pane).
    void Clear();
    // Collapses the pane again (width 0, no border).
    void ClosePane();

    int Pane() const { return pane_; }
    const ProgressPaneView& View() const { return view_; }

private:
    void Push() { ui_.ShowProgressPane(pane_, view_); }

    IUserInterface& ui_;
    int pane_;
    int lower_ = 0;
    int step_ = 1;
    bool smooth_ = true;
    ProgressPaneView view_;
};

}  // namespace spindle
