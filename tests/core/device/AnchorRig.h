#pragma once
// A CAnchor on the recording driver, with a virtual clock, a memory trace
// and a scripted user interface: the device-layer tests' common rig.
#include "core/device/RecordingDriver.h"
#include "device/Anchor.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

struct AnchorRig {
    RecordingDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    CAnchor anchor{platform};
};

}  // namespace spindle::test
