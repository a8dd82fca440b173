#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <map>

#include "platform/UserInterface.h"

class QDialog;
class QTimer;

namespace spindle::gui {

class CMainWindow;

// The user-interface port rendered with Qt Widgets: message boxes, the core's
// modal dialogs, file choice, the wait cursor, the frame timers, and the
// bars, buttons and status panes of the main window.
//
// MessageBox may be called from any thread: from a worker it is carried to
// the user-interface thread with a blocking queued call and the worker waits
// for the answer. Every other call must come from the user-interface thread.
//
// Tests replace the modal parts with hooks (still run on the user-interface
// thread) and drive the timers by hand.
class CQtUserInterface : public QObject, public IUserInterface {
    Q_OBJECT
public:
    explicit CQtUserInterface(CMainWindow& window);
    ~CQtUserInterface() override;

    int MessageBox(const std::string& text, const std::string& title, unsigned style) override;
    int DoModal(CDialogModel& dialog) override;
    bool ChooseFile(FileChoice& choice) override;
    void SetWaitCursor(bool on) override;
    void SetTimer(int id, unsigned periodMs) override;
    void KillTimer(int id) override;
    void ShowButton(int commandId, bool visible) override;
    void ShowBar(int barId, bool visible) override;
    bool IsBarVisible(int barId) const override;
    void SetStatusText(int pane, const std::string& text) override;
    void SetCloseEnabled(bool enabled) override;
    void ShowProgressPane(int pane, const ProgressPaneView& view) override;
    void ShowNotice(const std::string& text, const std::string& title, unsigned style) override;
    void JobsChanged() override;
    void CommandStateChanged() override;

    // --- Test hooks ---------------------------------------------------------
    // Answers a message box instead of showing it (called on the UI thread).
    std::function<int(const QString& text, const QString& title, unsigned style)> messageHook;
    // Answers a dialog instead of exec(): receives the core's model and the
    // Qt dialog built for it (controls filled, not shown). kIdOk stores the
    // dialog's controls back into the model, as the OK button does.
    std::function<int(CDialogModel& model, QDialog& dialog)> dialogHook;
    // Chooses a file instead of the file dialog.
    std::function<bool(FileChoice& choice)> fileHook;
    // With manual timers, SetTimer only records the timer; FireTimer ticks it.
    void SetManualTimers(bool manual) { manualTimers_ = manual; }
    bool ManualTimers() const { return manualTimers_; }
    bool IsTimerRunning(int id) const;
    void FireTimer(int id);

    // Message boxes' title when the caller gives none.
    static constexpr const char* kDefaultTitle = "Spindle";

    // True while a command runs (its wait cursor is on): the window's input
    // is held off, not queued, so nothing clicked meanwhile runs afterwards.
    bool InputHeldOff() const { return waitCursorDepth_ > 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int ShowMessageBox(const QString& text, const QString& title, unsigned style);
    bool RunFileDialog(FileChoice& choice);

    CMainWindow& window_;
    std::map<int, QTimer*> timers_;
    std::map<int, bool> manualRunning_;
    bool manualTimers_ = false;
    int waitCursorDepth_ = 0;
};

// Converts a "Description (*.ext)|*.ext|...|" filter into Qt's
// "Description (*.ext);;..." form.
QString QtFileFilter(const std::string& filter);

}  // namespace spindle::gui
