#pragma once
#include <QMainWindow>
#include <QStackedWidget>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "QtUserInterface.h"
#include "ResponsiveClock.h"
#include "app/ApplicationProfile.h"
#include "app/MainFrame.h"
#include "platform/Platform.h"

class QLabel;
class QPushButton;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QDockWidget;

namespace spindle::gui {

class CLeftView;
class CSpindleView;
class CProgressBar;

// How the window was started.
struct WindowOptions {
    // Set when the devices are simulated: the title says so.
    bool simulatedBench = false;
    // Why the USB back end could not start (the driver then has no devices):
    // the list area says so.
    std::string backendError;
};

// Where a bar is docked, and whether it is shown: the one-line text kept
// under "MainBars" and "ManufacturingBars" ("Area=Top;Visible=1;Row=0").
struct BarState {
    Qt::ToolBarArea area = Qt::TopToolBarArea;
    bool visible = true;
    int row = 0;
};
std::string FormatBarState(const BarState& state);
// Nothing for a text that is not a bar state.
std::optional<BarState> ParseBarState(const std::string& text);

// The main window: renders the core CMainFrame (device tree left, stored-
// value list right, the main and manufacturing bars, the File and Help menus
// and the status bar) and forwards every command and gesture to it. It holds
// no command logic of its own.
class CStartPanel;

class CMainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Lumora, Inc. Spindle";
    static constexpr const char* kSimulatedSuffix = " \u2014 simulated bench";
    static constexpr int kDevicePanes = 8;

    CMainWindow(IEzusbDriver& driver, IClock& clock, IDebugTrace& trace, const WindowOptions& options = {});
    ~CMainWindow() override;

    // Builds the window and runs the start-up steps: settings, splitter,
    // placement, status bar, bars and their saved states, the countdown timer
    // and the first Refresh Tree. Separate from the constructor so tests can
    // set the port's hooks first. Show the window afterwards (maximized when
    // StartMaximized()).
    void Start();
    bool StartMaximized() const { return startMaximized_; }

    CMainFrame& Frame() { return frame_; }
    CQtUserInterface& Ui() { return ui_; }
    CLeftView* TreeView() const { return treeView_; }
    CSpindleView* ListView() const { return listView_; }
    QSplitter* Splitter() const { return splitter_; }
    // Shown in the list's place while no device is listed.
    CStartPanel* StartPanel() const { return startPanel_; }
    // "Open the Demo Bench": by default starts this program again on the
    // demo bench and closes this window; tests put their own here.
    std::function<void()> openDemoBench;
    QToolBar* Bar(int barId) const;
    QPushButton* Button(int commandId) const;
    QAction* MenuAction(int commandId) const;
    QLabel* MessagePane() const { return messagePane_; }
    CProgressBar* DevicePane(int pane) const;
    bool IsCloseEnabled() const { return closeEnabled_; }

    // Selects the first tree item with this text (surrounding blanks aside),
    // as a click would; false when there is none.
    bool SelectTreeItem(const QString& text);
    // Runs a command by id as its button or menu entry does.
    void Dispatch(int commandId);

    // --- Targets of the user-interface port --------------------------------
    void ShowButton(int commandId, bool visible);
    void ShowBar(int barId, bool visible);
    bool IsBarVisible(int barId) const;
    void SetStatusText(int pane, const QString& text);
    void SetCloseEnabled(bool enabled);
    void ShowProgressPane(int pane, const ProgressPaneView& view);
    // A box that stays up without holding anything up (a job's completion).
    void ShowNotice(const QString& text, const QString& title, unsigned style);
    // Fills the jobs panel from the frame's job table; the panel shows
    // itself when the first job starts.
    void RefreshJobs();
    QTreeWidget* JobsPanel() const { return jobsList_; }
    QDockWidget* JobsDock() const { return jobsDock_; }
    // "N jobs running", shown while a device without a pane of its own runs one.
    QLabel* JobsPane() const { return jobsPane_; }
    // Asks the frame for the enable state of every button and of File, Exit.
    void RefreshCommandStates();
    void OnTimerTick(int timerId);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildViews();
    void BuildMenus();
    void BuildStatusBar();
    void BuildBars();
    QToolBar* MakeBar(int barId, const char* title, const char* profileName,
                      std::initializer_list<std::pair<int, const char*>> buttons);
    void RestorePlacement();
    void FitTreeOnFirstStart();
    void RestoreBarStates();
    void SyncStartPanel();
    void SyncJobsPane(const std::vector<JobRow>& rows);
    void OpenDemoBench();
    void SaveState();
    BarState CurrentBarState(QToolBar* bar) const;

    CQtUserInterface ui_;
    CResponsiveClock clock_;
    Platform platform_;
    CMainFrame frame_;
    CApplicationProfile profile_;
    WindowOptions options_;

    CLeftView* treeView_ = nullptr;
    CSpindleView* listView_ = nullptr;
    CStartPanel* startPanel_ = nullptr;
    QStackedWidget* listArea_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QToolBar* mainBar_ = nullptr;
    QToolBar* manufacturingBar_ = nullptr;
    std::map<int, QPushButton*> buttons_;
    std::map<int, QAction*> buttonActions_;
    std::map<int, QAction*> menuActions_;
    QLabel* messagePane_ = nullptr;
    std::array<CProgressBar*, kDevicePanes> devicePanes_{};
    QDockWidget* jobsDock_ = nullptr;
    QTreeWidget* jobsList_ = nullptr;
    QLabel* jobsPane_ = nullptr;
    std::set<std::uint32_t> runningJobs_;  // devices whose jobs ran at the last refresh
    bool closeEnabled_ = true;
    bool startMaximized_ = false;
    bool started_ = false;
    bool closed_ = false;
    QString baseTitle_;
};

}  // namespace spindle::gui
