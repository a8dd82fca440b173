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

// How an operation failed. The worst kind met stays: a job stopped on
// request after a failed write is a stopped job. The command-line tool's
// exit status follows it.
enum class FailureKind : int {
    None = 0,
    Refused,  // its input was refused before anything was sent
    Failed,   // the device or the operation failed
    Stopped,  // it was asked to stop and did, part done
};

// What an operation or a job did: the steps it completed, its failures as
// the operator reads them (each once), the kind of failure, and the
// messages it met with their box titles, repeats counted. Whether a message
// is shown already (by the layer that met it, on the user interface it was
// given) or still to be shown is the operation's business: `messages` lists
// them all, `pending` only those the caller must still show. The window
// shows the boxes; the command-line tool prints the same texts on standard
// error and takes its exit status from `failure`.
struct Outcome {
    std::vector<std::string> done;
    std::vector<std::string> failed;
    FailureKind failure = FailureKind::None;
    std::vector<OutcomeMessage> messages;
    std::vector<OutcomeMessage> pending;

    bool Ok() const { return failure == FailureKind::None; }

    void Done(std::string step) { done.push_back(std::move(step)); }
    void Fail(std::string what, FailureKind kind = FailureKind::Failed);
    void Refuse(std::string why) { Fail(std::move(why), FailureKind::Refused); }
    void Stop(std::string what) { Fail(std::move(what), FailureKind::Stopped); }
    // A message the layer that met it has shown already.
    void Met(const OutcomeMessage& message);
    // A message for the caller to show.
    void Show(const OutcomeMessage& message) {
        Met(message);
        pending.push_back(message);
    }
    // Takes in everything a sub-operation did.
    void Append(const Outcome& other);
    // Takes in what a sub-operation did and met, but not how it failed: for
    // a caller that says so in its own words.
    void Take(const Outcome& other);
};

// Shows the outcome's pending messages in order and clears them.
void ShowPendingMessages(IUserInterface& ui, Outcome& outcome);

}  // namespace spindle
