// Devices that come and go on the bench's clock: during a scan, during a
// job, and after a job that waits for its device to come back.
#include <gtest/gtest.h>

#include "device/Families.h"
#include "inventory/DeviceScan.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "programming/JobRunner.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

// Kestrels KES1023<index> with firmware 3.20.1; `extra` adds members to each.
std::unique_ptr<sim::SimBench> Kestrels(const std::vector<std::string>& extra) {
    std::string devices;
    for (std::size_t i = 0; i < extra.size(); ++i) {
        devices += std::string(i == 0 ? "" : ",") + R"({"index": )" + std::to_string(i) +
                   R"(, "vendorId": "0xFA57", "productId": "0x1002", "strings": {"1": "Kestrel 3.20.1"},
                      "slots": {"0": "KES1023)" + std::to_string(i) + "\"}" + extra[i] + "}";
    }
    return sim::LoadBenchFromJson(nlohmann::ordered_json::parse(
        R"({"pacing": false, "reconnectMs": 1500, "devices": [)" + devices + "]}"));
}

// A boot image for the EZ-USB that enumerates as `product` of the maker.
std::string BootImage(std::uint16_t product, std::size_t length = 1024) {
    std::string image(length, '\x5A');
    const char header[] = {'\xB2', '\x57', '\xFA', static_cast<char>(product & 0xFF), static_cast<char>(product >> 8)};
    image.replace(0, sizeof header, header, sizeof header);
    return image;
}

struct Rig {
    explicit Rig(std::unique_ptr<sim::SimBench> made) : bench(std::move(made)) { bench->SetClock(&clock); }
    JobResult Program(std::uint32_t index, const std::string& image, bool confirm = true) {
        runner.StartEeprom({index, family::kKestrel, "image.iic", std::make_shared<const std::string>(image), true, ""},
                           0, 0, confirm ? family::kKestrel : 0);
        runner.WaitForJobs();
        return runner.Entries()[index].result;
    }
    std::unique_ptr<sim::SimBench> bench;
    VirtualClock clock;
    NullDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
    CJobRunner runner{platform};
};

TEST(BenchBus, DevicesArriveAndLeaveDuringAScanAndAJobOnTheClock) {
    Rig rig(Kestrels({"", R"(, "leavesAfterMs": 500)", R"(, "arrivesAfterMs": 500)", R"(, "leavesAfterMs": 2)"}));
    EXPECT_FALSE(rig.bench->Present(2));
    const std::uint64_t before = rig.bench->BusGeneration();
    // The scan takes a second on device 0: device 1 is gone by the time it
    // is reached, device 2 there, and device 3 left in that second too.
    rig.bench->Device(0)->SetCommandHook([&](const std::vector<std::uint8_t>&, auto&) {
        rig.clock.Sleep(1000);
        return false;
    });
    JobBusyFlags busy{};
    DeviceRecordTable records{};
    CDeviceTree tree;
    ScanDevices(rig.platform, busy, records, tree);
    EXPECT_EQ(std::vector<std::string>({records[0].serial, records[1].serial, records[2].serial}),
              std::vector<std::string>({"KES10230", "KES10232", ""}));
    EXPECT_EQ(rig.bench->BusGeneration(), before + 3);
    // A device that leaves while its job runs fails that job, and only that
    // one; its handles are gone with it and it does not come back.
    rig.bench->Device(0)->SetCommandHook(nullptr);
    rig.bench->SetPacing(true);
    const auto add = [&](int index, const std::string& extra) {
        rig.bench->AddDevice(sim::DeviceConfigFromJson(nlohmann::ordered_json::parse(
            R"({"index": )" + std::to_string(index) + R"(, "vendorId": "0xFA57", "productId": "0x1002")" + extra + "}")));
    };
    add(4, "");
    const std::uint64_t start = rig.clock.NowMs();
    ASSERT_TRUE(rig.Program(4, BootImage(0x1002, 16384), false).verified);
    const std::uint64_t took = rig.clock.NowMs() - start;
    add(5, R"(, "leavesAfterMs": )" + std::to_string(rig.clock.NowMs() + took / 4));
    const JobResult cut = rig.Program(5, BootImage(0x1002, 16384), false);
    EXPECT_FALSE(cut.Ok());
    EXPECT_GT(cut.bytesWritten, 0u);
    EXPECT_LT(cut.bytesWritten, 16384u);
    EXPECT_EQ(rig.bench->OpenHandleCount(5), 0);
    EXPECT_FALSE(rig.bench->Present(5));
}

TEST(ReconnectCheck, AJobThatWorkedWaitsForItsDeviceAndSaysWhatCameBack) {
    Rig rig(Kestrels({"", R"(, "reconnectMs": "never")", ""}));
    const std::uint64_t generation = rig.bench->BusGeneration();
    // Device 0 leaves as its job lets go, and is back 1.5 s later.
    const JobResult back = rig.Program(0, BootImage(0x1002));
    EXPECT_TRUE(back.Ok()) << back.Problems().front();
    EXPECT_EQ(back.cameBackAs, "Kestrel KES10230, firmware 3.20.1");
    EXPECT_EQ(back.outcome.done.back(), "came back as Kestrel KES10230, firmware 3.20.1");
    EXPECT_EQ(rig.bench->BusGeneration(), generation + 2);
    EXPECT_GE(rig.clock.NowMs(), 1500u);
    EXPECT_LT(rig.clock.NowMs(), 2500u);
    // One that never comes back fails the job after 60 s; the write stands.
    const std::uint64_t start = rig.clock.NowMs();
    const JobResult gone = rig.Program(1, BootImage(0x1002));
    EXPECT_TRUE(gone.verified);
    EXPECT_EQ(gone.Problems(), std::vector<std::string>{
                                   "the device did not come back within 60 s (it left the bus and did not return)"});
    EXPECT_GE(rig.clock.NowMs() - start, 60000u);
    EXPECT_EQ(rig.runner.Entries()[1].secondsLeft.load(), 0);
    // An image that makes a Heron of it: the device is back, as another family.
    const JobResult other = rig.Program(2, BootImage(0x1004));
    EXPECT_EQ(other.cameBackAs, "Heron KES10232, firmware 3.20.1");
    EXPECT_EQ(other.Problems(), std::vector<std::string>{
                                    "the device came back as Heron KES10232, firmware 3.20.1, another family than before"});
    // A failed job waits for nothing: its device did not renumerate.
    rig.bench->Device(0)->SetRequestFails(ioctl::kVendorOrClassRequest, true);
    const std::uint64_t failedAt = rig.clock.NowMs();
    EXPECT_TRUE(rig.Program(0, BootImage(0x1002)).cameBackAs.empty());
    EXPECT_LT(rig.clock.NowMs() - failedAt, 1500u);
    EXPECT_TRUE(rig.bench->Present(0));
}

}  // namespace
}  // namespace spindle::test
