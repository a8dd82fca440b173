#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"

namespace spindle {
namespace {

TEST(VirtualClock, RecordsEveryPauseFromEveryThread) {
    VirtualClock clock;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&clock] {
            for (int i = 0; i < 250; ++i) clock.Sleep(10);
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(clock.Sleeps().size(), 1000u);
    EXPECT_EQ(clock.TotalSleptMs(), 10000u);
    EXPECT_EQ(clock.NowMs(), 10000u);
    clock.Advance(5);
    clock.ClearSleeps();
    EXPECT_EQ(clock.NowMs(), 10005u);
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST(DebugTrace, FileSinkAddsMissingLineEndsAndEnvironmentChoosesIt) {
    const auto path = std::filesystem::temp_directory_path() / "spindle-debug-trace-test.txt";
    std::filesystem::remove(path);
    ::setenv("SPINDLE_TRACE", path.c_str(), 1);
    {
        auto trace = MakeDebugTraceFromEnvironment();
        trace->Write("Toggle 8051 Reset");
        trace->Write("EstimatedEEPROMTime[0]=76, 1,2\n");
    }
    ::unsetenv("SPINDLE_TRACE");
    std::ifstream file(path);
    std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents, "Toggle 8051 Reset\nEstimatedEEPROMTime[0]=76, 1,2\n");
    std::filesystem::remove(path);

    auto none = MakeDebugTraceFromEnvironment();
    EXPECT_NE(dynamic_cast<NullDebugTrace*>(none.get()), nullptr);
}

}  // namespace
}  // namespace spindle
