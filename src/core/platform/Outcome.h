#pragma once
#include <string>
#include <utility>
#include <vector>

namespace spindle {

class IUserInterface;

// One message an operation met, as its box shows it.
struct OutcomeMessage {
    std::string text;
    std::string title;
    unsigned style = 0;
    unsigned count = 1;  // how many times it was met (repeats folded into one)
};

// The messages in first-met order, each text and title once with the times
// it was met, questions shown as notices (they were answered already).
std::vector<OutcomeMessage> FoldMessages(const std::vector<OutcomeMessage>& messages);
// The text a folded message is shown with: as met, and "(met N times)" after
// it when it was met more than once.
std::string ShownText(const OutcomeMessage& message);

// What an operation did: the steps it completed, the steps that failed and
// the messages it met, in order. The command handler shows the messages; the
// command-line tool takes its exit status from Ok(). Whether a message is
// shown already (by the layer that met it) or still to be shown is the
// operation's business: `messages` lists them all, `pending` only those the
// handler must still show.
struct Outcome {
    std::vector<std::string> done;
    std::vector<std::string> failed;
    std::vector<OutcomeMessage> messages;
    std::vector<OutcomeMessage> pending;

    bool Ok() const { return failed.empty(); }

    void Done(std::string step) { done.push_back(std::move(step)); }
    void Fail(std::string step) { failed.push_back(std::move(step)); }
    // A message the layer that met it has shown already.
    void Met(OutcomeMessage message) { messages.push_back(std::move(message)); }
    // A message for the handler to show.
    void Show(OutcomeMessage message) {
        messages.push_back(message);
        pending.push_back(std::move(message));
    }
    // Takes in what a sub-operation did.
    void Append(const Outcome& other);
};

// Shows the outcome's pending messages in order and clears them.
void ShowPendingMessages(IUserInterface& ui, Outcome& outcome);

}  // namespace spindle
