#pragma once
#include "device/WarningScope.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"

namespace spindle {

// Keeps the wait cursor on for the life of one command, whatever way it ends,
// and holds the command's USB warnings together: a repeated warning is shown
// once, and the command's end says in the message pane how many requests
// failed.
class WaitCursor {
public:
    explicit WaitCursor(IUserInterface& ui) : ui_(ui) { ui_.SetWaitCursor(true); }
    ~WaitCursor() {
        ui_.SetWaitCursor(false);
        if (warnings_.Outermost() && warnings_.Repeats() > 0) {
            ui_.SetStatusText(0, StrPrintf("%d requests failed; repeated warnings were shown once.",
                                           warnings_.Failures()));
        }
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IUserInterface& ui_;
    CWarningScope warnings_;
};

}  // namespace spindle
