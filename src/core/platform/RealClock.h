#pragma once
#include "platform/Clock.h"

namespace spindle {

// The wall clock: std::this_thread::sleep_for and steady_clock.
class RealClock final : public IClock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() const override;
};

}  // namespace spindle
