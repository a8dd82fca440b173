#pragma once
#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;
class QProgressBar;
class QStatusBar;

namespace spindle::gui {

// A progress bar living in one pane of the status bar: the pane's message
// text followed by the bar. Panes start collapsed (width 0, no border);
// Create gives the pane its width and shows it, Clear collapses it again.
// User-interface thread only; workers reach it through the port.
class CProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit CProgressBar(int pane, QWidget* parent = nullptr);

    // Opens the pane: message text, pane width of 2 x widthPercent pixels,
    // range 0..maximum, smooth or segmented look, step size.
    void Create(const QString& text, int widthPercent, int maximum, bool smooth, int step);
    void SetBarColour(const QColor& colour);
    void SetBkColour(const QColor& colour);
    void SetRange(int lower, int upper, int step);
    // Moving the bar shows a hidden bar again. Positions are clamped to the range.
    void SetPos(int position);
    void StepIt();
    int GetPos() const;
    // The maximum last given by Create or SetRange.
    int RangeMaximum() const { return maximum_; }
    void SetText(const QString& text);
    QString Text() const;
    // Hides the bar and gives the pane its idle text (empty for a device pane).
    void Clear();

    int Pane() const { return pane_; }
    bool IsBarShown() const;
    // Whether the pane is open (has a width and a border).
    bool IsPaneOpen() const { return paneOpen_; }
    void SetPaneOpen(bool open, int width = 0);

private:
    int pane_;
    int maximum_ = 100;
    int step_ = 1;
    bool paneOpen_ = false;
    QLabel* text_;
    QProgressBar* bar_;
};

}  // namespace spindle::gui
