// One FPGA job on the simulated bench with the real clock: our player
// loaded into the demo bench's Falcon, the example design streamed to it.
// Prints the fixed waits apart from the stream, and
//   stream wall / (packets x 10 ms)   target at most 1.05 (the host's pause
//                                     after each packet is all it waits)
// and how much of the stream went to the emulated chip inside the bench's
// requests, against the host's own share.
//
//   bench_fpga
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/RealClock.h"
#include "platform/UserInterface.h"
#include "programming/FpgaProgramming.h"
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

// The real clock, noting when each of the job's long waits began and ended.
class WaitClock final : public IClock {
public:
    struct Wait {
        std::uint32_t ms;
        Steady::time_point begin, end;
    };
    void Sleep(std::uint32_t ms) override {
        const auto begin = Steady::now();
        real_.Sleep(ms);
        if (ms >= 1000) waits.push_back({ms, begin, Steady::now()});
    }
    std::uint64_t NowMs() const override { return real_.NowMs(); }
    std::vector<Wait> waits;

private:
    RealClock real_;
};

// The bench behind a driver that adds up the time spent in its requests.
class TimedDriver final : public IEzusbDriver {
public:
    explicit TimedDriver(IEzusbDriver& inner) : inner_(inner) {}
    DeviceHandle Open(const std::string& path) override { return inner_.Open(path); }
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        const auto begin = Steady::now();
        const bool done = inner_.IoControl(handle, code, in, inLength, out, outLength, returned);
        inside += Steady::now() - begin;
        if (code == ioctl::kBulkWrite) ++writes;
        return done;
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }
    Steady::duration inside{};
    int writes = 0;

private:
    IEzusbDriver& inner_;
};

double Seconds(Steady::time_point a, Steady::time_point b) { return std::chrono::duration<double>(b - a).count(); }

}  // namespace

int main() {
    const std::string design = std::string(SPINDLE_SOURCE_DIR) + "/examples/demo-design.xsvf";
    std::FILE* file = std::fopen(design.c_str(), "rb");
    if (file == nullptr) return 1;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);

    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    WaitClock clock;
    bench->SetClock(&clock);
    NullDebugTrace trace;
    QuietUi ui;
    TimedDriver driver(*bench);
    Platform platform{driver, clock, trace, ui};
    JobEntry entry;

    // The job's steps one by one, as ProgramFpga runs them.
    const auto start = Steady::now();
    const Outcome load = LoadFpgaPlayer(platform, 6, SPINDLE_FPGA_PLAYER_HEX);
    const auto loaded = Steady::now();
    clock.Sleep(kFpgaPlayerStartMs);
    const auto waited = Steady::now();
    // The emulated chip catches up on the 5 s at the device's next request
    // or close: done here, so the stream's time holds only the stream.
    bench->Close(bench->Open("\\\\.\\Ezusb-6"));
    const auto caughtUp = Steady::now();
    driver.inside = {};
    driver.writes = 0;
    const XsvfStream stream = PlayXsvf(platform, 6, "", design, entry);
    const auto end = Steady::now();
    if (clock.waits.size() != 2) {
        std::printf("expected the 5 s and 10 s waits, saw %zu long waits\n", clock.waits.size());
        return 1;
    }
    const WaitClock::Wait& settled = clock.waits[1];
    const double streamed = Seconds(caughtUp, settled.begin);
    const double ideal = static_cast<double>(stream.packets) * 0.010;
    std::printf("player download: %.3f s; wait for it to start: %.3f s (fixed 5 s); the emulated chip's catching "
                "up on it: %.3f s\n",
                Seconds(start, loaded), Seconds(loaded, waited), Seconds(waited, caughtUp));
    std::printf("stream: %ld bytes in %u packets, %.3f s; wait after it: %.3f s (fixed 10 s); close, with the "
                "chip catching up: %.3f s\n",
                size, stream.packets, streamed, Seconds(settled.begin, settled.end), Seconds(settled.end, end));
    const double emulated = std::chrono::duration<double>(driver.inside).count();
    std::printf("of the stream, in the bench's requests (the emulated chip): %.3f s; the host's own: %.3f s for %d "
                "writes, %.3f x their 10 ms pauses\n",
                emulated, streamed - emulated, driver.writes, (streamed - emulated) / (driver.writes * 0.010));
    std::printf("stream wall / (packets x 10 ms) = %.3f (target at most 1.05): %s\n", streamed / ideal,
                streamed / ideal <= 1.05 ? "met" : "MISSED");
    const auto chain = bench->Device(6)->JtagState();
    const bool ok = load.Ok() && stream.outcome.Ok() && chain && chain->configured;
    std::printf("job succeeded and the chain is configured: %s\n", ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
