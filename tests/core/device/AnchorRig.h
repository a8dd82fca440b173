#pragma once
// A CAnchor on the scripted driver, with a virtual clock, a memory trace and
// a scripted user interface: the device-layer tests' common rig.
#include "device/Anchor.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

struct AnchorRig {
    // Every request with this code fails from now on.
    void FailCode(std::uint32_t code) { driver.FailNext(code, 1 << 20); }

    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    CAnchor anchor{platform};
};

}  // namespace spindle::test
