#pragma once
#include <cstdint>

#include "platform/Clock.h"

namespace spindle::gui {

// The clock the window gives the core. Commands run on the user-interface
// thread, and the long ones are long because of the protocol's pauses; a
// pause taken there is cut into short slices between which the window's
// events are handled, so it keeps painting (the message pane shows how far
// the command is). Input meanwhile is held off by the user interface while
// its wait cursor is on. Pauses on worker threads pass straight through.
class CResponsiveClock final : public IClock {
public:
    explicit CResponsiveClock(IClock& inner) : inner_(inner) {}

    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() const override { return inner_.NowMs(); }

    // The longest the window goes without handling its events.
    static constexpr std::uint32_t kSliceMs = 20;

private:
    IClock& inner_;
};

}  // namespace spindle::gui
