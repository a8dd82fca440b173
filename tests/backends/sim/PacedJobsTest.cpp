// EEPROM jobs on bench devices paced to the host's clock.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <thread>

#include "backends/sim/SimTestRig.h"
#include "device/Families.h"
#include "programming/EepromProgramming.h"

namespace spindle::sim {
namespace {

using test::SimRig;

// An unprogrammed FX2 with a 64 KiB EEPROM (64-byte pages, 5 ms write cycle).
DeviceConfig Fx2(int index, std::uint32_t pageSize) {
    DeviceConfig config;
    config.index = index;
    config.vendorId = 0x04B4;
    config.productId = 0x8613;
    config.eeprom = EepromConfig{0x10000, 2, pageSize, 5};
    return config;
}

struct PacedBench {
    explicit PacedBench(int devices, std::uint32_t pageSize = 64) {
        for (int i = 0; i < devices; ++i) rig.bench->AddDevice(Fx2(i, pageSize));
        rig.bench->SetClock(&rig.clock);
        for (std::uint32_t i = 0; i < 1024; ++i) image.push_back(static_cast<std::uint8_t>(i * 37 + 11));
        bytes = std::make_shared<const std::string>(image.begin(), image.end());
    }
    JobResult Program(int index, Platform& platform) {
        JobEntry entry;
        return ProgramEepromImage(
            platform, {static_cast<std::uint32_t>(index), family::kUnprogrammedFx2, "image.iic", bytes, true, ""}, entry);
    }
    JobResult Program(int index) { return Program(index, rig.platform); }

    SimRig rig{std::make_unique<SimBench>()};
    std::vector<std::uint8_t> image;
    std::shared_ptr<const std::string> bytes;
};

TEST(PacedJobs, TheVirtualClockAdvancesByTheWriteCyclesAndNothingWithoutPacing) {
    // The loader writes a part that takes 64-byte pages in whole pages: 16
    // write cycles for 1 KiB. A part with 32-byte pages wraps the first
    // packet written whole, and gets it again in halves: 1 + 32 cycles. A
    // packet of erased bytes would read back right even wrapped, so it is
    // not the one tried.
    for (const auto [pageSize, cycles] : {std::pair{64u, 16u}, std::pair{32u, 33u}}) {
        std::uint64_t elapsed[2] = {};  // without pacing, with it
        for (bool pace : {false, true}) {
            PacedBench bench(1, pageSize);
            if (pageSize == 32) {
                std::fill_n(bench.image.begin(), 64, 0xFF);
                bench.bytes = std::make_shared<const std::string>(bench.image.begin(), bench.image.end());
            }
            bench.rig.bench->SetPacing(pace);
            const JobResult result = bench.Program(0);
            ASSERT_TRUE(result.Ok() && result.verified) << (result.Problems().empty() ? "" : result.Problems()[0]);
            EXPECT_EQ(bench.rig.bench->Device(0)->Eeprom(0, 1024), bench.image) << pageSize;
            elapsed[pace ? 1 : 0] = bench.rig.clock.NowMs();
        }
        // The write cycles of 5 ms, and the loader's own instructions at
        // 48 MHz on top.
        EXPECT_GE(elapsed[1] - elapsed[0], cycles * 5u) << pageSize;
        EXPECT_LE(elapsed[1] - elapsed[0], cycles * 5u + 20u) << pageSize;
    }
}

// The virtual clock, except that the first thread to wait on it blocks
// there until Open.
class GateClock final : public IClock {
public:
    void Sleep(std::uint32_t ms) override {
        std::unique_lock lock(mutex_);
        if (gated_ == std::thread::id{}) gated_ = std::this_thread::get_id();
        if (std::this_thread::get_id() == gated_) {
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        }
        now_ += ms;
    }
    std::uint64_t NowMs() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    bool WaitUntilBlocked() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return gated_ != std::thread::id{}; });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id gated_;
    bool open_ = false;
    std::uint64_t now_ = 0;
};

TEST(PacedJobs, OneDevicesWriteCycleDoesNotDelayAnotherDevicesJob) {
    PacedBench bench(2);
    GateClock clock;
    bench.rig.bench->SetClock(&clock);
    Platform platform{*bench.rig.bench, clock, bench.rig.trace, bench.rig.ui};
    // Device 0's job stops in its first wait; device 1's whole job runs meanwhile.
    std::promise<JobResult> first;
    std::thread slow([&] { first.set_value(bench.Program(0, platform)); });
    ASSERT_TRUE(clock.WaitUntilBlocked());
    auto other = std::async(std::launch::async, [&] { return bench.Program(1, platform); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "device 1 waited on device 0";
    EXPECT_TRUE(other.get().verified);
    clock.Open();
    slow.join();
    EXPECT_TRUE(first.get_future().get().verified);
}

TEST(PacedJobs, ADeviceUnpluggedMidJobFailsWhileTheOthersFinish) {
    PacedBench probe(1);
    ASSERT_TRUE(probe.Program(0).Ok());
    const std::uint64_t requests = probe.rig.bench->Device(0)->TotalRequests();
    PacedBench bench(3);
    // The cable comes out with the loader running, before the image's write.
    bench.rig.bench->Device(1)->UnplugAfterRequests(requests - 2);
    std::vector<std::future<JobResult>> jobs;
    for (int i = 0; i < 3; ++i) jobs.push_back(std::async(std::launch::async, [&bench, i] { return bench.Program(i); }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(jobs[static_cast<std::size_t>(i)].get().Ok(), i != 1) << i;
        if (i != 1) {
            EXPECT_EQ(bench.rig.bench->Device(i)->Eeprom(0, 1024), bench.image) << i;
        }
    }
    EXPECT_TRUE(bench.rig.bench->Device(1)->IsUnplugged());
}

}  // namespace
}  // namespace spindle::sim
