#pragma once
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/UserInterface.h"

namespace spindle::test {

// A user-interface port that records everything the core shows and answers
// from a script. Thread-safe for MessageBox, which workers may call.
class ScriptedUserInterface : public IUserInterface {
public:
    struct Message {
        std::string text;
        std::string title;
        unsigned style = 0;
    };

    int MessageBox(const std::string& text, const std::string& title, unsigned style) override;
    int DoModal(CDialogModel& dialog) override;
    bool ChooseFile(FileChoice& choice) override;
    void SetWaitCursor(bool on) override;
    void SetTimer(int id, unsigned periodMs) override;
    void KillTimer(int id) override;
    void ShowButton(int commandId, bool visible) override;
    void SetStatusText(int pane, const std::string& text) override {
        statusTexts[pane] = text;
        if (pane == 0) messagePaneLog.push_back(text);
    }
    void ShowBar(int barId, bool visible) override;
    void ShowProgressPane(int pane, const ProgressPaneView& view) override { panes[pane] = view; }
    void SetCloseEnabled(bool enabled) override { closeEnabled = enabled; }
    bool IsBarVisible(int barId) const override;

    // Script: answers for message boxes (kIdOk when the queue is empty),
    // a handler for modal dialogs (kIdCancel without one), and files to choose.
    void QueueAnswer(int answer);
    std::function<int(CDialogModel&)> onDialog;
    std::deque<std::string> filesToChoose;

    // What was shown.
    std::vector<Message> Messages() const;
    std::vector<std::string> MessageTexts() const;
    void ClearMessages();
    std::vector<FileChoice> fileRequests;
    std::vector<std::string> dialogsShown;  // titles, in order
    std::map<int, bool> buttonVisible;      // command id -> last visibility set
    std::map<int, std::string> statusTexts; // pane -> last text set
    std::vector<std::string> messagePaneLog; // every text pane 0 was given, in order
    std::map<int, bool> barVisible;         // bar id -> last visibility set
    std::map<int, unsigned> timers;         // running timers: id -> period
    std::vector<std::string> timerLog;      // "set 999 1000", "kill 999", ...
    std::map<int, ProgressPaneView> panes;  // device pane -> last look given
    bool closeEnabled = true;
    int waitCursorDepth = 0;
    int waitCursorCalls = 0;

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::deque<int> answers_;
};

}  // namespace spindle::test
