// spindle-cli on its default back end, libusb, against emulated instruments:
// the program is started as a user would start it, without --bench, and must
// print what it prints for the same instruments on the simulated bench.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "EmulatedUsbRig.h"
#include "support/CliRun.h"
#include "support/HexRecord.h"

namespace spindle::test {
namespace {

namespace fs = std::filesystem;

class CliOverUsb : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "spindle-cli-usb-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config");
        // The same instruments as a bench file, for the runs with --bench.
        nlohmann::ordered_json document = nlohmann::ordered_json::parse(sim::DemoBenchText());
        auto& devices = document["devices"];
        for (auto it = devices.begin(); it != devices.end();) {
            const int index = (*it)["index"].get<int>();
            it = index == 16 || index == 17 ? devices.erase(it) : it + 1;
        }
        std::ofstream(dir_ / "bench.json") << document.dump(2);
        usb_.emulation.AddAllDevices();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // spindle-cli with this process's environment, which holds the
    // emulation (umockdev's preload and folder).
    CliRun Run(const std::vector<std::string>& args) { return RunCli(SPINDLE_CLI_PATH, dir_, args); }
    CliRun RunOnBench(std::vector<std::string> args) {
        args.insert(args.begin(), {"--bench", (dir_ / "bench.json").string()});
        return Run(args);
    }

    fs::path dir_;
    EmulatedUsb usb_{ComparableDemoBench()};
};

TEST_F(CliOverUsb, ScanAndGetPrintWhatTheBenchPrints) {
    const CliRun scan = Run({"scan"});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.out, RunOnBench({"scan"}).out);
    EXPECT_NE(scan.out.find("Osprey"), std::string::npos) << scan.out;

    for (const char* device : {"0", "0/lantern", "3", "5"}) {
        const CliRun get = Run({"--json", "get", device});
        ASSERT_EQ(get.status, 0) << device << ": " << get.err;
        EXPECT_EQ(get.out, RunOnBench({"--json", "get", device}).out) << device;
    }
}

TEST_F(CliOverUsb, TheUsbTraceIsTheSameOnEitherBackEnd) {
    ASSERT_EQ(Run({"--usb-trace", "usb.txt", "get", "3"}).status, 0);
    ASSERT_EQ(RunOnBench({"--usb-trace", "bench.txt", "get", "3"}).status, 0);
    const std::string viaUsb = ReadFile(dir_ / "usb.txt");
    EXPECT_FALSE(viaUsb.empty());
    EXPECT_EQ(viaUsb, ReadFile(dir_ / "bench.txt"));
}

TEST_F(CliOverUsb, SetWritesTheInstrumentThroughLibusb) {
    const CliRun set = Run({"--yes", "set", "3", "Serial Number=OSP-CLI-USB"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(usb_.bench->Device(3)->SlotText(0), "OSP-CLI-USB");
    const CliRun get = Run({"get", "serial:OSP-CLI-USB"});
    EXPECT_EQ(get.status, 0) << get.err;
}

TEST_F(CliOverUsb, DownloadLeavesExactlyTheFilesBytesInAnUnprogrammedFx2) {
    // Segments above 0x2000 go through our loader (0xA3), the rest by anchor
    // download, all as libusb control transfers.
    std::vector<std::uint8_t> high(48), low(20);
    for (std::size_t i = 0; i < high.size(); ++i) high[i] = static_cast<std::uint8_t>(0x90 + i);
    for (std::size_t i = 0; i < low.size(); ++i) low[i] = static_cast<std::uint8_t>(0x10 + 3 * i);
    std::ofstream(dir_ / "prog.hex") << HexRecord(0x2FF8, high) << HexRecord(0x0000, low) << ":00000001FF\n";
    const CliRun loaded = Run({"download", "15", (dir_ / "prog.hex").string()});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_NE(loaded.out.find("Downloaded 68 bytes in 2 segments"), std::string::npos) << loaded.out;
    const auto chip = usb_.bench->Device(15);
    EXPECT_EQ(chip->Ram(0x2FF8, 48), high);
    EXPECT_EQ(chip->Ram(0x0000, 20), low);
    EXPECT_TRUE(chip->ProgramRunning());
}

}  // namespace
}  // namespace spindle::test
