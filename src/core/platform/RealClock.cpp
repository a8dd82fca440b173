#include "platform/RealClock.h"

#include <sys/prctl.h>

#include <chrono>
#include <thread>

namespace spindle {

void RealClock::Sleep(std::uint32_t ms) {
    // The protocol's pauses are short and many (10 ms after every bulk
    // write): the kernel's default slack of 50 us on each wake-up adds up
    // over a stream of packets, so a thread that pauses asks for none.
    thread_local const bool tight = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    static_cast<void>(tight);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t RealClock::NowMs() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace spindle
