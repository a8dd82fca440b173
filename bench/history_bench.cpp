// The production record's cost: recording one job (its start and its end,
// the image's SHA-256 included) against a 16 KiB EEPROM job, and a serial
// number's records found among 100,000; on SQLite, and on the PostgreSQL
// server SPINDLE_TEST_POSTGRES names, if any.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "history/HistoryRecorder.h"
#include "platform/RealClock.h"

using namespace spindle;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A PostgreSQL location of its own on the server `url` names: the tables go
// into a fresh schema, `name`.
std::string FreshSchema(const std::string& url, const std::string& name) {
    SqlError error;
    auto admin = OpenPostgres(url, std::chrono::seconds(5), error);
    if (!admin || !admin->Run("DROP SCHEMA IF EXISTS " + name + " CASCADE", {}, error) ||
        !admin->Run("CREATE SCHEMA " + name, {}, error)) {
        std::fprintf(stderr, "%s: %s\n", url.c_str(), error.text.c_str());
        return {};
    }
    return url + (url.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + name;
}

// Measures one engine: jobs recorded into `record`, a serial's records found
// among 100,000 in `big`. True when every target is met.
bool Measure(const char* engine, const std::string& record, const std::string& big, const std::string& image) {
    RealClock clock;
    CHistoryRecorder recorder(clock);
    recorder.SetLocation(record);
    HistoryStart start;
    start.command = "Program";
    start.serial = "OSP05521";
    start.chip = "ezusb";
    start.imagePath = image;
    recorder.Complete(recorder.Start(start), {});  // opens the store and makes the schema
    if (const auto problem = recorder.TakeProblem()) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return false;
    }
    constexpr int kJobs = 200;
    const auto begin = Clock::now();
    for (int i = 0; i < kJobs; ++i) {
        HistoryEnd end;
        end.result = HistoryResult::Worked;
        end.bytesWritten = 16384;
        end.verified = true;
        recorder.Complete(recorder.Start(start), end);
    }
    const double perJob = Ms(Clock::now() - begin) / kJobs;
    // A 16 KiB job takes at least its 128 page writes of 5 ms each.
    const double jobMs = 128 * 5.0;
    std::printf("%s: recording per job: %.3f ms (target < 2 ms)\n", engine, perJob);
    std::printf("%s: share of a 16 KiB EEPROM job (>= %.0f ms): %.3f %% (target < 5 %%)\n", engine, jobMs,
                100.0 * perJob / jobMs);

    std::string problem;
    auto store = CHistoryStore::Open(big, {}, problem);
    if (!store) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return false;
    }
    SqlError error;
    store->Connection().Run("BEGIN", {}, error);
    for (int i = 0; i < 100000; ++i) {
        store->Begin(HistoryStart{HistoryKind::Eeprom, "Program", "usb", 3, 4, "S" + std::to_string(i % 20000), "ezusb", ""},
                     {"2026-12-08T00:00:00.000Z", "station", "operator", 1}, problem);
    }
    store->Connection().Run("COMMIT", {}, error);
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        const auto t0 = Clock::now();
        HistoryFilter filter;
        filter.serial = "S" + std::to_string(1234 + i);
        const auto found = store->Query(filter, problem);
        times.push_back(Ms(Clock::now() - t0));
        if (!found || found->size() != 5) std::fprintf(stderr, "query: %s\n", problem.c_str());
    }
    std::sort(times.begin(), times.end());
    std::printf("%s: history --serial among 100,000 records: median %.3f ms, worst %.3f ms (target < 50 ms)\n", engine,
                times[times.size() / 2], times.back());
    return perJob < 2.0 && perJob / jobMs < 0.05 && times.back() < 50.0;
}

}  // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("spindle-history-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string image = (folder / "image.iic").string();
    std::ofstream(image, std::ios::binary) << std::string(16384, '\x5A');

    bool met = Measure("sqlite", (folder / "history.db").string(), (folder / "big.db").string(), image);
    // The same on a PostgreSQL server, when one is named (the tests' server:
    // see the README).
    if (const char* url = std::getenv("SPINDLE_TEST_POSTGRES"); url != nullptr && *url != '\0') {
        const std::string record = FreshSchema(url, "spindle_bench_record");
        const std::string big = FreshSchema(url, "spindle_bench_big");
        met = !record.empty() && !big.empty() && Measure("postgresql", record, big, image) && met;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return met ? 0 : 1;
}
