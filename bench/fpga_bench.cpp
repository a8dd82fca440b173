// FPGA jobs with the real clock: our player loaded into Falcons like the
// demo bench's, the example design streamed to one of them and then to four
// at once, on the simulated bench and, where umockdev is there, through the
// libusb back end over emulated USB buses. The fixed 5 s and 10 s waits are
// left out of the stream's time. Prints per back end
//   stream wall / (packets x 10 ms)   target at most 1.05 (the host's pause
//                                     after each packet is all it waits)
//   wall(4) / wall(1)                 target at most 1.1 (the streams overlap)
// and how much of one stream went to the requests (the emulated chip and the
// bus) against the host's own share.
//
//   bench_fpga
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/EzusbRequests.h"
#include "platform/BoundedFile.h"
#include "platform/DebugTrace.h"
#include "platform/RealClock.h"
#include "platform/UserInterface.h"
#include "programming/FpgaProgramming.h"
#include "programming/XsvfFile.h"
#include "BenchBackends.h"
#include "sim/SimBench.h"

namespace {

using namespace spindle;
using Steady = std::chrono::steady_clock;

class QuietUi final : public IUserInterface {
public:
    int MessageBox(const std::string&, const std::string&, unsigned) override { return mb::kIdOk; }
    int DoModal(CDialogModel&) override { return mb::kIdCancel; }
    bool ChooseFile(FileChoice&) override { return false; }
};

// The real clock, noting when each thread's first long wait (the 10 s after
// the stream) began.
class WaitClock final : public IClock {
public:
    void Sleep(std::uint32_t ms) override {
        const auto begin = Steady::now();
        if (ms >= kFpgaSettleMs) {
            const std::lock_guard<std::mutex> guard(lock_);
            settled_.emplace(std::this_thread::get_id(), begin);
        }
        real_.Sleep(ms);
    }
    std::uint64_t NowMs() const override { return real_.NowMs(); }
    Steady::time_point Settled() {
        const std::lock_guard<std::mutex> guard(lock_);
        return settled_.at(std::this_thread::get_id());
    }

private:
    RealClock real_;
    std::mutex lock_;
    std::map<std::thread::id, Steady::time_point> settled_;
};

// A driver that adds up the time spent in its requests and counts the writes.
class TimedDriver final : public IEzusbDriver {
public:
    explicit TimedDriver(IEzusbDriver& inner) : inner_(inner) {}
    DeviceHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        const auto begin = Steady::now();
        const bool done = inner_.IoControl(handle, code, in, inLength, out, outLength, returned);
        const std::lock_guard<std::mutex> guard(lock_);
        inside += Steady::now() - begin;
        if (code == ioctl::kBulkWrite) ++writes;
        return done;
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }
    Steady::duration inside{};
    int writes = 0;

private:
    IEzusbDriver& inner_;
    std::mutex lock_;
};

double Seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }

struct Streams {
    double wall = 0;          // the longest stream, without the fixed waits
    std::uint32_t packets = 0;  // of one stream
    double inside = 0;        // in the requests, over every stream
    int writes = 0;
    bool ok = true;           // every job worked and configured its chain
};

// FPGA jobs on `devices` Falcons at once, each step as ProgramFpga runs it.
Streams Stream(int devices, bool viaLibusb, const std::string& design) {
    const sim::DeviceConfig falcon = sim::LoadBench("demo")->Device(6)->Config();
    sim::SimBench bench;
    for (int i = 0; i < devices; ++i) {
        sim::DeviceConfig config = falcon;
        config.index = i;
        bench.AddDevice(config);
    }
    WaitClock clock;
    bench.SetClock(&clock);
    bench::Backend backend(bench, viaLibusb);
    TimedDriver driver(backend.Driver());
    NullDebugTrace trace;
    QuietUi ui;
    Platform platform{driver, clock, trace, ui};
    std::string xsvf;
    ReadFileBounded(design, kMaxXsvfFileBytes, xsvf);
    const auto job = [&](int index) {
        JobEntry entry;
        const std::uint32_t device = static_cast<std::uint32_t>(index);
        Streams one;
        one.ok = LoadFpgaPlayer(platform, device, SPINDLE_FPGA_PLAYER_HEX).Ok();
        clock.Sleep(kFpgaPlayerStartMs);
        // The emulated chip catches up on the 5 s at the device's next
        // request or close: done here, so the stream's time holds only the stream.
        bench.Close(bench.Open(DevicePath(DeviceName(index))));
        const auto start = Steady::now();
        const XsvfStream stream = PlayXsvf(platform, device, design, xsvf, entry);
        one.wall = Seconds(clock.Settled() - start);
        one.packets = stream.packets;
        const auto chain = bench.Device(index)->JtagState();
        one.ok = one.ok && stream.outcome.Ok() && chain && chain->configured;
        return one;
    };
    std::vector<std::future<Streams>> jobs;
    for (int i = 0; i < devices; ++i) jobs.push_back(std::async(std::launch::async, job, i));
    Streams all;
    for (auto& running : jobs) {
        const Streams one = running.get();
        all.wall = std::max(all.wall, one.wall);
        all.packets = one.packets;
        all.ok = all.ok && one.ok;
    }
    all.inside = Seconds(driver.inside);
    all.writes = driver.writes;
    return all;
}

bool Report(const char* name, bool viaLibusb, const std::string& design) {
    const Streams one = Stream(1, viaLibusb, design);
    const Streams four = Stream(4, viaLibusb, design);
    const double ideal = static_cast<double>(one.packets) * 0.010;
    const auto verdict = [](double ratio, double target) { return ratio <= target ? "met" : "MISSED"; };
    std::printf("%s: one stream of %u packets %.3f s, four at once %.3f s\n", name, one.packets, one.wall, four.wall);
    std::printf("  of the one stream, in the requests: %.3f s; the host's own: %.3f s for %d writes, %.3f x their "
                "10 ms pauses\n",
                one.inside, one.wall - one.inside, one.writes, (one.wall - one.inside) / (one.writes * 0.010));
    std::printf("  stream wall / (packets x 10 ms) = %.3f (target at most 1.05): %s\n", one.wall / ideal,
                verdict(one.wall / ideal, 1.05));
    std::printf("  wall(4) / wall(1) = %.3f (target at most 1.1): %s\n", four.wall / one.wall,
                verdict(four.wall / one.wall, 1.1));
    const bool ok = one.ok && four.ok;
    std::printf("  every job succeeded and configured its chain: %s\n", ok ? "yes" : "NO");
    return ok;
}

}  // namespace

int main(int, char** argv) {
    const std::string design = std::string(SPINDLE_SOURCE_DIR) + "/examples/demo-design.xsvf";
    const bool ok = bench::OnEachBackend(argv, [&design](const char* name, bool viaLibusb) {
        return Report(name, viaLibusb, design);
    });
    return ok ? 0 : 1;
}
