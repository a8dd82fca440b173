#pragma once
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/Progress.h"
#include "platform/UserInterface.h"

namespace spindle::cli {

// The user-interface port for a terminal. Message boxes become lines on
// standard error with their exact texts; questions are answered by --yes or
// asked on the terminal; dialogs and file choices are answered by the command
// being run (from its arguments). Boxes only inform: whether a command
// failed comes from its operation's outcome (see CCliSession::Record) and
// from the failures the tool itself meets here (an unanswerable question, a
// dialog or file choice the arguments do not answer, Error()).
class CTerminalUserInterface final : public IUserInterface {
public:
    struct Options {
        bool assumeYes = false;         // --yes
        bool inputIsTerminal = false;   // questions may be asked on standard input
        bool errorIsTerminal = false;   // progress lines may be drawn on standard error
    };
    // Fills a dialog from the command's arguments; returns mb::kIdOk or mb::kIdCancel.

    CTerminalUserInterface(Options options, std::istream& in, std::ostream& err);

    int MessageBox(const std::string& text, const std::string& title, unsigned style) override;
    int DoModal(CDialogModel& dialog) override;
    bool ChooseFile(FileChoice& choice) override;
    void SetWaitCursor(bool on) override;
    void ShowButton(int commandId, bool visible) override;
    void ShowBar(int barId, bool visible) override;
    bool IsBarVisible(int barId) const override;

    // Whether the core left a button shown (buttons start shown, as the bars
    // are built with all of them).
    bool IsButtonShown(int commandId) const;

    // What the next file choices are answered with. Without an answer a file
    // choice is refused, and a dialog is always cancelled: the command line
    // cannot show them, so both count as failures.
    void SetFileAnswer(std::string path) { fileAnswer_ = std::move(path); }

    // A yes/no question of the tool's own, through the same rules as the
    // core's questions. True for Yes.
    bool AskYesNo(const std::string& text);

    // A failure the tool itself found: "spindle-cli: <text>" on standard
    // error, and the command fails.
    void Error(const std::string& text);
    // A note on standard error that does not make the command fail.
    void Note(const std::string& text);
    bool Failed() const { return failures_ > 0; }
    // Whether any box, question, error or note reached standard error.
    bool SaidAnything() const { return linesWritten_ > 0; }

    // The progress line: what is being done, the pauses taken so far and
    // how far the frame's slot loop is (`slots`, the frame's progress).
    void SetActivity(const std::string& text) { activity_ = text; }
    void FollowSlots(const CProgress* slots) {
        std::lock_guard lock(mutex_);
        slots_ = slots;
    }
    void Progress(std::uint32_t sleptMs);

private:
    void ClearProgressLine();
    void Emit(const std::string& line);

    Options options_;
    std::istream& in_;
    std::ostream& err_;
    std::recursive_mutex mutex_;
    std::string fileAnswer_;
    std::map<int, bool> buttons_;
    std::map<int, bool> bars_;
    int failures_ = 0;
    int linesWritten_ = 0;
    int waitDepth_ = 0;
    bool progressShown_ = false;
    std::uint64_t progressMs_ = 0;
    std::uint64_t lastDrawnMs_ = 0;
    std::string activity_;
    const CProgress* slots_ = nullptr;
};

// A clock decorator that feeds every pause into the progress line.
class CProgressClock final : public IClock {
public:
    CProgressClock(IClock& inner, CTerminalUserInterface& ui) : inner_(inner), ui_(ui) {}
    void Sleep(std::uint32_t ms) override {
        inner_.Sleep(ms);
        ui_.Progress(ms);
    }
    std::uint64_t NowMs() const override { return inner_.NowMs(); }

private:
    IClock& inner_;
    CTerminalUserInterface& ui_;
};

}  // namespace spindle::cli
