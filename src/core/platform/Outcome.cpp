#include "platform/Outcome.h"

#include "platform/UserInterface.h"

namespace spindle {

void Outcome::Append(const Outcome& other) {
    done.insert(done.end(), other.done.begin(), other.done.end());
    failed.insert(failed.end(), other.failed.begin(), other.failed.end());
    messages.insert(messages.end(), other.messages.begin(), other.messages.end());
    pending.insert(pending.end(), other.pending.begin(), other.pending.end());
}

std::vector<OutcomeMessage> FoldMessages(const std::vector<OutcomeMessage>& messages) {
    std::vector<OutcomeMessage> folded;
    for (const OutcomeMessage& message : messages) {
        bool known = false;
        for (OutcomeMessage& seen : folded) {
            if (seen.text == message.text && seen.title == message.title) {
                seen.count += message.count;
                known = true;
                break;
            }
        }
        if (known) continue;
        folded.push_back(message);
        const unsigned buttons = message.style & 0x0F;
        if (buttons != mb::kOk) folded.back().style = (message.style & ~0x0Fu) | mb::kOk;
    }
    return folded;
}

std::string ShownText(const OutcomeMessage& message) {
    if (message.count <= 1) return message.text;
    std::string text = message.text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text + " (met " + std::to_string(message.count) + " times)";
}

void ShowPendingMessages(IUserInterface& ui, Outcome& outcome) {
    for (const OutcomeMessage& message : outcome.pending) ui.MessageBox(message.text, message.title, message.style);
    outcome.pending.clear();
}

}  // namespace spindle
