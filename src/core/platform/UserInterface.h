#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace spindle {

// Message box styles and answers, with the numeric values the operator-facing
// texts were designed around (so a style such as 0x2010 reads the same here).
namespace mb {
inline constexpr unsigned kOk = 0x0000;
inline constexpr unsigned kOkCancel = 0x0001;
inline constexpr unsigned kYesNoCancel = 0x0003;
inline constexpr unsigned kYesNo = 0x0004;
inline constexpr unsigned kIconError = 0x0010;
inline constexpr unsigned kIconQuestion = 0x0020;
inline constexpr unsigned kIconWarning = 0x0030;
inline constexpr unsigned kIconInformation = 0x0040;
inline constexpr unsigned kTaskModal = 0x2000;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
}  // namespace mb

// The title of the program's own boxes.
inline constexpr const char* kAppTitle = "Spindle";

// Base of every modal dialog's logic class. The core fills and reads the
// dialog's members; a front end renders it (by its id) and lets the operator
// change the members before DoModal returns.
class CDialogModel {
public:
    virtual ~CDialogModel() = default;
    virtual int DialogId() const = 0;
    virtual std::string Title() const = 0;
};

// A request for the operator to choose a file.
struct FileChoice {
    bool forOpening = true;
    std::string title;
    // Filter in the "Description (*.ext)|*.ext|" form.
    std::string filter;
    std::string defaultExtension;
    std::string initialFolder;
    std::string initialName;
    // Filled in when the operator chose a file.
    std::string chosenPath;
};

// How one status-bar pane with its progress bar looks. A device pane starts
// closed (no width, no border); a job opens it.
struct ProgressPaneView {
    bool open = false;
    int width = 0;  // pixels
    bool barShown = false;
    int maximum = 100;
    int position = 0;
    std::string text;
    unsigned barColour = 0xFF0000;  // 0xRRGGBB
    unsigned backgroundColour = 0x000000;
};

// Everything the core asks of a front end. Implemented by the Qt window, the
// command-line tool and the scripted fake the tests use.
//
// Thread rule: MessageBox may be called from any thread (programming workers
// report their own completion); an implementation must marshal it onto its
// user-interface thread and block the caller until it is answered. Every other
// call comes from the user-interface thread.
class IUserInterface {
public:
    virtual ~IUserInterface() = default;

    // Shows a message box and returns the button pressed (mb::kIdOk, ...).
    virtual int MessageBox(const std::string& text, const std::string& title, unsigned style) = 0;

    // Shows a box that does not hold up the caller; several may be up at
    // once (one per finished programming job). By default a message box.
    virtual void ShowNotice(const std::string& text, const std::string& title, unsigned style) {
        MessageBox(text, title, style);
    }

    // Runs a modal dialog; returns mb::kIdOk or mb::kIdCancel.
    virtual int DoModal(CDialogModel& dialog) = 0;

    // Asks for a file; true with choice.chosenPath set when one was chosen.
    virtual bool ChooseFile(FileChoice& choice) = 0;

    // Wait cursor on or off around long synchronous commands.
    virtual void SetWaitCursor(bool /*on*/) {}

    // Frame timers by id (999 and 998 count down programming jobs).
    virtual void SetTimer(int /*id*/, unsigned /*periodMs*/) {}
    virtual void KillTimer(int /*id*/) {}

    // Shows or hides a bar button by its command id, or a whole bar by its id.
    virtual void ShowButton(int /*commandId*/, bool /*visible*/) {}
    virtual void ShowBar(int /*barId*/, bool /*visible*/) {}
    virtual bool IsBarVisible(int /*barId*/) const { return false; }

    // Status bar: pane 0 is the message pane, panes 1 to 8 the device panes.
    virtual void SetStatusText(int /*pane*/, const std::string& /*text*/) {}
    // Device pane `pane` (1 to 8) and its progress bar changed.
    virtual void ShowProgressPane(int /*pane*/, const ProgressPaneView& /*view*/) {}
    // The programming jobs changed (one started, moved on or finished); the
    // front end asks CMainFrame::JobRows again.
    virtual void JobsChanged() {}
    // The window's close box and File, Exit (taken away while devices are busy).
    virtual void SetCloseEnabled(bool /*enabled*/) {}
    // The enable state of bar buttons changed; the front end asks
    // CMainFrame::IsCommandEnabled for each button again.
    virtual void CommandStateChanged() {}
};

}  // namespace spindle
