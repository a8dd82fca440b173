#include "support/ScriptedUserInterface.h"

namespace spindle::test {

int ScriptedUserInterface::MessageBox(const std::string& text, const std::string& title, unsigned style) {
    std::lock_guard lock(mutex_);
    messages_.push_back({text, title, style});
    if (answers_.empty()) {
        const unsigned buttons = style & 0xF;
        return buttons == mb::kYesNo ? mb::kIdYes : mb::kIdOk;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

int ScriptedUserInterface::DoModal(CDialogModel& dialog) {
    dialogsShown.push_back(dialog.Title());
    return onDialog ? onDialog(dialog) : mb::kIdCancel;
}

bool ScriptedUserInterface::ChooseFile(FileChoice& choice) {
    fileRequests.push_back(choice);
    if (filesToChoose.empty()) return false;
    choice.chosenPath = filesToChoose.front();
    filesToChoose.pop_front();
    fileRequests.back().chosenPath = choice.chosenPath;
    return true;
}

void ScriptedUserInterface::SetWaitCursor(bool on) {
    waitCursorDepth += on ? 1 : -1;
    ++waitCursorCalls;
}

void ScriptedUserInterface::SetTimer(int id, unsigned periodMs) {
    timers[id] = periodMs;
    timerLog.push_back("set " + std::to_string(id) + " " + std::to_string(periodMs));
}

void ScriptedUserInterface::KillTimer(int id) {
    timers.erase(id);
    timerLog.push_back("kill " + std::to_string(id));
}

void ScriptedUserInterface::ShowButton(int commandId, bool visible) { buttonVisible[commandId] = visible; }

void ScriptedUserInterface::ShowBar(int barId, bool visible) { barVisible[barId] = visible; }

bool ScriptedUserInterface::IsBarVisible(int barId) const {
    const auto it = barVisible.find(barId);
    return it != barVisible.end() && it->second;
}

void ScriptedUserInterface::QueueAnswer(int answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

std::vector<ScriptedUserInterface::Message> ScriptedUserInterface::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> ScriptedUserInterface::MessageTexts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& m : messages_) texts.push_back(m.text);
    return texts;
}

void ScriptedUserInterface::ClearMessages() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace spindle::test
