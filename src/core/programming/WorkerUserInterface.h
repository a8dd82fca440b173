#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "platform/Outcome.h"
#include "platform/UserInterface.h"

namespace spindle {

// The user interface a programming worker runs its device operations on.
// The boxes those operations would show are kept instead (answered OK), so
// the worker never waits on the window; the job's result lists them and the
// frame shows one completion box for the whole job.
class CWorkerUserInterface final : public IUserInterface {
public:
    int MessageBox(const std::string& text, const std::string& title, unsigned style) override {
        std::lock_guard guard(mutex_);
        boxes_.push_back(OutcomeMessage{text, title, style});
        return (style & 0x0F) == mb::kYesNo || (style & 0x0F) == mb::kYesNoCancel ? mb::kIdNo : mb::kIdOk;
    }
    int DoModal(CDialogModel&) override { return mb::kIdCancel; }
    bool ChooseFile(FileChoice&) override { return false; }

    // Adds the boxes kept so far to `outcome`'s messages. The device layer
    // either shows a box or returns it in its outcome, never both, so none
    // is counted twice.
    void KeepIn(Outcome& outcome) const {
        std::lock_guard guard(mutex_);
        for (const OutcomeMessage& box : boxes_) outcome.Met(box);
    }

private:
    mutable std::mutex mutex_;
    std::vector<OutcomeMessage> boxes_;
};

}  // namespace spindle
