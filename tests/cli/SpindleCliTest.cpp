// End-to-end tests of spindle-cli: each test runs the built program, as a
// shell script would, on a bench file and a settings folder of its own.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/Format.h"
#include "sim/SimBench.h"
#include "tools/ExtraKestrelDlg.h"
#include "support/CliRun.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr const char* kCli = SPINDLE_CLI_PATH;
constexpr const char* kManufacturingCode = "TOLMIDEXN";
constexpr const char* kLockedNote = "Configuration strings can only be changed by\n Lumora Manufacturing.";

using RunResult = spindle::test::CliRun;
using spindle::test::ReadFile;

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
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
    RunResult Run(const std::vector<std::string>& args) { return spindle::test::RunCli(kCli, dir_, args); }
    RunResult RunOnBench(std::vector<std::string> args) {
        args.insert(args.begin(), {"--bench", Bench().string()});
        return Run(args);
    }
    // Changes the bench file's device `index` with `edit`.
    void EditDevice(int index, const std::function<void(Json&)>& edit) {
        Json bench = Json::parse(ReadFile(Bench()));
        for (Json& device : bench["devices"]) {
            if (device["index"] == index) edit(device);
        }
        WriteFile(Bench(), bench.dump(1));
    }
    // Value of a row in `get` text output.
    std::string Value(const std::string& device, const std::string& label) {
        const RunResult got = RunOnBench({"get", device});
        std::istringstream lines(got.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(label + "\t")) return line.substr(label.size() + 1);
        }
        return "<no row " + label + ">";
    }

    fs::path dir_;
};

TEST_F(SpindleCliTest, ScanShowsTheTreeAndTheRecords) {
    const RunResult text = Run({"--bench", "demo", "scan"});
    ASSERT_EQ(text.status, 0) << text.err;
    // Exact labels (maker devices end in one space), indented by depth.
    EXPECT_TRUE(text.out.starts_with("Computer\n  Kestrel Devices\n    [0] Kestrel - KES10234 \n"
                                     "      Lantern - LAN00231\n    [1] Kestrel - KES08811 \n  Wren Devices\n"))
        << text.out;
    EXPECT_NE(text.out.find("  Ibis Devices\n    [9] Gannet - GAN00145 \n    [10] Skua - SKU00052 \n"),
              std::string::npos);
    EXPECT_NE(text.out.find("  Unprogrammed Vexa USB Devices\n    USB Device 14\n    USB Device 15\n"
                            "    USB Device 17\n"),
              std::string::npos);
    EXPECT_EQ(text.out.find("[16]"), std::string::npos);

    const RunResult json = Run({"--bench", "demo", "--json", "scan"});
    ASSERT_EQ(json.status, 0) << json.err;
    const Json devices = Json::parse(json.out)["devices"];
    ASSERT_EQ(devices.size(), 18u);
    EXPECT_EQ(devices[1], Json::parse(R"({"index": 0, "familyCode": 5, "familyName": "Lantern",
                                          "serial": "LAN00231", "label": "Lantern - LAN00231"})"));
    bool sawSkua = false;
    for (const Json& device : devices) {
        if (device["index"] == 10) {
            sawSkua = true;
            EXPECT_EQ(device["familyCode"], 9);
            EXPECT_EQ(device["familyName"], "Ibis");
            EXPECT_EQ(device["label"], "[10] Skua - SKU00052 ");
        }
    }
    EXPECT_TRUE(sawSkua);
}

TEST_F(SpindleCliTest, GetPrintsRowsAndSelectorsNameTheRightDevice) {
    const RunResult text = Run({"--bench", "demo", "get", "3"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(text.out.starts_with("Firmware Version\tOsprey  1.12.0\nSerial Number\tOSP05521\n")) << text.out;

    const RunResult json = Run({"--bench", "demo", "--json", "get", "serial:OSP05521"});
    ASSERT_EQ(json.status, 0) << json.err;
    const Json document = Json::parse(json.out);
    EXPECT_EQ(document["device"]["index"], 3);
    EXPECT_EQ(document["rows"][1], Json::parse(R"({"label": "  Serial Number", "value": "OSP05521"})"));

    // The Lantern shares its Kestrel's index; the bare index is the Kestrel.
    const RunResult kestrel = Run({"--bench", "demo", "--json", "get", "0"});
    const RunResult lantern = Run({"--bench", "demo", "--json", "get", "0/lantern"});
    ASSERT_EQ(lantern.status, 0) << lantern.err;
    EXPECT_EQ(Json::parse(kestrel.out)["device"]["familyCode"], 2);
    EXPECT_EQ(Json::parse(lantern.out)["device"]["familyCode"], 5);
    EXPECT_EQ(Json::parse(lantern.out)["device"]["serial"], "LAN00231");
}

TEST_F(SpindleCliTest, SetIsKeptInTheBenchFileAcrossProcesses) {
    const RunResult set = RunOnBench({"set", "3", "Serial Number=OSP77777", "Stray Light Correction Coefficient=0.5"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("Serial Number: OSP05521 -> OSP77777\n"), std::string::npos) << set.out;
    EXPECT_NE(set.out.find("Stray Light Correction Coefficient: 1.2000000e-03 -> 5.0000000e-01\n"),
              std::string::npos)
        << set.out;

    EXPECT_EQ(Value("3", "Serial Number"), "OSP77777");
    EXPECT_EQ(Value("3", "Stray Light Correction Coefficient"), "5.0000000e-01");
    EXPECT_NE(ReadFile(Bench()).find("\"OSP77777\""), std::string::npos);
    // The other devices keep their values.
    EXPECT_EQ(Value("2", "Serial Number"), "HER00417");
}

TEST_F(SpindleCliTest, ExportThenImportRestoresTheDevice) {
    const RunResult exported = RunOnBench({"export", "3", "osprey.json"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const Json backup = Json::parse(ReadFile(Path("osprey.json")));
    EXPECT_EQ(backup["familyCode"], 4);
    EXPECT_EQ(backup["familyName"], "Osprey");
    EXPECT_EQ(backup["serial"], "OSP05521");
    EXPECT_EQ(backup["deviceIndex"], 3);
    EXPECT_FALSE(backup["date"].get<std::string>().empty());
    ASSERT_EQ(backup["rows"].size(), 18u);
    EXPECT_EQ(backup["rows"][2]["label"], "  Wavelength Calibration Intercept");

    ASSERT_EQ(RunOnBench({"set", "3", "Serial Number=BROKEN", "Wavelength Calibration Intercept=1"}).status, 0);

    // Without --yes and without a terminal the differences are shown and
    // nothing is written.
    const RunResult asked = RunOnBench({"import", "3", "osprey.json"});
    EXPECT_EQ(asked.status, 1);
    EXPECT_NE(asked.err.find("Serial Number: BROKEN -> OSP05521"), std::string::npos) << asked.err;
    EXPECT_NE(asked.err.find("--yes"), std::string::npos);
    EXPECT_EQ(Value("3", "Serial Number"), "BROKEN");

    const RunResult restored = RunOnBench({"--yes", "import", "3", "osprey.json"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_NE(restored.out.find("Serial Number: BROKEN -> OSP05521"), std::string::npos) << restored.out;
    EXPECT_EQ(Value("3", "Serial Number"), "OSP05521");
    EXPECT_EQ(Value("3", "Wavelength Calibration Intercept"), "1.7745021e+02");

    // A second restore finds nothing to do and writes nothing.
    const std::string benchBefore = ReadFile(Bench());
    const RunResult again = RunOnBench({"import", "3", "osprey.json"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(Bench()), benchBefore);
}

TEST_F(SpindleCliTest, ImportRefusesABackupOfAnotherFamilyOrAMalformedFile) {
    ASSERT_EQ(RunOnBench({"export", "3", "osprey.json"}).status, 0);
    const std::string benchBefore = ReadFile(Bench());
    // The Osprey+ (family 10) shows the same first rows as the Osprey (4).
    const RunResult refused = RunOnBench({"--yes", "import", "7", "osprey.json"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("family 4"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nothing was written"), std::string::npos);
    EXPECT_EQ(ReadFile(Bench()), benchBefore);

    WriteFile(Path("bad.json"), R"({"format": "spindle-values", "version": 1, "rows": "x"})");
    EXPECT_EQ(RunOnBench({"--yes", "import", "3", "bad.json"}).status, 1);
    EXPECT_EQ(RunOnBench({"--yes", "import", "3", "missing.json"}).status, 2);
    EXPECT_EQ(ReadFile(Bench()), benchBefore);
}

TEST_F(SpindleCliTest, ImportPairsRepeatedLabelsByPositionAndHonoursTheLock) {
    // The Merlin shows its reserved slots as rows with one repeated label.
    ASSERT_EQ(RunOnBench({"export", "13", "merlin.json"}).status, 0);
    Json backup = Json::parse(ReadFile(Path("merlin.json")));
    ASSERT_EQ(backup["rows"][6]["label"], "  Reserved");
    ASSERT_EQ(backup["rows"][7]["label"], "  Reserved");
    // A backup of the older form, without the slots' bytes, restores the
    // row texts through the editors.
    backup.erase("slots");
    backup["rows"][1]["value"] = "MER12345";
    backup["rows"][6]["value"] = "1.2500000e+00";
    WriteFile(Path("merlin.json"), backup.dump(2));
    const Json before = Json::parse(RunOnBench({"--json", "get", "13"}).out)["rows"];

    // Reserved values are locked: the whole restore is refused, the serial too.
    const std::string benchBefore = ReadFile(Bench());
    const RunResult locked = RunOnBench({"--yes", "import", "13", "merlin.json"});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find(kLockedNote), std::string::npos) << locked.err;
    EXPECT_EQ(ReadFile(Bench()), benchBefore);

    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    const RunResult restored = RunOnBench({"--yes", "import", "13", "merlin.json"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    const Json after = Json::parse(RunOnBench({"--json", "get", "13"}).out)["rows"];
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t row = 0; row < after.size(); ++row) {
        if (row == 1) {
            EXPECT_EQ(after[row]["value"], "MER12345");
        } else if (row == 6) {
            EXPECT_EQ(after[row]["value"], "1.2500000e+00");
        } else {
            EXPECT_EQ(after[row], before[row]) << "row " << row;
        }
    }
}

TEST_F(SpindleCliTest, ManufacturingLockAndUnlockPersistingInTheSettings) {
    const std::string benchBefore = ReadFile(Bench());
    // A locked row refuses the whole command: the serial is not written either.
    const RunResult locked = RunOnBench({"set", "3", "Serial Number=OSP1", "Configuration String 1=UV-200"});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("\"Configuration String 1\" cannot be changed"), std::string::npos) << locked.err;
    EXPECT_NE(locked.err.find(kLockedNote), std::string::npos);
    EXPECT_EQ(ReadFile(Bench()), benchBefore);
    // The auto-nulling settings of a Kestrel+ are locked the same way.
    EXPECT_EQ(RunOnBench({"set", "4", "AutoNulling Info=Disabled,Disabled,1,2"}).status, 1);
    // So are the manufacturing commands.
    EXPECT_EQ(RunOnBench({"verify", "3"}).status, 1);

    EXPECT_EQ(Run({"unlock", "tolmidexn"}).status, 1);  // codes are case-sensitive
    const RunResult unlocked = Run({"unlock", kManufacturingCode});
    ASSERT_EQ(unlocked.status, 0) << unlocked.err;
    EXPECT_NE(unlocked.out.find("Manufacturing=1"), std::string::npos);
    EXPECT_NE(ReadFile(Path("config/Spindle.ini")).find("Manufacturing=1"), std::string::npos);

    const RunResult set = RunOnBench({"set", "3", "Configuration String 1=UV-200"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(Value("3", "Configuration String 1"), "UV-200");
    const RunResult nulling = RunOnBench({"set", "4", "AutoNulling Info=Disabled,Enabled,1200,60000"});
    ASSERT_EQ(nulling.status, 0) << nulling.err;
    EXPECT_EQ(Value("4", "AutoNulling Info"), "Disabled,Enabled,1200,60000");
    EXPECT_EQ(RunOnBench({"set", "4", "AutoNulling Info=on"}).status, 1);

    const RunResult verified = RunOnBench({"verify", "3"});
    EXPECT_EQ(verified.status, 0) << verified.err;
    EXPECT_NE(verified.err.find("Device verified as Osprey\n"), std::string::npos);
    EXPECT_NE(verified.err.find("Vendor and Device ID Test\n\n-----PASS-----\n"), std::string::npos);
    const RunResult failed = RunOnBench({"verify", "6"});  // a Falcon is not in Verify's table
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("****FAILURE******"), std::string::npos);

    // Locking again takes the manufacturing commands away.
    ASSERT_EQ(Run({"unlock", "QARVEST"}).status, 0);
    EXPECT_EQ(RunOnBench({"verify", "3"}).status, 1);
}

TEST_F(SpindleCliTest, ExitStatusesTellUsageFromFailure) {
    // Without --bench the attached USB devices are scanned: not a usage
    // error. On a machine without devices (or USB) that finds nothing, or
    // says the USB back end cannot start.
    const RunResult noBench = Run({"--json", "scan"});
    if (noBench.status == 0) {
        const Json scan = Json::parse(noBench.out, nullptr, false);
        ASSERT_TRUE(scan.contains("devices")) << noBench.out;
        EXPECT_TRUE(scan["devices"].is_array());
        EXPECT_EQ(noBench.out.find("KES10234"), std::string::npos);  // not the demo bench
    } else if (noBench.status == 1) {
        EXPECT_NE(noBench.err.find("the USB back end cannot start"), std::string::npos) << noBench.err;
    } else {
        // Only a program built without libusb calls it a usage error.
        EXPECT_EQ(noBench.status, 2);
        EXPECT_NE(noBench.err.find("built without the USB back end"), std::string::npos) << noBench.err;
    }
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "frobnicate"}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "get", "three"}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "get", "128"}).status, 2);
    EXPECT_EQ(Run({"--bench", "demo", "set", "3", "Serial Number"}).status, 2);
    EXPECT_EQ(Run({"--bench", Path("nope.json").string(), "scan"}).status, 2);

    const RunResult help = Run({"set", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("LABEL=VALUE"), std::string::npos);
    // The version needs no subcommand (everything else does).
    const RunResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("spindle-cli " SPINDLE_TEST_VERSION "\n")) << version.out;

    EXPECT_EQ(Run({"--bench", "demo", "get", "99"}).status, 1);
    EXPECT_EQ(Run({"--bench", "demo", "get", "3/lantern"}).status, 1);
    EXPECT_EQ(Run({"--bench", "demo", "get", "serial:NOPE"}).status, 1);
    EXPECT_EQ(Run({"--bench", "demo", "get", "14"}).status, 1);  // unprogrammed: no stored values
    EXPECT_EQ(Run({"--bench", "demo", "set", "3", "serial number=X"}).status, 1);  // labels are case-sensitive
}

TEST_F(SpindleCliTest, ADeviceThatFailsIsAFailure) {
    // One Osprey at index 1 with the given "faults" member.
    const auto WriteOspreyWithFaults = [this](const std::string& faults) {
        WriteFile(Bench(), R"({"format": "spindle-sim-bench", "version": 1, "devices": [
            {"index": 1, "vendorId": "0xFA57", "productId": "0x100A", "strings": {"1": "Osprey  1.12.0"},
             "slots": {"0": "OSP90002"}, "faults": )" + faults + "}]}");
    };
    // Every bulk read of this Osprey fails: its values cannot be trusted,
    // so neither get nor export may report success.
    WriteOspreyWithFaults(R"({"failRequests": ["bulkin"]})");
    const RunResult got = RunOnBench({"get", "1"});
    EXPECT_EQ(got.status, 1);
    EXPECT_NE(got.err.find("could not be read"), std::string::npos) << got.err;
    EXPECT_EQ(RunOnBench({"export", "1", "broken.json"}).status, 1);
    EXPECT_FALSE(fs::exists(Path("broken.json")));

    // Only the firmware version (string descriptor 1) cannot be read: the
    // row says so and the read still counts as failed.
    WriteOspreyWithFaults(R"({"failRequests": ["string"]})");
    const RunResult version = RunOnBench({"get", "1"});
    EXPECT_EQ(version.status, 1);
    EXPECT_NE(version.out.find("Firmware Version\t(not read)"), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("Serial Number\tOSP90002"), std::string::npos) << version.out;
    EXPECT_EQ(RunOnBench({"export", "1", "partial.json"}).status, 1);

    // Unplugged between the read and the save: only the save's outcome
    // says it failed (the tool itself meets no problem), and that is enough.
    WriteOspreyWithFaults(R"({"unplugAfterRequests": 45})");
    const RunResult saved = RunOnBench({"set", "1", "Serial Number=OSP1"});
    EXPECT_EQ(saved.status, 1);
    EXPECT_NE(saved.err.find("Nothing was written."), std::string::npos) << saved.err;
    EXPECT_EQ(saved.err.find("spindle-cli:"), std::string::npos) << saved.err;
}

TEST_F(SpindleCliTest, AChangeTheBenchFileCannotKeepIsNotReportedAsMade) {
    const std::string before = ReadFile(Bench());
    fs::permissions(Bench(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const RunResult refused = RunOnBench({"set", "3", "Serial Number=OSP1"});
    fs::permissions(Bench(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("read-only"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("not saved in the bench file: Serial Number: OSP05521 -> OSP1"), std::string::npos)
        << refused.err;
    EXPECT_EQ(ReadFile(Bench()), before);

    // Through a symbolic link the change reaches the file the link names.
    fs::create_symlink("bench.json", Path("link.json"));
    ASSERT_EQ(Run({"--bench", Path("link.json").string(), "set", "3", "Serial Number=OSP2"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.json")));
    EXPECT_EQ(Value("3", "Serial Number"), "OSP2");
}

TEST_F(SpindleCliTest, NumbersASlotCannotHoldAreRefusedWithTheirLimit) {
    const std::string bench = ReadFile(Bench());
    const RunResult baud = RunOnBench({"set", "4", "Startup Baud Rate=99999"});
    EXPECT_EQ(baud.status, 1);
    EXPECT_NE(baud.err.find("65535"), std::string::npos) << baud.err;
    for (const char* typed : {"nan", "1e999", "inf"}) {
        const RunResult coefficient = RunOnBench({"set", "3", std::string("Stray Light Correction Coefficient=") + typed});
        EXPECT_EQ(coefficient.status, 1) << typed;
        EXPECT_NE(coefficient.err.find("is not a number"), std::string::npos) << coefficient.err;
    }
    EXPECT_EQ(ReadFile(Bench()), bench);
}

TEST_F(SpindleCliTest, DownloadLoadsAProgramIntoAnUnprogrammedChip) {
    // Two records at 0x0000 and 0x0010 (one segment), one at 0x0100, and
    // one at 0x3000 that goes through the loader.
    WriteFile(Path("prog.hex"),
              ":10000000000102030405060708090A0B0C0D0E0F78\n"
              ":10001000101112131415161718191A1B1C1D1E1F68\n"
              ":0201000002FFFC\n"
              ":02300000AA55CF\n"
              ":00000001FF\n");
    const RunResult loaded = RunOnBench({"download", "15", "prog.hex"});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_NE(loaded.out.find("Downloaded 36 bytes in 3 segments"), std::string::npos) << loaded.out;

    WriteFile(Path("bad.hex"), ":10000000000102030405060708090A0B0C0D0E0F00\n");
    const RunResult refused = RunOnBench({"download", "15", "bad.hex"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("line 1: the checksum is wrong"), std::string::npos) << refused.err;
    EXPECT_EQ(RunOnBench({"download", "15", "prog.txt"}).status, 1);
    EXPECT_EQ(RunOnBench({"download", "99", "prog.hex"}).status, 1);

    // Records after a blank line: asked about; --yes takes the first part.
    WriteFile(Path("gap.hex"), ":10000000000102030405060708090A0B0C0D0E0F78\n\n:0201000002FFFC\n:00000001FF\n");
    const RunResult gap = RunOnBench({"download", "15", "gap.hex"});
    EXPECT_EQ(gap.status, 1);
    EXPECT_NE(gap.err.find("the 2 lines after it (2 of them records) were not read"), std::string::npos) << gap.err;
    EXPECT_EQ(RunOnBench({"--yes", "download", "15", "gap.hex"}).status, 0);
}

TEST_F(SpindleCliTest, FilesThatAreNotRegularAreRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> commands = {
        {"import", "3", "fifo"},          {"download", "15", "fifo.hex"}, {"program", "3", "fifo"},
        {"program-fpga", "6", "fifo"},    {"zephyr-import", "0/lantern", "fifo"},
    };
    fs::rename(Path("fifo"), Path("fifo.hex"));
    for (std::vector<std::string> command : commands) {
        if (command.back() == "fifo") command.back() = "fifo.hex";
        command.insert(command.begin(), {"--bench", Bench().string()});
        const RunResult run = spindle::test::RunCli(kCli, dir_, command, 20);
        EXPECT_EQ(run.status, 1) << command[2] << ": " << run.err;
    }
    const RunResult download = RunOnBench({"download", "15", "fifo.hex"});
    EXPECT_NE(download.err.find("not a regular file"), std::string::npos) << download.err;
    EXPECT_EQ(spindle::test::RunCli(kCli, dir_, {"--bench", "fifo.hex", "scan"}, 20).status, 2);
}

std::string TestImage(std::uint8_t bootByte);  // an EEPROM image of 16384 bytes
TEST_F(SpindleCliTest, ASignalStopsEveryJobAfterItsRequestAndSaysWhatWasDone) {
    Json bench = Json::parse(ReadFile(Bench()));
    for (Json& device : bench["devices"]) {
        if (device["index"] == 3) device["faults"] = {{"vendorRequestDelayMs", 40}};
    }
    WriteFile(Bench(), bench.dump(1));
    WriteFile(Path("image.iic"), TestImage(0xB2) + TestImage(0xB2) + TestImage(0xB2));
    // The tool is signalled once its progress says the device is being written.
    const std::string script =
        "\"$0\" --bench bench.json program 3 image.iic >job-out.txt 2>job-err.txt & pid=$!; i=0; "
        "until grep -q writing job-err.txt || [ $i -ge 500 ]; do sleep 0.01; i=$((i+1)); done; "
        "kill -TERM $pid; wait $pid";
    const RunResult run = spindle::test::RunCli("/bin/sh", dir_, {"-c", script, kCli}, 30);
    EXPECT_EQ(run.status, 143);
    const std::string err = ReadFile(Path("job-err.txt"));
    const std::string out = ReadFile(Path("job-out.txt"));
    EXPECT_NE(err.find("SIGTERM received"), std::string::npos) << err;
    EXPECT_NE(out.find("stopped on request after"), std::string::npos) << out;
    EXPECT_NE(err.find("EEPROM Programming Failed on device 3"), std::string::npos) << err;
}

TEST_F(SpindleCliTest, UnreadableSettingsAreReportedAndKept) {
    // A folder where the settings file should be cannot be read as one.
    fs::create_directories(Path("config/Spindle.ini/kept"));
    const RunResult got = RunOnBench({"get", "3"});
    EXPECT_EQ(got.status, 1);
    EXPECT_NE(got.err.find("cannot be read"), std::string::npos) << got.err;
    EXPECT_EQ(got.err.find("cannot be read"), got.err.rfind("cannot be read")) << "reported once: " << got.err;
    EXPECT_EQ(Run({"unlock", kManufacturingCode}).status, 1);
    EXPECT_TRUE(fs::is_directory(Path("config/Spindle.ini/kept")));
}

TEST_F(SpindleCliTest, ResetCoefsAndLinearityImportSave) {
    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    WriteFile(Path("falcon.lin"), "[Linearity Coefficients]\nIntercept=0.9\nNL0=1.5e-5\n");
    // Only the families that offer the button take a linearity file.
    EXPECT_EQ(RunOnBench({"linearity", "3", "falcon.lin"}).status, 1);
    const std::string order = Value("6", "Nonlinearity Correction Order");
    const RunResult imported = RunOnBench({"linearity", "6", "falcon.lin"});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("Press <Save All Values> to write to Spectrometer."), std::string::npos);
    EXPECT_EQ(Value("6", "Nonlinearity Correction 0th-order Coefficient"), "9.0000000e-01");
    EXPECT_EQ(Value("6", "Nonlinearity Correction 1st-order Coefficient"), "1.5000000e-05");
    EXPECT_EQ(Value("6", "Nonlinearity Correction Order"), order);

    const RunResult reset = RunOnBench({"reset-coefs", "3"});
    ASSERT_EQ(reset.status, 0) << reset.err;
    EXPECT_EQ(Value("3", "Serial Number"), "N/A");
    EXPECT_EQ(Value("3", "Wavelength Calibration Intercept"), "0.0000000e+00");
    EXPECT_EQ(Value("3", "Configuration String 2"), "N/A");
}

TEST_F(SpindleCliTest, UsbTraceFileRecordsTheRequests) {
    const RunResult got = RunOnBench({"--usb-trace", "usb.txt", "get", "3"});
    ASSERT_EQ(got.status, 0) << got.err;
    const std::string trace = ReadFile(Path("usb.txt"));
    // The scan opens every index; the read asks slot 0 of device 3.
    EXPECT_NE(trace.find("OPEN Ezusb-127 fail\n"), std::string::npos);
    EXPECT_NE(trace.find("BULKOUT Ezusb-3 pipe=0 len=3 ok : 05 00 01\n"), std::string::npos);
    EXPECT_NE(trace.find("SLEEP 10\n"), std::string::npos);

    EXPECT_EQ(RunOnBench({"--usb-trace", Path("no/such/dir/usb.txt").string(), "get", "3"}).status, 2);
}

}  // namespace

namespace {

// The devices of a bench file by index, the Lantern behind a Kestrel under
// its host's entry.
std::map<int, Json> DevicesByIndex(const Json& bench) {
    std::map<int, Json> devices;
    for (const Json& device : bench["devices"]) devices[device["index"].get<int>()] = device;
    return devices;
}

// The demo bench's devices that hold stored values, as the tool names them.
const std::vector<std::string> kValueDevices = {"0", "0/lantern", "1", "2", "3", "4", "5", "6",
                                                "7", "8", "9", "10", "11", "12", "13"};

}  // namespace

TEST_F(SpindleCliTest, SettingOneSerialChangesOnlyThatSlotOfEveryDevice) {
    // Digits beyond the list's eight in a Heron slave intercept and an
    // Osprey coefficient: a save must keep them.
    Json bench = Json::parse(ReadFile(Bench()));
    for (Json& device : bench["devices"]) {
        if (device["index"] == 2) device["slots"]["6"] = "341.0123456";
        if (device["index"] == 3) device["slots"]["1"] = "177.4502134";
    }
    WriteFile(Bench(), bench.dump(2));
    for (const std::string& device : kValueDevices) {
        const Json before = Json::parse(ReadFile(Bench()));
        const RunResult set = RunOnBench({"set", device, "Serial Number=NEW-" + device.substr(0, 2)});
        ASSERT_EQ(set.status, 0) << device << ": " << set.err;
        const Json after = Json::parse(ReadFile(Bench()));
        const auto was = DevicesByIndex(before);
        const auto now = DevicesByIndex(after);
        ASSERT_EQ(was.size(), now.size());
        for (const auto& [index, entry] : now) {
            Json expected = was.at(index);
            const bool lantern = device.ends_with("/lantern");
            if (std::to_string(index) == device.substr(0, device.find('/'))) {
                // Only the serial's slot may differ.
                if (lantern) {
                    expected["lantern"]["slots"]["0"] = entry["lantern"]["slots"]["0"];
                } else {
                    expected["slots"]["0"] = entry["slots"]["0"];
                }
            }
            EXPECT_EQ(entry, expected) << "setting the serial of " << device << " changed device " << index;
        }
    }
}

TEST_F(SpindleCliTest, ABackupRestoresEveryByteEvenBeyondTheListsDigits) {
    Json bench = Json::parse(ReadFile(Bench()));
    for (Json& device : bench["devices"]) {
        if (device["index"] == 3) device["slots"]["1"] = "177.4502134";
    }
    WriteFile(Bench(), bench.dump(2));
    const Json original = Json::parse(ReadFile(Bench()));
    ASSERT_EQ(RunOnBench({"export", "3", "osprey.json"}).status, 0);
    const Json backup = Json::parse(ReadFile(Path("osprey.json")));
    ASSERT_TRUE(backup.contains("slots"));

    // A value changed in digits the list does not show is still restored.
    bench["devices"][3]["slots"]["1"] = "177.4502139";
    ASSERT_EQ(bench["devices"][3]["index"], 3);
    WriteFile(Bench(), bench.dump(2));
    const RunResult restored = RunOnBench({"--yes", "import", "3", "osprey.json"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(Json::parse(ReadFile(Bench())), original);

    // Restoring the same backup again writes nothing.
    const std::string file = ReadFile(Bench());
    const RunResult again = RunOnBench({"--yes", "import", "3", "osprey.json"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.err.find("Nothing to restore"), std::string::npos) << again.err;
    EXPECT_EQ(ReadFile(Bench()), file);

    // Bytes that differ only past the text of a locked slot are locked too.
    Json locked = backup;
    locked["slots"]["15"] = locked["slots"]["15"].get<std::string>().substr(0, 28) + "7A";  // Configuration String 1
    WriteFile(Path("locked.json"), locked.dump(2));
    const RunResult lockedImport = RunOnBench({"--yes", "import", "3", "locked.json"});
    EXPECT_EQ(lockedImport.status, 1);
    EXPECT_NE(lockedImport.err.find("cannot be changed: the value is locked"), std::string::npos) << lockedImport.err;
    EXPECT_EQ(ReadFile(Bench()), file);

    // Slot bytes that are not 15 bytes of hexadecimal are refused.
    Json broken = backup;
    broken["slots"]["1"] = "12";
    WriteFile(Path("broken.json"), broken.dump(2));
    EXPECT_EQ(RunOnBench({"--yes", "import", "3", "broken.json"}).status, 1);
    EXPECT_EQ(ReadFile(Bench()), file);
}

TEST_F(SpindleCliTest, UnlockPrintsTheFlagsOnlyWhenTheyWereSaved) {
    // A folder where the settings file should be: nothing can be saved.
    fs::create_directories(dir_ / "config" / "Spindle.ini");
    const RunResult unsaved = Run({"unlock", kManufacturingCode});
    EXPECT_EQ(unsaved.status, 1);
    EXPECT_EQ(unsaved.out, "");
    EXPECT_NE(unsaved.err.find("could not be saved"), std::string::npos) << unsaved.err;
}

TEST_F(SpindleCliTest, JsonOutputEscapesBytesThatAreNotUtf8) {
    // A serial holding a Latin-1 byte (0xE9) and a lone continuation byte.
    Json bench = Json::parse(ReadFile(Bench()));
    for (Json& device : bench["devices"]) {
        if (device["index"] == 3) device["slots"]["0"] = {{"hex", "4F 53 50 E9 31 80"}};
    }
    WriteFile(Bench(), bench.dump(2));
    const RunResult got = RunOnBench({"--json", "get", "3"});
    ASSERT_EQ(got.status, 0) << got.err;
    const Json rows = Json::parse(got.out)["rows"];
    EXPECT_EQ(rows[1]["value"], "OSP\\xE91\\x80");
    const RunResult scan = RunOnBench({"--json", "scan"});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("OSP\\\\xE91\\\\x80"), std::string::npos) << scan.out;

    // The backup keeps the exact bytes, and restores them.
    ASSERT_EQ(RunOnBench({"export", "3", "osprey.json"}).status, 0);
    const std::string file = ReadFile(Bench());
    ASSERT_EQ(RunOnBench({"set", "3", "Serial Number=OSP1"}).status, 0);
    ASSERT_EQ(RunOnBench({"--yes", "import", "3", "osprey.json"}).status, 0);
    EXPECT_EQ(Json::parse(ReadFile(Bench())), Json::parse(file));
}

namespace {

TEST_F(SpindleCliTest, HugeDeepOrMistypedFilesAreRefusedWithoutACrash) {
    // Endless files: a bench file and a backup read from /dev/zero.
    const RunResult endlessBench = Run({"--bench", "/dev/zero", "scan"});
    EXPECT_EQ(endlessBench.status, 2) << endlessBench.err;
    EXPECT_NE(endlessBench.err.find("not a regular file"), std::string::npos) << endlessBench.err;
    const std::string bench = ReadFile(Bench());
    const RunResult endlessBackup = RunOnBench({"--yes", "import", "3", "/dev/zero"});
    EXPECT_EQ(endlessBackup.status, 1) << endlessBackup.err;

    // A comment 50,000 arrays deep.
    std::string deep = R"({"format": "spindle-sim-bench", "version": 1, "_comment": )";
    deep += std::string(50000, '[') + std::string(50000, ']') + R"(, "devices": []})";
    WriteFile(Path("deep.json"), deep);
    const RunResult deepBench = Run({"--bench", Path("deep.json").string(), "scan"});
    EXPECT_EQ(deepBench.status, 2) << deepBench.err;
    EXPECT_NE(deepBench.err.find("nested deeper"), std::string::npos) << deepBench.err;

    // Backups with members of the wrong type or out of range.
    ASSERT_EQ(RunOnBench({"export", "3", "osprey.json"}).status, 0);
    const Json backup = Json::parse(ReadFile(Path("osprey.json")));
    const std::vector<std::pair<std::string, Json>> broken = {
        {"format", 7}, {"deviceLabel", Json::array()}, {"familyCode", 4294967300ull}};
    for (const auto& [member, value] : broken) {
        Json changed = backup;
        changed[member] = value;
        WriteFile(Path("broken.json"), changed.dump());
        const RunResult refused = RunOnBench({"--yes", "import", "3", "broken.json"});
        EXPECT_EQ(refused.status, 1) << member << ": " << refused.err;
    }
    EXPECT_EQ(ReadFile(Bench()), bench);
}

}  // namespace

namespace {

TEST_F(SpindleCliTest, ALinearityFileWithoutCoefficientsOrWithValuesTheDeviceCannotKeepChangesNothing) {
    ASSERT_EQ(Run({"unlock", kManufacturingCode}).status, 0);
    const std::string bench = ReadFile(Bench());
    const std::vector<std::string> files = {
        "[Something Else]\nIntercept=0.9\n",
        std::string("\x01\xFF garbage \x00 bytes", 18),
        "[Linearity Coefficients]\nIntercept=inf\n",
        "[Linearity Coefficients]\nNL0=-inf\n",
        "[Linearity Coefficients]\nNL1=1e254\n",
    };
    for (const std::string& text : files) {
        WriteFile(Path("bad.lin"), text);
        const RunResult refused = RunOnBench({"linearity", "6", "bad.lin"});
        EXPECT_EQ(refused.status, 1) << text << ": " << refused.err;
        EXPECT_NE(refused.err.find("Nothing was changed."), std::string::npos) << refused.err;
    }
    const RunResult endless = RunOnBench({"linearity", "6", "/dev/zero"});
    EXPECT_EQ(endless.status, 1) << endless.err;
    EXPECT_NE(endless.err.find("too large"), std::string::npos) << endless.err;
    EXPECT_EQ(ReadFile(Bench()), bench);
    // A quoted value is a value, not a zero.
    WriteFile(Path("quoted.lin"), "[Linearity Coefficients]\nIntercept=\"0.9\"\n");
    ASSERT_EQ(RunOnBench({"linearity", "6", "quoted.lin"}).status, 0);
    EXPECT_EQ(Value("6", "Nonlinearity Correction 0th-order Coefficient"), "9.0000000e-01");
}

}  // namespace

namespace {

std::string TestImage(std::uint8_t bootByte) {
    std::string image(16384, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 13 + (i >> 9)) & 0xFF);
    image[0] = static_cast<char>(bootByte);
    return image;
}

TEST_F(SpindleCliTest, ProgramWritesEveryDeviceAtOnceAndADumpReadsTheImageBack) {
    const std::string image = TestImage(0xC2);
    WriteFile(Path("image.iic"), image);
    // 3 is an EZ-USB, 4 and 6 are FX2s: the FX2 image for device 3 needs --yes.
    const RunResult asked = RunOnBench({"program", "3", "image.iic"});
    EXPECT_EQ(asked.status, 1);
    EXPECT_NE(asked.err.find("is an image for an EZ-USB FX2 chip, but device 3 has an EZ-USB chip"),
              std::string::npos) << asked.err;

    const RunResult programmed = RunOnBench({"--yes", "program", "3", "4", "6", "image.iic"});
    ASSERT_EQ(programmed.status, 0) << programmed.err;
    EXPECT_NE(programmed.out.find("Programmed 3 of 3 devices."), std::string::npos) << programmed.out;
    // The box the window shows at each job's end reaches standard error.
    for (int device : {3, 4, 6}) {
        EXPECT_NE(programmed.err.find(spindle::StrPrintf("EEPROM Programming Complete.\n\nPlease disconnect and "
                                                         "reconnect the USB cable\nfrom the device %d before "
                                                         "continuing.\n",
                                                         device)),
                  std::string::npos)
            << programmed.err;
    }
    for (const char* device : {"3", "4", "6"}) {
        const std::string dump = std::string("dump-") + device + ".iic";
        const RunResult read = RunOnBench({"eeprom-dump", device, dump});
        ASSERT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(ReadFile(Path(dump)), image) << device;
    }
    EXPECT_EQ(RunOnBench({"eeprom-dump", "3", "x.iic", "--length", "70000"}).status, 2);
}

TEST_F(SpindleCliTest, ProgramNamesTheDeviceThatWasUnpluggedMidWay) {
    Json bench = Json::parse(ReadFile(Bench()));
    for (Json& device : bench["devices"]) {
        // The cable comes out after the scan, the loader and two writes.
        if (device["index"] == 4) device["faults"] = {{"unplugAfterRequests", 17}};
    }
    WriteFile(Bench(), bench.dump(1));
    WriteFile(Path("image.iic"), TestImage(0xC2));
    fs::create_directories(Path("old"));
    const RunResult programmed =
        RunOnBench({"--json", "program", "--backup", Path("old").string(), "4", "6", "image.iic"});
    EXPECT_EQ(programmed.status, 1);
    const Json results = Json::parse(programmed.out)["results"];
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0]["device"]["index"], 4);
    EXPECT_FALSE(results[0]["ok"].get<bool>());
    EXPECT_FALSE(results[0]["problems"].empty());
    EXPECT_TRUE(results[1]["ok"].get<bool>());
    EXPECT_TRUE(results[1]["verified"].get<bool>());
    EXPECT_EQ(ReadFile(Path("old/Ezusb-6-eeprom-backup.iic")), std::string(16384, '\xFF'));
}

TEST_F(SpindleCliTest, HistoryKeepsEveryJobAndWriteAndAJobKilledMidWay) {
    Json bench = Json::parse(ReadFile(Bench()));
    for (Json& device : bench["devices"]) {
        if (device["index"] == 4) device["faults"] = {{"unplugAfterRequests", 17}};
    }
    WriteFile(Bench(), bench.dump(1));
    WriteFile(Path("image.iic"), TestImage(0xC2));
    EXPECT_EQ(RunOnBench({"--yes", "program", "3", "4", "6", "image.iic"}).status, 1);
    ASSERT_EQ(RunOnBench({"set", "3", "Serial Number=OSP00999"}).status, 0);
    const RunResult listed = Run({"--json", "history"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const Json records = Json::parse(listed.out)["records"];
    ASSERT_EQ(records.size(), 4u) << listed.out;
    const std::string sha = Json::parse(Run({"--json", "history", "--image", "image.iic"}).out)["records"][0]["imageSha256"];
    std::map<int, std::string> results;
    for (const Json& record : records) {
        if (record["kind"] != "eeprom") continue;
        results[record["device"].get<int>()] = record["result"];
        EXPECT_EQ(record["imageSha256"], sha);
        EXPECT_FALSE(record["serialBefore"].get<std::string>().empty());
    }
    EXPECT_EQ(results, (std::map<int, std::string>{{3, "worked"}, {4, "failed"}, {6, "worked"}}));
    EXPECT_EQ(records[3]["command"], "set");
    EXPECT_EQ(records[3]["serialAfter"], "OSP00999");
    EXPECT_EQ(Json::parse(Run({"--json", "history", "--failed"}).out)["records"].size(), 1u);
    EXPECT_EQ(Run({"history", "--since", "yesterday"}).status, 2);

    // Killed (SIGKILL) while its device answers slowly: the record stays, interrupted.
    for (Json& device : bench["devices"]) {
        if (device["index"] == 6) device["faults"] = {{"vendorRequestDelayMs", 3000}};
    }
    WriteFile(Bench(), bench.dump(1));
    const RunResult killed =
        spindle::test::RunCli("timeout", dir_, {"-s", "KILL", "1", kCli, "--bench", Bench().string(), "program", "6", "image.iic"});
    EXPECT_EQ(killed.status, 137);
    const Json interrupted = Json::parse(Run({"--json", "history", "--serial", "FAL01204"}).out)["records"];
    ASSERT_EQ(interrupted.size(), 2u);
    EXPECT_EQ(interrupted[1]["result"], "interrupted");
    EXPECT_TRUE(interrupted[1]["ended"].is_null());
}

}  // namespace

TEST_F(SpindleCliTest, ProgramFpgaConfiguresEveryChainAndSaysWhichDeviceEndedTheStream) {
    const std::string examples = std::string(SPINDLE_SOURCE_DIR) + "/examples/";
    const RunResult programmed = RunOnBench({"--json", "program-fpga", "6", "7", examples + "demo-design.xsvf"});
    ASSERT_EQ(programmed.status, 0) << programmed.err;
    const Json results = Json::parse(programmed.out)["results"];
    ASSERT_EQ(results.size(), 2u);
    for (const Json& result : results) {
        EXPECT_TRUE(result["ok"].get<bool>());
        EXPECT_EQ(result["bytesSent"], fs::file_size(examples + "demo-design.xsvf"));
    }
    // The chain model saved both devices configured into the bench file.
    const Json saved = Json::parse(ReadFile(Bench()));
    for (const Json& device : saved["devices"]) {
        const int index = device["index"];
        if (!device.contains("jtag")) continue;
        EXPECT_EQ(device["jtag"].value("configured", false), index == 6 || index == 7) << index;
    }

    const RunResult wrong = RunOnBench({"program-fpga", "4", examples + "wrong-idcode.xsvf"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.out.find("the device ended the stream early, after taking"), std::string::npos) << wrong.out;
    EXPECT_NE(wrong.out.find("Programmed the FPGA of 0 of 1 devices."), std::string::npos) << wrong.out;
    EXPECT_NE(wrong.err.find("FPGA Programming Failed on device 4.\n\n- the device ended the stream early"),
              std::string::npos)
        << wrong.err;
    EXPECT_EQ(wrong.err.find("could not"), std::string::npos) << wrong.err;

    // A design of 139 bytes whose IDCODE check fails in its last packet.
    const std::string design = ReadFile(examples + "wrong-idcode.xsvf");
    std::string small(1, '\x16');
    small += std::string(110, 'c') + '\0';
    const std::size_t idcheck = design.find('\x12');  // the design opens with its IDCODE check (XSTATE)
    ASSERT_NE(idcheck, std::string::npos);
    small += design.substr(idcheck, 26) + '\0';
    WriteFile(Path("small.xsvf"), small);
    ASSERT_EQ(small.size(), 139u);
    const RunResult late = RunOnBench({"program-fpga", "4", "small.xsvf"});
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.out.find("its player failed a check at the end"), std::string::npos) << late.out;

    // A player file that is not one: the window's box, and the reader's reason.
    WriteFile(Path("junk.hex"), "not a program\n");
    const RunResult junk = RunOnBench({"program-fpga", "--player", "junk.hex", "4", examples + "demo-design.xsvf"});
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.err.find("Unable to open RaptorFPGA File"), std::string::npos) << junk.err;
    EXPECT_NE(junk.err.find("holds no Intel HEX data record"), std::string::npos) << junk.err;

    // A file that is not XSVF is refused before any request.
    const std::string before = ReadFile(Bench());
    const RunResult refused = RunOnBench({"--usb-trace", Path("usb.txt").string(), "program-fpga", "5",
                                          examples + "demo-bench.json"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("is not an XSVF file that can be played: byte 0x7B at offset 0"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(Path("usb.txt")) && fs::file_size(Path("usb.txt")) > 0);
    EXPECT_EQ(ReadFile(Bench()), before);
    // A device without programmable logic, and a player that is not there.
    EXPECT_EQ(RunOnBench({"program-fpga", "3", examples + "demo-design.xsvf"}).status, 1);
    EXPECT_EQ(RunOnBench({"program-fpga", "--player", "missing.hex", "5", examples + "demo-design.xsvf"}).status, 2);
}

TEST_F(SpindleCliTest, PsocShowReadsEveryPageWithoutChangingTheDevice) {
    const std::string before = ReadFile(Bench());
    const RunResult falcon = RunOnBench({"psoc", "6", "show"});
    ASSERT_EQ(falcon.status, 0) << falcon.err;
    EXPECT_NE(falcon.out.find("Firmware\tFirmware Version 0.10.4; ADC 13-Bit DAC 9-Bit\n"), std::string::npos)
        << falcon.out;
    EXPECT_NE(falcon.out.find("Raw ADC Counts\t0X1000\nADC Volts\t2.650\n"), std::string::npos) << falcon.out;
    EXPECT_NE(falcon.out.find("Board Temperature\t24.998\n"), std::string::npos) << falcon.out;
    const RunResult condor = RunOnBench({"--json", "psoc", "8", "show"});
    ASSERT_EQ(condor.status, 0) << condor.err;
    const Json values = Json::parse(condor.out)["values"];
    EXPECT_EQ(Json::parse(condor.out)["page"], "Condor PSOC");
    EXPECT_EQ(values["Temperature Celsius"], "-10");
    EXPECT_EQ(values["Fan Fail"], "no");
    const RunResult ibis = RunOnBench({"psoc", "9", "show"});
    ASSERT_EQ(ibis.status, 0) << ibis.err;
    EXPECT_NE(ibis.out.find("Board Temp\tNA\nCurrent Temperature(C)\t21.50\n"), std::string::npos) << ibis.out;
    EXPECT_EQ(ReadFile(Bench()), before) << "show writes nothing";
    EXPECT_EQ(RunOnBench({"psoc", "3", "show"}).status, 1) << "an Osprey has no PSOC page";
}

TEST_F(SpindleCliTest, PsocOpenSwitchesTheIbisOnAndWatchShowsItCooling) {
    const RunResult opened = RunOnBench({"psoc", "9", "open"});
    ASSERT_EQ(opened.status, 0) << opened.err;
    EXPECT_NE(opened.out.find("the fan and the TEC were switched on and the setpoint set to -5.0"), std::string::npos);
    // The Condor's start reads the temperature only: the rest is not read.
    const RunResult condor = RunOnBench({"psoc", "8", "open"});
    EXPECT_NE(condor.out.find("Temperature Celsius\t-10\n"), std::string::npos) << condor.out;
    EXPECT_NE(condor.out.find("SetPoint Celsius\tnot read\nTEC Over Current\tnot read\n"), std::string::npos)
        << condor.out;
    const RunResult refused = RunOnBench({"psoc", "9", "setpoint", "30"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("from -20.0 to 25.0"), std::string::npos) << refused.err;
    const RunResult watched = RunOnBench({"--json", "psoc", "9", "watch", "--count", "4"});
    ASSERT_EQ(watched.status, 0) << watched.err;
    std::vector<double> temperatures;
    std::istringstream lines(watched.out);
    for (std::string line; std::getline(lines, line);) {
        const Json reading = Json::parse(line);
        temperatures.push_back(std::stod(reading["values"]["Current Temperature(C)"].get<std::string>()));
        EXPECT_EQ(reading["values"]["Current Setpoint(C)"], "-5.00");
    }
    ASSERT_EQ(temperatures.size(), 4u);
    // Ten seconds between readings, a degree a second, down to the setpoint.
    EXPECT_DOUBLE_EQ(temperatures[1], temperatures[0] - 10.0);
    EXPECT_DOUBLE_EQ(temperatures[3], -5.0);
    const RunResult dac = RunOnBench({"psoc", "6", "write-dac", "1FF"});
    EXPECT_NE(dac.out.find("DAC Volts\t5.090039"), std::string::npos) << dac.out;
    EXPECT_EQ(RunOnBench({"psoc", "6", "write-dac", "123456"}).status, 1) << "longer than its field";
    // An Ibis that stops answering after the fan's request: only that step is claimed.
    EditDevice(9, [](Json& device) { device["faults"] = {{"unplugAfterRequests", 5}}; });
    const RunResult halfOpened = RunOnBench({"psoc", "9", "open"});
    EXPECT_EQ(halfOpened.status, 1);
    EXPECT_NE(halfOpened.out.find("as the window does: the fan was switched on; switching the TEC on failed.\n"),
              std::string::npos)
        << halfOpened.out;
}

TEST_F(SpindleCliTest, AccessoryToolsCalibrateTheLanternImportAZephyrFileAndRoundTripTheKestrel) {
    EditDevice(0, [](Json& device) { device["lantern"]["temperatureSequence"] = Json::array({{5, 1000}, {5, 3000}}); });
    const auto lanternSlot = [this](int slot) {
        const Json saved = Json::parse(ReadFile(Bench()));
        for (const Json& device : saved["devices"]) {
            if (device["index"] == 0) return device["lantern"]["slots"][std::to_string(slot)].get<std::string>();
        }
        return std::string();
    };
    // The mode is saved: without --temperature or --resistance the last one
    // stays, said before the first side, and the prompts name its unit.
    const std::vector<std::string> calArgs = {"--yes", "lantern-cal", "0/lantern", "--averages", "4"};
    const auto withCal = [&calArgs](std::vector<std::string> more) {
        more.insert(more.begin(), calArgs.begin(), calArgs.end());
        return more;
    };
    ASSERT_EQ(RunOnBench(withCal({"--low", "100", "--high", "200", "--resistance"})).status, 0);
    EXPECT_EQ(lanternSlot(1), "1.320135e-01");
    const RunResult kept = RunOnBench(withCal({"--low", "100", "--high", "200"}));
    EXPECT_NE(kept.err.find("Resistance mode, as last used"), std::string::npos) << kept.err;
    EXPECT_NE(kept.err.find("low reference (100 ohms)"), std::string::npos) << kept.err;
    const RunResult calibrated = RunOnBench(withCal({"--low", "25", "--high", "65", "--temperature"}));
    ASSERT_EQ(calibrated.status, 0) << calibrated.err;
    EXPECT_EQ(lanternSlot(1), "2.000000e-02");
    EXPECT_EQ(lanternSlot(2), "5.000000e+00");
    // Readings that do not change draw no line: refused, nothing stored.
    EditDevice(0, [](Json& device) { device["lantern"]["temperatureSequence"] = Json::array({{60, 1500}}); });
    EXPECT_EQ(RunOnBench({"--yes", "lantern-cal", "0/lantern", "--low", "25", "--high", "65"}).status, 1);
    EXPECT_EQ(lanternSlot(1), "2.000000e-02");

    const std::string serial = lanternSlot(0);
    std::string cal = "[Setup]\n";
    for (int i = 0; i < 16; ++i) cal += std::string(spindle::kZephyrCoefficientKeys[i]) + "=" + std::to_string(i) + "e-3\n";
    WriteFile(Path("sensor.cal"), cal);
    const RunResult imported = RunOnBench({"zephyr-import", "0/lantern", Path("sensor.cal").string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(lanternSlot(3 + i), spindle::StrPrintf("%0.6e", i * 1e-3)) << i;
    EXPECT_EQ(lanternSlot(0), serial);
    EXPECT_EQ(lanternSlot(1), "2.000000e-02");
    EXPECT_EQ(lanternSlot(2), "5.000000e+00");

    // Flag bits 6 and 7 have no check box: written as 0.
    EditDevice(0, [](Json& device) { device["slots"]["19"] = {{"hex", "05 DA 00 0A"}}; });
    const RunResult changed = RunOnBench({"kestrel-extra", "0", "Reading Period (sec)=300", "Ratio=yes",
                                          "Acquire Temperature=yes", "Analog Out Full Scale Value=4096",
                                          "Measurement Type=Flourescence"});
    ASSERT_EQ(changed.status, 0) << changed.err;
    const Json written = Json::parse(ReadFile(Bench()));
    for (const Json& device : written["devices"]) {
        if (device["index"] == 0) {
            EXPECT_EQ(device["slots"]["19"]["hex"], "05 3A 00 0A");
        }
    }
    const RunResult shown = RunOnBench({"--json", "kestrel-extra", "0"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const Json fields = Json::parse(shown.out)["fields"];
    EXPECT_EQ(fields["Reading Period (sec)"], "300");
    EXPECT_EQ(fields["Analog Out Full Scale Value"], "4369") << "4096 is kept as 65535 / 15";
    EXPECT_EQ(fields["Measurement Type"], "Flourescence");
    EXPECT_EQ(fields["Ratio"], "yes");
    EXPECT_EQ(fields["Acquire Temperature"], "yes");
    EXPECT_NE(changed.out.find("Analog Out Full Scale Value\t4369\n"), std::string::npos)
        << "what the Kestrel holds, read back: " << changed.out;
    EXPECT_EQ(RunOnBench({"kestrel-extra", "0", "Analog Out Full Scale Value=0"}).status, 1);
    EXPECT_EQ(RunOnBench({"kestrel-extra", "3"}).status, 1) << "an Osprey has no such settings";
    // Slot 17 unreadable (unplugged before its query): refused, said once.
    EditDevice(0, [](Json& device) { device["faults"] = {{"unplugAfterRequests", 44}}; });
    const RunResult unread = RunOnBench({"kestrel-extra", "0", "Ratio=no"});
    EXPECT_EQ(unread.status, 1);
    EXPECT_NE(unread.err.find("Slot 17 could not be read"), std::string::npos) << unread.err;
    EXPECT_EQ(unread.err.find("Nothing was written."), std::string::npos) << unread.err;
}
