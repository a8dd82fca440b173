// spindle-cli on its default back end, libusb, against emulated instruments:
// started as a user would start it, without --bench, it must do what it does
// for the same instruments on the simulated bench.
#include <gtest/gtest.h>

#include <numeric>

#include <nlohmann/json.hpp>

#include "EmulatedUsbRig.h"
#include "support/CliRun.h"
#include "support/HexRecord.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

TEST(CliOverUsb, SetAndDownloadReachTheInstrumentsAndTraceWhatTheyTraceOnTheBench) {
    TempFolder dir;
    std::filesystem::create_directories(dir.Path() / "config");
    // The emulated instruments, and the same as a bench file for the runs with --bench.
    EmulatedUsb usb(ComparableDemoBench());
    usb.emulation.AddAllDevices();
    nlohmann::ordered_json bench = nlohmann::ordered_json::parse(sim::DemoBenchText());
    auto& devices = bench["devices"];
    devices.erase(std::remove_if(devices.begin(), devices.end(), [](const auto& d) { return d["index"] >= 16; }),
                  devices.end());
    WriteWholeFile(dir.File("bench.json"), bench.dump(2));
    const auto run = [&dir](const std::vector<std::string>& args) {  // this environment: the emulation's
        return RunCli(SPINDLE_CLI_PATH, dir.Path(), args);
    };

    const CliRun set = run({"--usb-trace", "usb.txt", "--yes", "set", "3", "Serial Number=OSP-CLI-USB"});
    ASSERT_EQ(set.status, 0) << set.err;
    ASSERT_EQ(run({"--bench", dir.File("bench.json"), "--usb-trace", "bench.txt", "--yes", "set", "3",
                   "Serial Number=OSP-CLI-USB"}).status, 0);
    EXPECT_EQ(usb.bench->Device(3)->SlotText(0), "OSP-CLI-USB");
    const std::string viaUsb = ReadWholeFile(dir.File("usb.txt"));
    EXPECT_FALSE(viaUsb.empty());
    EXPECT_EQ(viaUsb, ReadWholeFile(dir.File("bench.txt")));

    // Into an unprogrammed FX2: the segment above 0x2000 through our loader
    // (0xA3), the other by anchor download.
    std::vector<std::uint8_t> high(48), low(20);
    std::iota(high.begin(), high.end(), std::uint8_t{0x90});
    std::iota(low.begin(), low.end(), std::uint8_t{0x10});
    WriteWholeFile(dir.File("prog.hex"), HexRecord(0x2FF8, high) + HexRecord(0x0000, low) + ":00000001FF\n");
    const CliRun loaded = run({"download", "15", dir.File("prog.hex")});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_NE(loaded.out.find("Downloaded 68 bytes in 2 segments"), std::string::npos) << loaded.out;
    const auto chip = usb.bench->Device(15);
    EXPECT_EQ(chip->Ram(0x2FF8, 48), high);
    EXPECT_EQ(chip->Ram(0x0000, 20), low);
    EXPECT_TRUE(chip->ProgramRunning());
}

}  // namespace
}  // namespace spindle::test
