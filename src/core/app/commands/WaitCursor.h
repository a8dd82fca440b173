#pragma once
#include "platform/UserInterface.h"

namespace spindle {

// Keeps the wait cursor on for the life of one command, whatever way it ends.
class WaitCursor {
public:
    explicit WaitCursor(IUserInterface& ui) : ui_(ui) { ui_.SetWaitCursor(true); }
    ~WaitCursor() { ui_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IUserInterface& ui_;
};

}  // namespace spindle
