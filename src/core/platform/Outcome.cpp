#include "platform/Outcome.h"

#include <algorithm>

#include "platform/UserInterface.h"

namespace spindle {

namespace {

// Adds `message` to `into`, counting it with an earlier one of the same text
// and title.
void Fold(std::vector<OutcomeMessage>& into, const OutcomeMessage& message) {
    for (OutcomeMessage& seen : into) {
        if (seen.text == message.text && seen.title == message.title) {
            seen.count += message.count;
            return;
        }
    }
    into.push_back(message);
}

}  // namespace

void Outcome::Fail(std::string what, FailureKind kind) {
    // A box's text may end in line breaks; the failure is named without them.
    while (!what.empty() && what.back() == '\n') what.pop_back();
    if (std::find(failed.begin(), failed.end(), what) == failed.end()) failed.push_back(std::move(what));
    failure = std::max(failure, kind);
}

void Outcome::Met(const OutcomeMessage& message) { Fold(messages, message); }

void Outcome::Take(const Outcome& other) {
    done.insert(done.end(), other.done.begin(), other.done.end());
    for (const OutcomeMessage& message : other.messages) Met(message);
    pending.insert(pending.end(), other.pending.begin(), other.pending.end());
}

void Outcome::Append(const Outcome& other) {
    Take(other);
    for (const std::string& what : other.failed) Fail(what, other.failure);
    failure = std::max(failure, other.failure);
}

std::vector<OutcomeMessage> FoldMessages(const std::vector<OutcomeMessage>& messages) {
    std::vector<OutcomeMessage> folded;
    for (OutcomeMessage message : messages) {
        if ((message.style & 0x0F) != mb::kOk) message.style = (message.style & ~0x0Fu) | mb::kOk;
        Fold(folded, message);
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
