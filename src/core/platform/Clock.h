#pragma once
#include <cstdint>

namespace spindle {

// Time as the core sees it. Every protocol pause goes through Sleep so that
// tests can run them on a virtual clock and assert each one.
class IClock {
public:
    virtual ~IClock() = default;
    // Blocks the calling thread for ms milliseconds (virtually, in tests).
    virtual void Sleep(std::uint32_t ms) = 0;
    // Monotonic milliseconds since an arbitrary origin.
    virtual std::uint64_t NowMs() const = 0;
};

}  // namespace spindle
