#include "platform/VirtualClock.h"

#include <numeric>

namespace spindle {

void VirtualClock::Sleep(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
    sleeps_.push_back(ms);
}

std::uint64_t VirtualClock::NowMs() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::Advance(std::uint64_t ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
}

std::vector<std::uint32_t> VirtualClock::Sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

std::uint64_t VirtualClock::TotalSleptMs() const {
    std::lock_guard lock(mutex_);
    return std::accumulate(sleeps_.begin(), sleeps_.end(), std::uint64_t{0});
}

void VirtualClock::ClearSleeps() {
    std::lock_guard lock(mutex_);
    sleeps_.clear();
}

}  // namespace spindle
