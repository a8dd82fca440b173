#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/Clock.h"

namespace spindle {

// A clock whose Sleep returns at once and only advances virtual time.
// Every pause is recorded, so tests can assert the exact protocol pauses.
// Thread-safe: programming workers may sleep on it concurrently.
class VirtualClock final : public IClock {
public:
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() const override;

    // Moves virtual time on without recording a pause.
    void Advance(std::uint64_t ms);
    // Every pause taken so far, in order.
    std::vector<std::uint32_t> Sleeps() const;
    // Sum of every pause taken so far.
    std::uint64_t TotalSleptMs() const;
    // Forgets the recorded pauses (virtual time keeps running).
    void ClearSleeps();

private:
    mutable std::mutex mutex_;
    std::uint64_t now_ = 0;
    std::vector<std::uint32_t> sleeps_;
};

}  // namespace spindle
