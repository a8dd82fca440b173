#include "tools/PsocPage.h"

#include "platform/Format.h"

namespace spindle {

std::string CPsocPage::PollStateText() const {
    if (pollingStopped_) return "Polling stopped: the device did not answer.";
    return pollTimerRunning_ ? "Polling" : "";
}

void CPsocPage::StartPollTimer() {
    pollTimerId = kPollTimerId;
    pollTimerRunning_ = true;
}

void CPsocPage::StopPollingAfterFailure() {
    ++failedExchanges_;
    if (pollTimerId != 0) {
        pollTimerRunning_ = false;
        pollingStopped_ = true;
    }
}

std::string FieldTooLong(const char* field, std::size_t bound) {
    return StrPrintf("\"%s\" takes at most %zu characters.", field, bound);
}

}  // namespace spindle
