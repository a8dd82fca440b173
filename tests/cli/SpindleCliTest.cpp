// End-to-end tests of spindle-cli on bench files: what the tool adds to the
// core (selectors, output, refusals, exit statuses, backups, signals); the
// core's rules are tested in the core's suites.
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/Format.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/CliRun.h"
#include "support/ScriptedUserInterface.h"
#include "support/XsvfWriter.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using RunResult = spindle::test::CliRun;
using spindle::test::ReadFile;

constexpr const char* kCli = SPINDLE_CLI_PATH;
constexpr const char* kManufacturingCode = "TOLMIDEXN";
constexpr const char* kLockedNote = "Configuration strings can only be changed by\n Lumora Manufacturing.";

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// An EEPROM image of 16384 bytes that boots the chip `bootByte` names.
std::string TestImage(std::uint8_t bootByte) {
    std::string image(16384, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 13 + (i >> 9)) & 0xFF);
    image[0] = static_cast<char>(bootByte);
    return image;
}

class SpindleCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "spindle-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "config");
        WriteFile(Bench(), spindle::sim::DemoBenchText());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Bench() const { return dir_ / "bench.json"; }
    fs::path Path(const std::string& name) const { return dir_ / name; }

    // Runs the program with no terminal on standard input, in the test's
    // folder, with the test's settings folder and the virtual clock.
    RunResult Run(const std::vector<std::string>& args, int timeoutSeconds = 0) {
        return spindle::test::RunCli(kCli, dir_, args, timeoutSeconds);
    }
    RunResult RunOnBench(std::vector<std::string> args, int timeoutSeconds = 0) {
        args.insert(args.begin(), {"--bench", Bench().string()});
        return Run(args, timeoutSeconds);
    }
    void EditDevice(int index, const std::function<void(Json&)>& edit) {
        Json bench = Json::parse(ReadFile(Bench()));
        for (Json& device : bench["devices"]) {
            if (device["index"] == index) edit(device);
        }
        WriteFile(Bench(), bench.dump(1));
    }
    // Value of a row in `get` text output.
    std::string Value(const std::string& device, const std::string& label) {
        std::istringstream lines(RunOnBench({"get", device}).out);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(label + "\t")) return line.substr(label.size() + 1);
        }
        return "<no row " + label + ">";
    }

    fs::path dir_;
};

TEST_F(SpindleCliTest, ScanAndGetNameEveryDeviceAsTheTreeDoes) {
    const RunResult text = Run({"--bench", "demo", "scan"});
    ASSERT_EQ(text.status, 0) << text.err;
    // Exact labels (maker devices end in one space), indented by depth.
    EXPECT_TRUE(text.out.starts_with("Computer\n  Kestrel Devices\n    [0] Kestrel - KES10234 \n"
                                     "      Lantern - LAN00231\n    [1] Kestrel - KES08811 \n  Wren Devices\n"))
        << text.out;
    const Json devices = Json::parse(Run({"--bench", "demo", "--json", "scan"}).out)["devices"];
    ASSERT_EQ(devices.size(), 18u);
    EXPECT_EQ(devices[1]["label"], "Lantern - LAN00231");
    const RunResult get = Run({"--bench", "demo", "get", "3"});
    ASSERT_EQ(get.status, 0) << get.err;
    EXPECT_TRUE(get.out.starts_with("Firmware Version\tOsprey  1.12.0\nSerial Number\tOSP05521\n")) << get.out;
    EXPECT_EQ(Json::parse(Run({"--bench", "demo", "--json", "get", "serial:OSP05521"}).out)["device"]["index"], 3);
    // The Lantern shares its Kestrel's index; the bare index is the Kestrel.
    EXPECT_EQ(Json::parse(Run({"--bench", "demo", "--json", "get", "0"}).out)["device"]["familyCode"], 2);
    EXPECT_EQ(Json::parse(Run({"--bench", "demo", "--json", "get", "0/lantern"}).out)["device"]["familyCode"], 5);
}

TEST_F(SpindleCliTest, ExitStatusesTellUsageFromFailure) {
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "frobnicate"}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "get", "three"}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "get", "128"}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "set", "3", "Serial Number"}).status, 2);
    EXPECT_EQ(Run({"--bench", Path("nope.json").string(), "scan"}).status, 2);
    EXPECT_EQ(RunOnBench({"--usb-trace", Path("no/such/dir/usb.txt").string(), "get", "3"}).status, 2);
    EXPECT_EQ(RunOnBench({"program-fpga", "--player", "missing.hex", "5", SPINDLE_SOURCE_DIR "/examples/demo-design.xsvf"}).status, 2);

    EXPECT_EQ(Run({"--bench", "demo", "get", "99"}).status, 1);
    EXPECT_EQ(Run({"--bench", "demo", "get", "3/lantern"}).status, 1);
    EXPECT_EQ(Run({"--bench", "demo", "get", "14"}).status, 1);  // unprogrammed: no stored values
    EXPECT_EQ(Run({"--bench", "demo", "set", "3", "serial number=X"}).status, 1);  // labels are case-sensitive
}

TEST_F(SpindleCliTest, SetExportAndImportThroughTheBenchFile) {
    const RunResult set = RunOnBench({"set", "3", "Serial Number=OSP77777", "Stray Light Correction Coefficient=0.5"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("Serial Number: OSP05521 -> OSP77777\n"), std::string::npos) << set.out;
    EXPECT_EQ(Value("3", "Serial Number"), "OSP77777");
    // Digits past the list's eight are restored from the backup's bytes.
    EditDevice(3, [](Json& device) { device["slots"]["1"] = "177.4502134"; });
    const std::string original = ReadFile(Bench());
    ASSERT_EQ(RunOnBench({"export", "3", "osprey.json"}).status, 0);
    const Json backup = Json::parse(ReadFile(Path("osprey.json")));
    ASSERT_EQ(backup["rows"].size(), 18u);
    EditDevice(3, [](Json& device) { device["slots"]["1"] = "177.4502139"; });
    ASSERT_EQ(RunOnBench({"set", "3", "Serial Number=BROKEN"}).status, 0);
    // Without --yes and without a terminal the differences are shown and
    // nothing is written.
    const RunResult asked = RunOnBench({"import", "3", "osprey.json"});
    EXPECT_EQ(asked.status, 1);
    EXPECT_NE(asked.err.find("Serial Number: BROKEN -> OSP77777"), std::string::npos) << asked.err;
    const RunResult restored = RunOnBench({"--yes", "import", "3", "osprey.json"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_NE(restored.out.find("Serial Number: BROKEN -> OSP77777"), std::string::npos) << restored.out;
    EXPECT_EQ(Json::parse(ReadFile(Bench())), Json::parse(original));
    const RunResult again = RunOnBench({"--yes", "import", "3", "osprey.json"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.err.find("Nothing to restore"), std::string::npos) << again.err;

    // Refused, writing nothing: a backup of another family (the Osprey+ shows
    // the same first rows), bytes past a locked slot's text, slot bytes that
    // are not 15 bytes of hexadecimal, a malformed or endless file.
    const auto withSlot = [&backup](int slot, const std::string& hex) {
        Json changed = backup;
        changed["slots"][std::to_string(slot)] = hex;
        return changed.dump();
    };
    WriteFile(Path("locked.json"), withSlot(15, backup["slots"]["15"].get<std::string>().substr(0, 28) + "7A"));
    WriteFile(Path("short.json"), withSlot(1, "12"));
    WriteFile(Path("bad.json"), R"({"format": "spindle-values", "version": 1, "rows": "x"})");
    const std::string bench = ReadFile(Bench());
    const RunResult family = RunOnBench({"--yes", "import", "7", "osprey.json"});
    EXPECT_NE(family.err.find("family 4"), std::string::npos) << family.err;
    const RunResult locked = RunOnBench({"--yes", "import", "3", "locked.json"});
    EXPECT_NE(locked.err.find("cannot be changed: the value is locked"), std::string::npos) << locked.err;
    for (const RunResult& refused : {family, locked, RunOnBench({"--yes", "import", "3", "short.json"}),
                                     RunOnBench({"--yes", "import", "3", "bad.json"}),
                                     RunOnBench({"--yes", "import", "3", "/dev/zero"})}) {
        EXPECT_EQ(refused.status, 1) << refused.err;
    }
    EXPECT_EQ(RunOnBench({"--yes", "import", "3", "missing.json"}).status, 2);
    EXPECT_EQ(ReadFile(Bench()), bench);
}

TEST_F(SpindleCliTest, AnOlderBackupRestoresRowsThroughTheEditorsAndTheirLock) {
    // The Merlin shows its reserved slots as rows with one repeated label,
    // paired by position; without "slots" the row texts are typed in.
    ASSERT_EQ(RunOnBench({"export", "13", "merlin.json"}).status, 0);
    Json backup = Json::parse(ReadFile(Path("merlin.json")));
    ASSERT_EQ(backup["rows"][7]["label"], "  Reserved");
    // Slot 13 is reserved but shown by no row: a restore of it is locked all the same.
    Json hidden = backup;
    hidden["slots"]["13"] = "322E303030303030652B3030000000";
    WriteFile(Path("hidden.json"), hidden.dump());
    backup.erase("slots");
    backup["rows"][1]["value"] = "MER12345";
    backup["rows"][7]["value"] = "1.2500000e+00";
    WriteFile(Path("merlin.json"), backup.dump(2));
    const Json before = Json::parse(RunOnBench({"--json", "get", "13"}).out)["rows"];
    const std::string bench = ReadFile(Bench());
    for (const char* file : {"merlin.json", "hidden.json"}) {
        const RunResult locked = RunOnBench({"--yes", "import", "13", file});
        EXPECT_EQ(locked.status, 1) << file;
        EXPECT_NE(locked.err.find(kLockedNote), std::string::npos) << locked.err;
    }
    EXPECT_EQ(ReadFile(Bench()), bench);

    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    ASSERT_EQ(RunOnBench({"--yes", "import", "13", "hidden.json"}).status, 0);
    ASSERT_EQ(RunOnBench({"--yes", "import", "13", "merlin.json"}).status, 0);
    Json expected = before;
    expected[1]["value"] = "MER12345";
    expected[7]["value"] = "1.2500000e+00";
    EXPECT_EQ(Json::parse(RunOnBench({"--json", "get", "13"}).out)["rows"], expected);
}

TEST_F(SpindleCliTest, ManufacturingLockAndUnlockPersistingInTheSettings) {
    const std::string benchBefore = ReadFile(Bench());
    // A locked row refuses the whole command: the serial is not written either.
    const RunResult locked = RunOnBench({"set", "3", "Serial Number=OSP1", "Configuration String 1=UV-200"});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("\"Configuration String 1\" cannot be changed"), std::string::npos) << locked.err;
    EXPECT_EQ(RunOnBench({"set", "4", "AutoNulling Info=Disabled,Disabled,1,2"}).status, 1);
    EXPECT_EQ(ReadFile(Bench()), benchBefore);
    const RunResult verify = RunOnBench({"verify", "3"});
    EXPECT_NE(verify.err.find("Verify is a manufacturing command; unlock manufacturing mode first (spindle-cli "
                              "unlock CODE)"), std::string::npos) << verify.err;
    EXPECT_EQ(Run({"unlock", "tolmidexn"}).status, 1);  // codes are case-sensitive
    EXPECT_NE(Run({"unlock", kManufacturingCode}).out.find("Manufacturing=1"), std::string::npos);
    EXPECT_NE(ReadFile(Path("config/Spindle.ini")).find("Manufacturing=1"), std::string::npos);
    ASSERT_EQ(RunOnBench({"set", "3", "Configuration String 1=UV-200"}).status, 0);
    EXPECT_EQ(Value("3", "Configuration String 1"), "UV-200");
    ASSERT_EQ(RunOnBench({"set", "4", "AutoNulling Info=Disabled,Enabled,1200,60000"}).status, 0);
    EXPECT_EQ(Value("4", "AutoNulling Info"), "Disabled,Enabled,1200,60000");
    EXPECT_EQ(RunOnBench({"verify", "3"}).status, 0);
    EXPECT_EQ(RunOnBench({"verify", "6"}).status, 1);  // a Falcon is not in Verify's table

    // Locking again takes the manufacturing commands away.
    ASSERT_EQ(Run({"unlock", "QARVEST"}).status, 0);
    EXPECT_EQ(RunOnBench({"verify", "3"}).status, 1);
    // Flags that could not be saved are not printed as this installation's.
    fs::remove(Path("config/Spindle.ini"));
    fs::create_directories(Path("config/Spindle.ini/kept"));
    const RunResult unsaved = Run({"unlock", kManufacturingCode});
    EXPECT_TRUE(unsaved.status == 1 && unsaved.out.empty()) << unsaved.out;
    EXPECT_EQ(RunOnBench({"get", "3"}).status, 1) << "settings that cannot be read";
}

TEST_F(SpindleCliTest, ResetCoefsAndLinearityImportSave) {
    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    WriteFile(Path("falcon.lin"), "[Linearity Coefficients]\nIntercept=0.9\nNL0=1.5e-5\n");
    // Only the families that offer the button take a linearity file.
    const RunResult osprey = RunOnBench({"linearity", "3", "falcon.lin"});
    EXPECT_EQ(osprey.status, 1);
    EXPECT_NE(osprey.err.find("Linearity Coefs is not offered for this device"), std::string::npos) << osprey.err;
    ASSERT_EQ(RunOnBench({"linearity", "6", "falcon.lin"}).status, 0);
    EXPECT_EQ(Value("6", "Nonlinearity Correction 0th-order Coefficient"), "9.0000000e-01");
    ASSERT_EQ(RunOnBench({"reset-coefs", "3"}).status, 0);
    EXPECT_EQ(Value("3", "Wavelength Calibration Intercept"), "0.0000000e+00");
}

TEST_F(SpindleCliTest, ACoefficientNoFloatHoldsIsRefusedByEveryWayIn) {
    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    const std::string bench = ReadFile(Bench());
    for (const std::string value : {"nan", "-inf", "1e999", "1e39"}) {
        WriteFile(Path("odd.lin"), "[Linearity Coefficients]\nNL0=" + value + "\n");
        WriteFile(Path("odd.cal"), "[Setup]\nK First=" + value + "\n");
        for (const RunResult& refused : {RunOnBench({"set", "6", "Stray Light Correction Coefficient=" + value}),
                                         RunOnBench({"linearity", "6", "odd.lin"}),
                                         RunOnBench({"--yes", "zephyr-import", "0/lantern", "odd.cal"})}) {
            EXPECT_EQ(refused.status, 1) << value;
            EXPECT_NE(refused.err.find(value == "1e39" ? "not a coefficient the instrument can keep" : "is not a"),
                      std::string::npos) << refused.err;
        }
    }
    EXPECT_EQ(ReadFile(Bench()), bench);
}

TEST_F(SpindleCliTest, EveryFileReaderRefusesAPipeAtOnceAndSaysWhy) {
    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    // A pipe no one writes to: a reader that opened it would wait for ever.
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    for (const char* link : {"pipe.hex", "pipe.bix"}) fs::create_symlink("pipe", Path(link));
    for (const std::vector<std::string>& reader : std::vector<std::vector<std::string>>{
             {"--yes", "import", "3", "pipe"}, {"linearity", "6", "pipe"}, {"download", "15", "pipe.hex"},
             {"download", "15", "pipe.bix"}, {"--yes", "program", "3", "pipe"}, {"program-fpga", "6", "pipe"},
             {"program-fpga", "--player", "pipe.hex", "6", SPINDLE_SOURCE_DIR "/examples/demo-design.xsvf"},
             {"--yes", "zephyr-import", "0/lantern", "pipe"}, {"kestrel-extra", "0", "--load-cal", "pipe"}}) {
        const RunResult refused = RunOnBench(reader, 60);
        EXPECT_EQ(refused.status, 1) << reader[1] << ": " << refused.err;
        EXPECT_NE(refused.err.find("a pipe or a device, not a regular file"), std::string::npos) << refused.err;
    }
}

TEST_F(SpindleCliTest, FailuresOfTheDeviceOrTheBenchFileAreFailures) {
    // One Osprey at index 1 with the given "faults" member.
    const auto WriteOspreyWithFaults = [this](const std::string& faults) {
        WriteFile(Bench(), R"({"format": "spindle-sim-bench", "version": 1, "devices": [
            {"index": 1, "vendorId": "0xFA57", "productId": "0x100A", "strings": {"1": "Osprey  1.12.0"},
             "slots": {"0": "OSP90002"}, "faults": )" + faults + "}]}");
    };
    // Values that could not be read are neither shown as read nor backed up.
    WriteOspreyWithFaults(R"({"failRequests": ["bulkin"]})");
    EXPECT_EQ(RunOnBench({"get", "1"}).status, 1);
    EXPECT_EQ(RunOnBench({"export", "1", "broken.json"}).status, 1);
    EXPECT_FALSE(fs::exists(Path("broken.json")));
    WriteOspreyWithFaults(R"({"failRequests": ["string"]})");
    const RunResult version = RunOnBench({"get", "1"});
    EXPECT_TRUE(version.status == 1 && version.out.starts_with("Firmware Version\t(not read)\n")) << version.out;
    // Unplugged between the read and the save: only the save's outcome
    // says it failed (the tool itself meets no problem), and that is enough.
    WriteOspreyWithFaults(R"({"unplugAfterRequests": 45})");
    const RunResult saved = RunOnBench({"set", "1", "Serial Number=OSP1"});
    EXPECT_EQ(saved.status, 1);
    EXPECT_NE(saved.err.find("Nothing was written."), std::string::npos) << saved.err;
    // A change the bench file cannot keep is not reported as made.
    WriteFile(Bench(), spindle::sim::DemoBenchText());
    fs::permissions(Bench(), fs::perms::owner_read);
    const RunResult refused = RunOnBench({"set", "3", "Serial Number=OSP1"});
    fs::permissions(Bench(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(refused.status == 1 && refused.out.empty());
    EXPECT_NE(refused.err.find("not saved in the bench file: Serial Number: OSP05521 -> OSP1"), std::string::npos)
        << refused.err;
}

TEST_F(SpindleCliTest, JsonOutputEscapesBytesThatAreNotUtf8) {
    // A serial holding a Latin-1 byte (0xE9) and a lone continuation byte.
    EditDevice(3, [](Json& device) { device["slots"]["0"] = {{"hex", "4F 53 50 E9 31 80"}}; });
    EXPECT_EQ(Json::parse(RunOnBench({"--json", "get", "3"}).out)["rows"][1]["value"], "OSP\\xE91\\x80");
}

TEST_F(SpindleCliTest, StationProgramsEachKestrelAsItArrivesAndProgramConfirmsTheComeback) {
    Json bench = {{"devices", Json::array()}};
    for (int i = 0; i < 3; ++i) {
        bench["devices"].push_back({{"index", i}, {"vendorId", "0xFA57"}, {"productId", "0x1002"},
                                    {"strings", {{"1", "Kestrel 3.20.1"}}}, {"slots", {{"0", "KES0" + std::to_string(i)}}},
                                    {"arrivesAfterMs", 1000 * (i + 1)}});
    }
    WriteFile(Bench(), bench.dump(1));
    std::string image = TestImage(0xB2);
    image.replace(1, 4, "\x57\xFA\x02\x10");
    WriteFile(Path("image.iic"), image);
    EXPECT_EQ(RunOnBench({"station", "--family", "Dodo", "image.iic"}).status, 2);
    const RunResult station = RunOnBench({"station", "--family", "kestrel", "--count", "3", "image.iic"}, 60);
    ASSERT_EQ(station.status, 0) << station.err;
    // The jobs share the clock: the last to end may be any of the three.
    EXPECT_NE(station.out.find("Ezusb-2 Kestrel KES02: PASS, came back as Kestrel KES02, firmware 3.20.1 ("),
              std::string::npos)
        << station.out;
    EXPECT_NE(station.out.find(" (3 passed, 0 failed, of 3)\nStation: 3 passed, 0 failed.\n"), std::string::npos);
    std::string hex;
    for (const char byte : image) hex += spindle::StrPrintf("%02X", static_cast<unsigned char>(byte));
    const Json written = Json::parse(ReadFile(Bench()));
    for (const Json& device : written["devices"]) EXPECT_EQ(device["eeprom"]["contents"], hex);
    // There from the start, device 0 comes back; device 1 never does.
    EditDevice(0, [](Json& device) { device.erase("arrivesAfterMs"); });
    EditDevice(1, [](Json& device) {
        device.erase("arrivesAfterMs");
        device["reconnectMs"] = "never";
    });
    const RunResult confirmed = RunOnBench({"program", "--confirm", "0", "1", "image.iic"}, 60);
    EXPECT_EQ(confirmed.status, 1);
    EXPECT_NE(confirmed.out.find("read back and verified; came back as Kestrel KES00, firmware 3.20.1\n"),
              std::string::npos)
        << confirmed.out;
    EXPECT_NE(confirmed.out.find("  - the device did not come back within 60 s"), std::string::npos) << confirmed.out;
}

TEST_F(SpindleCliTest, ProgramWritesEveryDeviceAtOnceAndNamesTheOneThatFailed) {
    const std::string image = TestImage(0xC2);
    WriteFile(Path("image.iic"), image);
    // 3 is an EZ-USB, 4 and 6 are FX2s: the FX2 image for device 3 needs --yes.
    const RunResult programmed = RunOnBench({"--yes", "program", "3", "4", "6", "image.iic"});
    ASSERT_EQ(programmed.status, 0) << programmed.err;
    EXPECT_NE(programmed.out.find("Programmed 3 of 3 devices."), std::string::npos) << programmed.out;
    // Off a terminal every device's progress is reported to the end of each
    // phase, however quickly its job passes it, with how far the whole job
    // is (the read-back still ahead of the writes' end).
    for (const char* device : {"3", "4", "6"}) {
        for (const char* phase : {"writing 16384/16384 bytes \\([1-9][0-9]%\\)", "verifying 16384/16384 bytes \\(100%\\)"}) {
            const std::regex line(std::string("(^|\n)\\[") + device + "\\][^\n]* " + phase + "\n");
            EXPECT_TRUE(std::regex_search(programmed.err, line)) << device << " " << phase;
        }
    }
    ASSERT_EQ(RunOnBench({"eeprom-dump", "6", "dump.iic"}).status, 0);
    EXPECT_EQ(ReadFile(Path("dump.iic")), image);

    // A device another program holds (its job runs) is busy, not missing.
    const std::unique_ptr<spindle::sim::SimBench> holder = spindle::sim::LoadBench(Bench().string());
    const spindle::DeviceHandle held = holder->Open("\\\\.\\Ezusb-6");
    const RunResult busy = RunOnBench({"program", "6", "image.iic"});
    EXPECT_TRUE(busy.status == 1 && busy.err.find("device 6 is busy") != std::string::npos) << busy.err;
    holder->Close(held);

    // The cable of 4 comes out after the scan, the loader and two writes.
    EditDevice(4, [](Json& device) { device["faults"] = {{"unplugAfterRequests", 17}}; });
    fs::create_directories(Path("old"));
    const RunResult failed = RunOnBench({"--json", "program", "--backup", Path("old").string(), "4", "6", "image.iic"});
    EXPECT_EQ(failed.status, 1);
    const Json results = Json::parse(failed.out)["results"];
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0]["device"]["index"] == 4 && !results[0]["ok"].get<bool>() && results[1]["verified"].get<bool>());
    EXPECT_EQ(ReadFile(Path("old/Ezusb-6-eeprom-backup.iic")), image);

    // The record keeps every job and value write.
    ASSERT_EQ(RunOnBench({"set", "3", "Serial Number=OSP00999"}).status, 0);
    const Json records = Json::parse(Run({"--json", "history"}).out)["records"];
    EXPECT_EQ(records.back()["serialAfter"], "OSP00999");
    EXPECT_EQ(Json::parse(Run({"--json", "history", "--failed"}).out)["records"].size(), 1u);
    EXPECT_EQ(Run({"history", "--since", "yesterday"}).status, 2);
}

// Every box the window shows at a job's end, the messages the job met
// (folded, with their counts) and its completion box, reaches standard error
// with the same text.
TEST_F(SpindleCliTest, EveryBoxTheWindowShowsForAJobReachesStandardError) {
    WriteFile(Path("image.iic"), TestImage(0xC2));
    WriteFile(Path("bad.hex"), ":0400000001020304F2\nnot a record\n:0400100001020304E2\n:00000001FF\n");
    const std::string design = std::string(SPINDLE_SOURCE_DIR) + "/examples/demo-design.xsvf";
    struct Case {
        std::uint32_t device, family;
        const char* failing;  // the bench's failRequests
        const char* player;   // FPGA jobs: the player file ("" ours); none for EEPROM jobs
        const char* box;      // a box the case is about
    };
    using namespace spindle;
    for (const Case& c : std::vector<Case>{
             {6, family::kFalcon, "", nullptr, "EEPROM Programming Complete."},
             {4, family::kKestrelPlus, "vendor", nullptr, "Error in Vendor request. (met 5 times)"},
             {6, family::kFalcon, "bulkin", "", "BULK_IN failed. (met 136 times)"},
             {6, family::kFalcon, "", "bad.hex", "Unable to open RaptorFPGA File"}}) {
        WriteFile(Bench(), sim::DemoBenchText());
        if (*c.failing) EditDevice(static_cast<int>(c.device), [&](Json& d) { d["faults"] = {{"failRequests", {c.failing}}}; });
        fs::copy_file(Bench(), Path("window.json"), fs::copy_options::overwrite_existing);
        const std::string player = c.player == nullptr || *c.player == '\0' ? "" : Path(c.player).string();
        std::vector<std::string> boxes;  // as the window shows them
        {
            auto bench = sim::LoadBench(Path("window.json").string());
            VirtualClock clock;
            MemoryDebugTrace trace;
            test::ScriptedUserInterface ui;
            bench->SetClock(&clock);  // as the tool runs it: the chips keep the clock's time
            Platform platform{*bench, clock, trace, ui};
            CMainFrame frame(platform);
            frame.OnCreate();
            FpgaJobOptions fpga;
            fpga.playerPath = player;
            const DeviceRecord record{c.device, c.family, ""};
            ASSERT_TRUE((c.player != nullptr ? frame.StartFpgaJob(record, design, fpga)
                                  : frame.StartEepromJob(record, Path("image.iic").string())).Ok());
            frame.WaitForJobs();
            for (const auto& job : frame.CollectFinishedJobs()) {
                for (const auto& box : job.boxes) boxes.push_back(ShownText(box));
            }
        }
        EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [&](const std::string& b) { return b.starts_with(c.box); }));
        std::vector<std::string> args = {"--yes", c.player != nullptr ? "program-fpga" : "program"};
        if (!player.empty()) args.insert(args.end(), {"--player", player});
        args.insert(args.end(), {std::to_string(c.device), c.player != nullptr ? design : "image.iic"});
        const RunResult run = RunOnBench(args);
        EXPECT_EQ(run.status, *c.failing == '\0' && c.player == nullptr ? 0 : 1) << c.box;
        for (const std::string& box : boxes) EXPECT_NE(run.err.find(box), std::string::npos) << box << "\n" << run.err;
    }
}

// The player's status block names the command that failed and where, whether
// the verdict comes at the end (the 139-byte design: its failing XSDR is in
// the last packet, which the player plays after the host's empty packet) or
// early (a wrong IDCODE, at the design's start).
TEST_F(SpindleCliTest, AFailedXsvfCheckIsNamedWithItsCommandAndByte) {
    spindle::test::XsvfWriter design;
    design.CheckIdcode(6, 0x0A001093).Sir(6, 0x3F);  // BYPASS: the next XSDR reads zeros, not the IDCODE
    design.Comment(std::string(120 - design.Offset() - 2, 'x')).Sdr(0).Comment(std::string(11, 'x')).Complete();
    ASSERT_EQ(design.Offset(), 139u);
    WriteFile(Path("late.xsvf"), std::string(design.Bytes().begin(), design.Bytes().end()));
    for (const auto& [file, named] : {std::pair{Path("late.xsvf").string(), "at the end (0xBEEF): XSDR at byte 120 failed its TDO check"},
                                      {std::string(SPINDLE_SOURCE_DIR "/examples/wrong-idcode.xsvf"),
                                       "of the file's 8290 bytes: XSDRTDO at byte 17 failed its TDO check"}}) {
        const RunResult run = RunOnBench({"program-fpga", "6", file});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    }
}

TEST_F(SpindleCliTest, ASignalStopsEveryJobAfterItsRequestAndSaysWhatWasDone) {
    EditDevice(3, [](Json& device) { device["faults"] = {{"vendorRequestDelayMs", 40}}; });
    WriteFile(Path("image.iic"), TestImage(0xB2) + TestImage(0xB2) + TestImage(0xB2));
    // The tool is signalled once its progress says the device is being written.
    const std::string script =
        "\"$0\" --bench bench.json program 3 image.iic >job-out.txt 2>job-err.txt & pid=$!; i=0; "
        "until grep -q writing job-err.txt || [ $i -ge 500 ]; do sleep 0.01; i=$((i+1)); done; "
        "kill -TERM $pid; wait $pid";
    EXPECT_EQ(spindle::test::RunCli("/bin/sh", dir_, {"-c", script, kCli}, 30).status, 143);
    EXPECT_NE(ReadFile(Path("job-out.txt")).find("stopped on request after"), std::string::npos);
    EXPECT_NE(ReadFile(Path("job-err.txt")).find("EEPROM Programming Failed on device 3"), std::string::npos);
    // Killed outright while its device answers slowly: the record stays, interrupted.
    EditDevice(6, [](Json& device) { device["faults"] = {{"vendorRequestDelayMs", 3000}}; });
    const RunResult killed = spindle::test::RunCli(
        "timeout", dir_, {"-s", "KILL", "1", kCli, "--yes", "--bench", Bench().string(), "program", "6", "image.iic"});
    EXPECT_EQ(killed.status, 137);
    const Json interrupted = Json::parse(Run({"--json", "history", "--serial", "FAL01204"}).out)["records"];
    ASSERT_EQ(interrupted.size(), 1u);
    EXPECT_EQ(interrupted[0]["result"], "interrupted");
}

TEST_F(SpindleCliTest, PsocPagesShowOpenAndWatchAsTheWindowDoes) {
    const std::string before = ReadFile(Bench());
    EXPECT_EQ(Json::parse(RunOnBench({"--json", "psoc", "8", "show"}).out)["values"]["Fan Fail"], "no");
    EXPECT_EQ(ReadFile(Bench()), before) << "show writes nothing";
    // The Condor's start reads the temperature only: the rest is not read.
    const RunResult condor = RunOnBench({"psoc", "8", "open"});
    EXPECT_NE(condor.out.find("SetPoint Celsius\tnot read\n"), std::string::npos) << condor.out;
    EXPECT_EQ(RunOnBench({"psoc", "9", "setpoint", "30"}).status, 1);
    ASSERT_EQ(RunOnBench({"psoc", "9", "open"}).status, 0);
    const RunResult watched = RunOnBench({"--json", "psoc", "9", "watch", "--count", "2"});
    std::vector<double> temperatures;
    std::istringstream lines(watched.out);
    for (std::string line; std::getline(lines, line);) {
        temperatures.push_back(std::stod(Json::parse(line)["values"]["Current Temperature(C)"].get<std::string>()));
    }
    // Ten seconds between readings, a degree a second.
    ASSERT_EQ(temperatures.size(), 2u) << watched.out;
    EXPECT_DOUBLE_EQ(temperatures[1], temperatures[0] - 10.0);
}

TEST_F(SpindleCliTest, AccessoryToolsWorkTheDialogsFromTheArguments) {
    EditDevice(0, [](Json& device) { device["lantern"]["temperatureSequence"] = Json::array({{5, 1000}, {5, 3000}}); });
    const auto lanternSlot = [this](int slot) {
        const Json bench = Json::parse(ReadFile(Bench()));
        for (const Json& device : bench["devices"]) {
            if (device["index"] == 0) return device["lantern"]["slots"][std::to_string(slot)].get<std::string>();
        }
        return std::string();
    };
    // The mode is saved: without --temperature or --resistance the last one
    // stays, said before the first side, and the prompts name its unit.
    ASSERT_EQ(RunOnBench({"--yes", "lantern-cal", "0/lantern", "--averages", "4", "--low", "100", "--high", "200", "--resistance"}).status, 0);
    const RunResult kept = RunOnBench({"--yes", "lantern-cal", "0/lantern", "--averages", "4", "--low", "100", "--high", "200"});
    EXPECT_NE(kept.err.find("Resistance mode, as last used"), std::string::npos) << kept.err;
    EXPECT_NE(kept.err.find("low reference (100 ohms)"), std::string::npos) << kept.err;
    const RunResult calibrated =
        RunOnBench({"--yes", "lantern-cal", "0/lantern", "--averages", "4", "--low", "25", "--high", "65", "--temperature"});
    ASSERT_EQ(calibrated.status, 0) << calibrated.err;
    EXPECT_NE(calibrated.err.find("high reference (65 \u00B0C)"), std::string::npos) << calibrated.err;
    EXPECT_EQ(lanternSlot(1), "2.000000e-02");
    EXPECT_EQ(lanternSlot(2), "5.000000e+00");

    const RunResult changed = RunOnBench({"kestrel-extra", "0", "Reading Period (sec)=300", "Ratio=yes",
                                          "Measurement Type=Flourescence", "Analog Out Full Scale Value=4096"});
    ASSERT_EQ(changed.status, 0) << changed.err;
    EXPECT_NE(changed.out.find("Analog Out Full Scale Value\t4369\n"), std::string::npos)
        << "what the Kestrel holds, read back: " << changed.out;
    const Json fields = Json::parse(RunOnBench({"--json", "kestrel-extra", "0"}).out)["fields"];
    EXPECT_EQ(fields["Measurement Type"], "Flourescence");
    EXPECT_EQ(fields["Ratio"], "yes");
    EXPECT_EQ(RunOnBench({"kestrel-extra", "3"}).status, 1) << "an Osprey has no such settings";
}

}  // namespace
