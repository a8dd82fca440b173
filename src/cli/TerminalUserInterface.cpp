#include "TerminalUserInterface.h"

#include <istream>
#include <ostream>

#include "platform/Format.h"
#include "protocol/AllValues.h"

namespace spindle::cli {

namespace {

constexpr unsigned kButtonsMask = 0x000F;
// Pauses shorter than this between redraws are summed, so a save's many
// small pauses do not flood a slow terminal.
constexpr std::uint64_t kRedrawEveryMs = 100;

bool IsYes(const std::string& answer) {
    std::size_t start = answer.find_first_not_of(" \t");
    if (start == std::string::npos) return false;
    const char c = answer[start];
    return c == 'y' || c == 'Y';
}

}  // namespace

CTerminalUserInterface::CTerminalUserInterface(Options options, std::istream& in, std::ostream& err)
    : options_(options), in_(in), err_(err) {}

void CTerminalUserInterface::ClearProgressLine() {
    if (!progressShown_) return;
    err_ << "\r\033[K" << std::flush;
    progressShown_ = false;
}

void CTerminalUserInterface::Emit(const std::string& line) {
    ClearProgressLine();
    ++linesWritten_;
    err_ << line << '\n' << std::flush;
}

int CTerminalUserInterface::MessageBox(const std::string& text, const std::string& /*title*/, unsigned style) {
    std::lock_guard lock(mutex_);
    const unsigned buttons = style & kButtonsMask;
    if (buttons != mb::kYesNo && buttons != mb::kOkCancel && buttons != mb::kYesNoCancel) {
        // Whether the command failed is the operation's outcome, not the box's.
        Emit(text);
        return mb::kIdOk;
    }
    // A question.
    const bool yesNo = buttons == mb::kYesNo || buttons == mb::kYesNoCancel;
    const int yes = yesNo ? mb::kIdYes : mb::kIdOk;
    const int no = yesNo ? mb::kIdNo : mb::kIdCancel;
    if (options_.assumeYes) {
        Emit(text + " [answered yes by --yes]");
        return yes;
    }
    if (!options_.inputIsTerminal) {
        Emit(text);
        Emit("spindle-cli: no terminal to answer this question; run again with --yes to answer yes");
        ++failures_;
        return no;
    }
    ClearProgressLine();
    err_ << text << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(in_, answer)) {
        err_ << '\n';
        return no;
    }
    return IsYes(answer) ? yes : no;
}

bool CTerminalUserInterface::AskYesNo(const std::string& text) {
    return MessageBox(text, "spindle-cli", mb::kYesNo | mb::kIconQuestion) == mb::kIdYes;
}

int CTerminalUserInterface::DoModal(CDialogModel& dialog) {
    std::lock_guard lock(mutex_);
    Error(StrPrintf("the command line cannot show the dialog \"%s\"", dialog.Title().c_str()));
    return mb::kIdCancel;
}

bool CTerminalUserInterface::ChooseFile(FileChoice& choice) {
    std::lock_guard lock(mutex_);
    if (fileAnswer_.empty()) {
        Error(StrPrintf("no file given for \"%s\"", choice.title.c_str()));
        return false;
    }
    choice.chosenPath = fileAnswer_;
    return true;
}

void CTerminalUserInterface::SetWaitCursor(bool on) {
    std::lock_guard lock(mutex_);
    if (on) {
        if (waitDepth_++ == 0) {
            progressMs_ = 0;
            lastDrawnMs_ = 0;
        }
        return;
    }
    if (waitDepth_ > 0 && --waitDepth_ == 0) ClearProgressLine();
}

void CTerminalUserInterface::Progress(std::uint32_t sleptMs) {
    std::lock_guard lock(mutex_);
    progressMs_ += sleptMs;
    if (!options_.errorIsTerminal || waitDepth_ == 0) return;
    if (progressShown_ && progressMs_ - lastDrawnMs_ < kRedrawEveryMs) return;
    lastDrawnMs_ = progressMs_;
    const std::string what = activity_.empty() ? std::string("Working") : activity_;
    const std::string slots = slots_ != nullptr ? SlotProgressText(*slots_) : std::string();
    err_ << "\r\033[K" << what << "... " << StrPrintf("%.1f s", static_cast<double>(progressMs_) / 1000.0)
         << (slots.empty() ? "" : " (" + slots + ")") << std::flush;
    progressShown_ = true;
}

void CTerminalUserInterface::ShowButton(int commandId, bool visible) {
    std::lock_guard lock(mutex_);
    buttons_[commandId] = visible;
}

void CTerminalUserInterface::ShowBar(int barId, bool visible) {
    std::lock_guard lock(mutex_);
    bars_[barId] = visible;
}

bool CTerminalUserInterface::IsBarVisible(int barId) const {
    auto it = bars_.find(barId);
    return it == bars_.end() || it->second;
}

bool CTerminalUserInterface::IsButtonShown(int commandId) const {
    auto it = buttons_.find(commandId);
    return it == buttons_.end() || it->second;
}

void CTerminalUserInterface::Error(const std::string& text) {
    std::lock_guard lock(mutex_);
    Emit("spindle-cli: " + text);
    ++failures_;
}

void CTerminalUserInterface::Note(const std::string& text) {
    std::lock_guard lock(mutex_);
    Emit(text);
}

}  // namespace spindle::cli
