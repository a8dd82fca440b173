#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/Outcome.h"
#include "platform/Progress.h"
#include "platform/UserInterface.h"
#include "platform/VirtualClock.h"

namespace spindle {
namespace {

TEST(Outcome, TheWorstFailureStaysEachNamedOnceAndRepeatsAreCounted) {
    Outcome job, step;
    step.Fail("Error in Vendor request.\n");
    step.Show({"Error in Vendor request.\n", "Error in CAnchor", mb::kOk});
    job.Take(step);  // its messages, not its failure: the caller names that
    EXPECT_TRUE(job.Ok());
    job.Stop("stopped on request");
    job.Append(step);
    job.Append(step);
    EXPECT_EQ(job.failure, FailureKind::Stopped) << "a later failure does not hide the stop";
    EXPECT_EQ(job.failed, (std::vector<std::string>{"stopped on request", "Error in Vendor request."}));
    ASSERT_EQ(job.messages.size(), 1u);
    EXPECT_EQ(ShownText(job.messages[0]), "Error in Vendor request. (met 3 times)");
    // A question kept with a job is shown as a notice: it was answered.
    EXPECT_EQ(FoldMessages({{"Download it?", "Spindle", mb::kYesNo}})[0].style, mb::kOk);
}

// Steps 1 to 3 weigh 10, 30 and 60 between a start and an end of no weight.
TEST(Progress, EachStepCountsByItsWeight) {
    CProgress progress;
    progress.Plan({{0, 0}, {1, 10}, {2, 30}, {3, 60}, {9, 0}});
    const auto percent = [&] { return progress.Now().percent; };
    EXPECT_EQ(percent(), 0);
    progress.Enter(1, 4);
    progress.Advance(2);
    EXPECT_EQ(percent(), 5);
    progress.Enter(3, 200, 100);
    EXPECT_EQ(percent(), 70) << "the steps before, whole, and half of this one";
    progress.Advance(500);
    EXPECT_EQ(percent(), 100) << "more done than the step's total counts as the step done";
    progress.Enter(7, 10);
    EXPECT_EQ(percent(), 0) << "a step the plan does not hold";
    progress.Enter(9, 0);
    EXPECT_EQ(percent(), 100);

    // Small weights keep the hundredths of their shares; a new plan drops old marks.
    progress.Plan({{1, 1}, {2, 1}});
    progress.Enter(1, 8, 2);
    EXPECT_EQ(percent(), 12);
    EXPECT_EQ(progress.TakeMarks().size(), 1u);
}

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
