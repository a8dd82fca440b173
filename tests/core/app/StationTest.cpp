// Station mode on the frame: devices of one family programmed as they
// arrive on the bench's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "app/MainFrame.h"
#include "app/Station.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

TEST(Station, FiveArrivalsAreProgrammedOnceAndTheFailedOneStaysMarkedUntilUnplugged) {
    // Five Kestrels a second apart, and an Osprey the station leaves alone;
    // device 2 refuses every EEPROM write.
    std::string devices = R"({"index": 9, "vendorId": "0xFA57", "productId": "0x100A", "slots": {"0": "OSP1"}})";
    for (int i = 0; i < 5; ++i) {
        devices += R"(, {"index": )" + std::to_string(i) + R"(, "vendorId": "0xFA57", "productId": "0x1002",
            "strings": {"1": "Kestrel 3.20.1"}, "slots": {"0": "KES0)" + std::to_string(i) +
                   R"("}, "arrivesAfterMs": )" + std::to_string(1000 * (i + 1)) +
                   (i == 2 ? R"(, "faults": {"failRequests": ["vendor"]})" : "") + "}";
    }
    std::unique_ptr<sim::SimBench> bench =
        sim::LoadBenchFromJson(nlohmann::ordered_json::parse(R"({"pacing": false, "devices": [)" + devices + "]}"));
    VirtualClock clock;
    bench->SetClock(&clock);
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
    TempFolder folder;
    CMainFrame frame(platform);
    frame.history.SetLocation(folder.File("history.db"));
    frame.OnCreate();
    std::string image(2048, '\x11');
    image.replace(0, 5, "\xB2\x57\xFA\x02\x10", 5);
    WriteWholeFile(folder.File("image.iic"), image);

    CStation station(frame, {family::kKestrel, folder.File("image.iic"), "", 5});
    ASSERT_TRUE(station.Start().Ok());
    std::vector<std::string> lines;
    const auto run = [&](int ticks) {
        for (int tick = 0; tick < ticks && !station.Finished(); ++tick) {
            for (std::string& line : station.Tick(clock.NowMs())) lines.push_back(std::move(line));
            station.Programming() ? std::this_thread::yield() : clock.Sleep(100);
        }
    };
    run(1000000);
    ASSERT_TRUE(station.Finished());
    // The workers share the clock, so results may come in another order.
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4].substr(lines[4].size() - 26), "(4 passed, 1 failed, of 5)") << lines[4];
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines[0].rfind("Ezusb-0 Kestrel KES00: PASS, came back as Kestrel KES00, firmware 3.20.1 (", 0), 0u);
    EXPECT_EQ(lines[2].rfind("Ezusb-2 Kestrel KES02: FAIL, 1 of 1 writes failed (at 0x0000) (", 0), 0u) << lines[2];
    EXPECT_EQ(lines[4].rfind("Ezusb-4 Kestrel KES04: PASS, came back as Kestrel KES04, firmware 3.20.1 (", 0), 0u);
    EXPECT_FALSE(station.AllPassed());
    for (int i : {0, 1, 3, 4}) EXPECT_EQ(bench->Device(i)->Eeprom(0, 2048), std::vector<std::uint8_t>(image.begin(), image.end()));
    EXPECT_FALSE(frame.JobRunning(9));
    // The station's results are its own: the frame has no box to show.
    EXPECT_TRUE(frame.CollectFinishedJobs().empty());
    std::string problem;
    const auto records = frame.history.Query({}, problem);
    ASSERT_TRUE(records) << problem;
    EXPECT_EQ(records->size(), 5u);
    EXPECT_EQ(std::count_if(records->begin(), records->end(),
                            [](const HistoryRecord& record) { return record.result == HistoryResult::Failed; }),
              1);

    // The failed device keeps its tile while plugged in, and loses it once unplugged.
    const auto tileOf = [&](std::uint32_t index) {
        const StationSnapshot snapshot = station.Snapshot();
        const auto it = std::find_if(snapshot.tiles.begin(), snapshot.tiles.end(),
                                     [index](const StationTile& tile) { return tile.deviceIndex == index; });
        return it == snapshot.tiles.end() ? std::optional<StationTile>() : *it;
    };
    clock.Sleep(5000);
    station.Tick(clock.NowMs());
    ASSERT_TRUE(tileOf(2));
    EXPECT_EQ(tileOf(2)->state, StationState::Failed);
    bench->RemoveDevice(2);
    station.Tick(clock.NowMs());
    EXPECT_FALSE(tileOf(2));
    EXPECT_EQ(tileOf(4)->state, StationState::Passed);
}

}  // namespace
}  // namespace spindle::test
