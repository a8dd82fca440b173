// Runs Refresh Tree, Get All Values and Save All Values on the demo bench with
// the real clock and compares each command's wall time with the sum of the
// pauses the protocol itself mandates. Target: ratio at most 1.02, i.e. the
// program adds almost nothing to the protocol's own pauses.
//
//   bench_commands [--quick]
//
// --quick saves a single device instead of one of each family.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/RealClock.h"
#include "platform/UserInterface.h"
#include "sim/SimBench.h"

namespace {

using namespace spindle;

// Passes pauses to the real clock and adds them up.
class PauseCountingClock final : public IClock {
public:
    void Sleep(std::uint32_t ms) override {
        total_ += ms;
        real_.Sleep(ms);
    }
    std::uint64_t NowMs() const override { return real_.NowMs(); }
    std::uint64_t Take() { return total_.exchange(0); }

private:
    RealClock real_;
    std::atomic<std::uint64_t> total_{0};
};

// Answers every box with its default and every dialog with Cancel.
class SilentUserInterface final : public IUserInterface {
public:
    int MessageBox(const std::string& text, const std::string& title, unsigned) override {
        std::fprintf(stderr, "  [%s] %s\n", title.c_str(), text.c_str());
        return mb::kIdOk;
    }
    int DoModal(CDialogModel&) override { return mb::kIdCancel; }
    bool ChooseFile(FileChoice&) override { return false; }
};

struct Result {
    std::string name;
    double wallMs;
    double pauseMs;
};

template <typename F>
Result Measure(const std::string& name, PauseCountingClock& clock, F&& run) {
    clock.Take();
    const auto start = std::chrono::steady_clock::now();
    run();
    const auto end = std::chrono::steady_clock::now();
    const double wall = std::chrono::duration<double, std::milli>(end - start).count();
    return {name, wall, static_cast<double>(clock.Take())};
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    auto bench = sim::LoadBench("demo");
    PauseCountingClock clock;
    NullDebugTrace trace;
    SilentUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
    CMainFrame frame(platform);

    std::vector<Result> results;
    results.push_back(Measure("Refresh Tree", clock, [&] { frame.OnRefreshTree(); }));

    std::vector<int> deviceItems;
    for (const auto& item : frame.Tree().Items()) {
        if (item.record != nullptr && item.record->family != 7 && item.record->family != 12) deviceItems.push_back(item.id);
    }
    results.push_back(Measure("Get All Values (every device)", clock, [&] {
        for (int item : deviceItems) frame.OnTreeSelectionChanged(item);
    }));

    std::vector<int> saveItems;
    std::vector<std::uint32_t> familiesSeen;
    for (int item : deviceItems) {
        const std::uint32_t family = frame.Tree().Item(item)->record->family;
        bool seen = false;
        for (auto f : familiesSeen) seen = seen || f == family;
        if (!seen) {
            familiesSeen.push_back(family);
            saveItems.push_back(item);
        }
        if (quick && !saveItems.empty()) break;
    }
    for (int item : saveItems) frame.OnTreeSelectionChanged(item);  // warm the list
    results.push_back(Measure("Save All Values (one per family)", clock, [&] {
        for (int item : saveItems) {
            frame.OnTreeSelectionChanged(item);
            frame.OnSaveAllValues();
        }
    }));

    std::printf("%-34s %12s %12s %8s\n", "command", "wall ms", "pauses ms", "ratio");
    bool ok = true;
    for (const auto& r : results) {
        const double ratio = r.pauseMs > 0 ? r.wallMs / r.pauseMs : 0.0;
        std::printf("%-34s %12.1f %12.1f %8.4f\n", r.name.c_str(), r.wallMs, r.pauseMs, ratio);
        if (r.pauseMs > 0 && ratio > 1.02) ok = false;
    }
    std::printf("target: ratio <= 1.02 ... %s\n", ok ? "met" : "NOT met");
    return ok ? 0 : 1;
}
