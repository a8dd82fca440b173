// EEPROM jobs through the frame with the real clock and pacing: a 16 KiB
// image into one device, then into 8 and 16 devices at once (every EEPROM
// with 64-byte pages and a 5 ms write cycle), on the simulated bench and,
// where umockdev is there, through the libusb back end over emulated USB
// buses. Prints per back end
//   wall(8) / wall(1), wall(16) / wall(1)   target at most 1.15 (the jobs overlap)
//   wall(1) / (pages x write cycle)         target at most 1.5 (little overhead)
// and the processor time the process used.
//
//   bench_program
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/RealClock.h"
#include "platform/UserInterface.h"
#include "BenchBackends.h"
#include "sim/SimBench.h"

namespace {

using namespace spindle;

class QuietUi final : public IUserInterface {
public:
    int MessageBox(const std::string&, const std::string&, unsigned) override { return mb::kIdYes; }
    void ShowNotice(const std::string&, const std::string&, unsigned) override {}
    int DoModal(CDialogModel&) override { return mb::kIdCancel; }
    bool ChooseFile(FileChoice&) override { return false; }
};

double ProgramSeconds(int devices, const std::string& image, bool viaLibusb, bool& ok) {
    sim::SimBench bench;
    for (int i = 0; i < devices; ++i) {
        bench.AddDevice(sim::DeviceConfigFromJson(nlohmann::ordered_json::parse(
            "{\"index\": " + std::to_string(i) +
            ", \"vendorId\": \"0x04B4\", \"productId\": \"0x8613\", "
            "\"eeprom\": {\"size\": 65536, \"pageSize\": 64, \"writeCycleMs\": 5}}")));
    }
    RealClock clock;
    bench.SetClock(&clock);  // pacing is on by default
    NullDebugTrace trace;
    QuietUi ui;
    bench::Backend backend(bench, viaLibusb);
    Platform platform{backend.Driver(), clock, trace, ui};
    CMainFrame frame(platform);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < devices; ++i) {
        ok = frame.StartEepromJob({static_cast<std::uint32_t>(i), family::kUnprogrammedFx2, ""}, image).Ok() && ok;
    }
    frame.WaitForJobs();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const FinishedJob& job : frame.CollectFinishedJobs()) ok = ok && job.result.Ok() && job.result.verified;
    return seconds;
}

bool Report(const char* name, const std::string& image, bool viaLibusb) {
    bool ok = true;
    const std::clock_t cpuStart = std::clock();
    const double one = ProgramSeconds(1, image, viaLibusb, ok);
    const double eight = ProgramSeconds(8, image, viaLibusb, ok);
    const double sixteen = ProgramSeconds(16, image, viaLibusb, ok);
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double writeCycles = 16384.0 / 64.0 * 0.005;
    const auto verdict = [](double ratio, double target) { return ratio <= target ? "met" : "MISSED"; };
    std::printf("%s: one device %.3f s, 8 devices %.3f s, 16 devices %.3f s; processor time %.3f s\n", name, one,
                eight, sixteen, cpu);
    std::printf("  wall(8) / wall(1) = %.2f (target at most 1.15): %s\n", eight / one, verdict(eight / one, 1.15));
    std::printf("  wall(16) / wall(1) = %.2f (target at most 1.15): %s\n", sixteen / one,
                verdict(sixteen / one, 1.15));
    std::printf("  wall(1) / (pages x write cycle) = %.2f (target at most 1.5): %s\n", one / writeCycles,
                verdict(one / writeCycles, 1.5));
    std::printf("  every job succeeded and read its image back: %s\n", ok ? "yes" : "NO");
    return ok;
}

}  // namespace

int main(int, char** argv) {
    const std::string image = "/tmp/spindle-bench-image.iic";
    {
        std::FILE* file = std::fopen(image.c_str(), "wb");
        if (file == nullptr) return 1;
        for (int i = 0; i < 16384; ++i) std::fputc(i == 0 ? 0xC2 : (i * 37) & 0xFF, file);
        std::fclose(file);
    }
    const bool ok = bench::OnEachBackend(argv, [&image](const char* name, bool viaLibusb) {
        return Report(name, image, viaLibusb);
    });
    std::remove(image.c_str());
    return ok ? 0 : 1;
}
