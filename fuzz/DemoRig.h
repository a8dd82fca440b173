#pragma once
// The demo bench behind a platform with a virtual clock, for the targets
// that run commands on simulated devices.
#include <memory>

#include "FuzzSupport.h"
#include "platform/DebugTrace.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"

namespace spindle::fuzz {

struct DemoRig {
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    VirtualClock clock;
    NullDebugTrace trace;
    QuietUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
};

}  // namespace spindle::fuzz
