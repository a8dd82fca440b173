#pragma once
#include <cstdint>
#include <string>

#include "device/EzusbDriver.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"

namespace spindle {

// What the pages of the PSOC diagnostics sheet have in common. A page is a
// dialog model: the front end renders its fields, calls its handlers when
// the operator uses a control, and drives its poll timer. The sheet gives it
// the open device handle before it is shown; a page never opens or closes
// the device. Each handler makes its own CSpecProtocol for its exchanges.
class CPsocPage : public CDialogModel {
public:
    explicit CPsocPage(Platform& platform) : platform_(platform) {}

    int DialogId() const override { return TemplateId(); }
    std::string Title() const override { return Caption(); }
    virtual int TemplateId() const = 0;
    // The template's caption: the page's tab text.
    virtual std::string Caption() const = 0;

    void SetDevice(DeviceHandle handle) { handle_ = handle; }
    DeviceHandle Device() const { return handle_; }

    // The page's first showing: its start sequence.
    virtual void OnInitDialog() = 0;
    // What the last start changed in the device: the steps that worked and,
    // when one failed, that one ("nothing was written" for a page that only
    // reads).
    virtual std::string StartEffect() const { return "nothing was written"; }
    // The sheet's OK (or the window's close): stops the poll timer.
    virtual void OnOK() { StopPollTimer(); }

    // --- The poll timer ----------------------------------------------------
    // The page asks for timer 1; while it runs the front end calls OnTimer(1)
    // every TickPeriodMs(). A page polls the device on every n-th tick.
    static constexpr int kPollTimerId = 1;
    bool PollTimerRunning() const { return pollTimerRunning_; }
    virtual std::uint32_t TickPeriodMs() const { return 0; }
    virtual void OnTimer(int /*timerId*/) {}
    // True once an exchange failed and stopped polling for good; the page
    // says so in PollStateText().
    bool PollingStopped() const { return pollingStopped_; }
    std::string PollStateText() const;

    // Exchanges with the device that failed since the page was made (every
    // request the page's handlers sent counts, polled or not), so a caller
    // can tell values the page shows from values it could not read.
    int FailedExchanges() const { return failedExchanges_; }

    // Enter and Escape close the page (when it runs as a dialog of its own).
    virtual bool ClosesOnEnterAndEscape() const { return true; }

protected:
    void StartPollTimer();
    // After a failed exchange: the timer stops for good (its identifier
    // stays, so a later failure stops it again).
    // Also counts the failed exchange.
    void StopPollingAfterFailure();
    // Counts an exchange; false when it failed.
    bool Exchanged(bool ok) {
        if (!ok) ++failedExchanges_;
        return ok;
    }
    void StopPollTimer() { pollTimerRunning_ = false; }

    Platform& platform_;
    DeviceHandle handle_ = kNullHandle;
    int pollTimerId = 0;  // 0 while no timer was started

private:
    bool pollTimerRunning_ = false;
    bool pollingStopped_ = false;
    int failedExchanges_ = 0;
};

// The bounded fields of the pages: a text longer than its field holds is
// refused with this reason (the field's name and bound), not cut.
std::string FieldTooLong(const char* field, std::size_t bound);

}  // namespace spindle
