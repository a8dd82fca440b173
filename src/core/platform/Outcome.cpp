#include "platform/Outcome.h"

#include "platform/UserInterface.h"

namespace spindle {

void Outcome::Append(const Outcome& other) {
    done.insert(done.end(), other.done.begin(), other.done.end());
    failed.insert(failed.end(), other.failed.begin(), other.failed.end());
    messages.insert(messages.end(), other.messages.begin(), other.messages.end());
    pending.insert(pending.end(), other.pending.begin(), other.pending.end());
}

void ShowPendingMessages(IUserInterface& ui, Outcome& outcome) {
    for (const OutcomeMessage& message : outcome.pending) ui.MessageBox(message.text, message.title, message.style);
    outcome.pending.clear();
}

}  // namespace spindle
