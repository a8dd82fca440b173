// The fault matrix: every spindle-cli command that talks to a device is run
// on a device of each family it applies to, with the device unplugged (the
// bench's unplugAfterRequests fault) at the start of each phase of its
// requests and one request into it. A run must end in time, exit 1 with a
// message whenever anything failed and 0 only when everything was done, and
// leave every stored value and EEPROM byte either as it was or as the command
// meant it to be.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/Format.h"
#include "sim/SimBench.h"
#include "support/CliRun.h"
#include "support/XsvfWriter.h"
#include "tools/ExtraKestrelDlg.h"

namespace {

namespace fs = std::filesystem;
using BenchJson = nlohmann::ordered_json;
using spindle::test::ReadFile;

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// One command on one device. `files` are written into the case's folder
// before the clean run; `outputs` are files the command writes, checked like
// the bench (after a failure absent or whole, after a success as the clean
// run left them).
struct MatrixCase {
    std::string name;
    int device = 0;                  // the demo bench device kept, and unplugged
    std::vector<std::string> args;   // after --bench FILE
    std::vector<std::pair<std::string, std::string>> files = {};
    std::function<void(BenchJson& device)> adjustDevice = {};
    std::vector<std::string> outputs = {};
    // LABEL=VALUE set into the device and exported as backup.json, then the
    // device put back as it was: the backup an import restores.
    std::string backupWith = {};
};

// The positions to unplug `device` at, from a clean run's USB trace: the
// first request of each phase (a phase repeats one request, or one pair of
// requests such as a slot's query and reply), the one after it, and the last
// request. Requests are the seven driver requests; opens, closes and pauses
// are not. A bulk write is told apart by its command byte.
std::vector<std::uint64_t> PhasePositions(const std::string& trace, int device) {
    static const std::set<std::string> kRequests = {"DEVDESC", "STRDESC", "BULKOUT", "BULKIN", "VENDOR", "ANCHOR", "RESET"};
    const std::string name = " Ezusb-" + std::to_string(device) + " ";
    std::vector<std::string> kinds;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::string kind = line.substr(0, line.find(' '));
        if (kRequests.count(kind) == 0 || (line + " ").find(name) == std::string::npos) continue;
        const std::size_t data = line.find(" : ");
        kinds.push_back(kind == "BULKOUT" && data != std::string::npos ? kind + line.substr(data, 5) : kind);
    }
    std::vector<std::uint64_t> positions;
    for (std::size_t at = 0; at < kinds.size(); ++at) {
        if (at < 2 || at + 1 == kinds.size() || kinds[at] != kinds[at - 2]) positions.push_back(at);
    }
    return positions;
}

// Every member of `now` must equal the same member `before` or `intended`;
// an EEPROM's contents (hexadecimal text; unset bytes read 0xFF) are judged
// byte by byte.
void CompareState(const BenchJson& now, const BenchJson& before, const BenchJson& intended, const std::string& path,
                  std::vector<std::string>& problems) {
    if (now == before || now == intended) return;
    const auto member = [](const BenchJson& object, const std::string& key) {
        return object.is_object() && object.contains(key) ? object[key] : BenchJson();
    };
    if (path.ends_with("/eeprom/contents")) {
        const auto byte = [](const BenchJson& hex, std::size_t at) {
            return hex.is_string() && at * 2 + 1 < hex.get<std::string>().size()
                       ? std::stoi(hex.get<std::string>().substr(at * 2, 2), nullptr, 16)
                       : 0xFF;
        };
        for (std::size_t at = 0; at * 2 < std::max({now.dump().size(), before.dump().size(), intended.dump().size()}); ++at) {
            if (byte(now, at) != byte(before, at) && byte(now, at) != byte(intended, at)) {
                problems.push_back(spindle::StrPrintf("%s: byte 0x%04zX is neither as before nor as meant", path.c_str(), at));
                return;
            }
        }
    } else if (now.is_object()) {
        std::set<std::string> keys;
        for (const BenchJson* object : {&now, &before, &intended}) {
            for (auto it = object->begin(); object->is_object() && it != object->end(); ++it) keys.insert(it.key());
        }
        for (const std::string& key : keys) {
            CompareState(member(now, key), member(before, key), member(intended, key), path + "/" + key, problems);
        }
    } else if (now.is_array() && before.size() == now.size() && intended.size() == now.size()) {
        for (std::size_t at = 0; at < now.size(); ++at) {
            CompareState(now[at], before[at], intended[at], path + "/" + std::to_string(at), problems);
        }
    } else {
        problems.push_back(path + ": " + now.dump() + " is neither " + before.dump() + " nor " + intended.dump());
    }
}

// The bench as the comparison sees it: without the fault the run was given,
// and without what moves with time rather than with the command (the TEC's
// temperature follows the clock, which a shorter run advances less).
BenchJson Comparable(BenchJson bench) {
    for (BenchJson& device : bench["devices"]) {
        device.erase("faults");
        if (device.contains("tec")) device["tec"].erase("temperature");
    }
    return bench;
}

class FaultMatrixTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "spindle-faults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        // Manufacturing mode, for the commands that need it.
        fs::create_directories(root_ / "config");
        ASSERT_EQ(spindle::test::RunCli(SPINDLE_CLI_PATH, root_, {"unlock", "TOLMIDEXN"}).status, 0);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    spindle::test::CliRun Run(const fs::path& folder, const std::vector<std::string>& args,
                              const std::string& usbTrace = {}) {
        std::vector<std::string> all = {"--bench", (folder / "bench.json").string()};
        if (!usbTrace.empty()) all.insert(all.end(), {"--usb-trace", usbTrace});
        all.insert(all.end(), args.begin(), args.end());
        fs::create_directories(folder / "config");
        fs::copy_file(root_ / "config/Spindle.ini", folder / "config/Spindle.ini", fs::copy_options::overwrite_existing);
        return spindle::test::RunCli(SPINDLE_CLI_PATH, folder, all, 120);
    }

    // Runs the case cleanly once, on the demo bench with only its device,
    // then once per position with the device unplugged there.
    void RunMatrix(const MatrixCase& matrixCase) {
        SCOPED_TRACE(matrixCase.name);
        const fs::path folder = root_ / "case", bench = folder / "bench.json";
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        fs::create_directories(folder);
        BenchJson start = BenchJson::parse(spindle::sim::DemoBenchText());
        BenchJson kept = BenchJson::array();
        for (BenchJson& device : start["devices"]) {
            if (device["index"] != matrixCase.device) continue;
            if (matrixCase.adjustDevice) matrixCase.adjustDevice(device);
            kept.push_back(device);
        }
        start["devices"] = kept;
        WriteText(bench, start.dump(1));
        for (const auto& [name, text] : matrixCase.files) WriteText(folder / name, text);
        if (!matrixCase.backupWith.empty()) {
            ASSERT_EQ(Run(folder, {"set", matrixCase.args[2], matrixCase.backupWith}).status, 0);
            ASSERT_EQ(Run(folder, {"export", matrixCase.args[2], "backup.json"}).status, 0);
            WriteText(bench, start.dump(1));
        }
        const BenchJson before = BenchJson::parse(ReadFile(bench));

        const spindle::test::CliRun clean = Run(folder, matrixCase.args, (folder / "usb.txt").string());
        ASSERT_EQ(clean.status, 0) << clean.err << clean.out;
        const BenchJson intended = Comparable(BenchJson::parse(ReadFile(bench)));
        std::vector<std::string> intendedOutputs;
        for (const std::string& output : matrixCase.outputs) intendedOutputs.push_back(ReadFile(folder / output));
        const std::vector<std::uint64_t> positions = PhasePositions(ReadFile(folder / "usb.txt"), matrixCase.device);
        ASSERT_FALSE(positions.empty());

        int failures = 0;
        for (const std::uint64_t position : positions) {
            SCOPED_TRACE(spindle::StrPrintf("unplugged after %llu requests", static_cast<unsigned long long>(position)));
            BenchJson faulted = before;
            faulted["devices"][0]["faults"] = {{"unplugAfterRequests", position}};
            WriteText(bench, faulted.dump(1));
            for (const std::string& output : matrixCase.outputs) fs::remove(folder / output, ignored);
            const spindle::test::CliRun run = Run(folder, matrixCase.args);
            const BenchJson now = Comparable(BenchJson::parse(ReadFile(bench)));

            std::vector<std::string> problems;
            CompareState(now, Comparable(before), intended, "", problems);
            if (run.status == 0) {
                if (now != intended) problems.push_back("exit status 0, but the device is not as the command meant");
                if (run.out != clean.out) problems.push_back("exit status 0, but the output differs:\n" + run.out);
            } else if (run.status == 1) {
                // Boxes go to standard error; the programming commands
                // report each device's failure in its result line.
                if (run.err.empty() && run.out.find("FAILED") == std::string::npos) {
                    problems.push_back("exit status 1 without a message");
                }
            } else {
                problems.push_back(run.status == 124 ? "did not end within its bound" : "exit status " + std::to_string(run.status));
            }
            for (std::size_t at = 0; at < matrixCase.outputs.size(); ++at) {
                const fs::path output = folder / matrixCase.outputs[at];
                if ((run.status == 0 || fs::exists(output)) && ReadFile(output) != intendedOutputs[at]) {
                    problems.push_back(matrixCase.outputs[at] + " differs from the clean run's");
                }
            }
            if (!problems.empty()) {
                std::string text;
                for (const std::string& problem : problems) text += "  " + problem + "\n";
                ADD_FAILURE() << text << "stdout:\n" << run.out << "stderr:\n" << run.err;
                if (++failures >= 3) return;  // the rest would say the same
            }
        }
    }

    fs::path root_;
};

// One device of every family, and the Lantern behind the Kestrel.
const std::vector<int> kEveryFamily = {0, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13};

std::string InterceptLabel(int device) {
    return device == 2 ? "Master Wavelength Calibration Intercept" : "Wavelength Calibration Intercept";
}

// A get begins with the scan: its first phases are the scan's.
TEST_F(FaultMatrixTest, ScanAndGetOnEveryFamily) {
    for (int device : kEveryFamily) RunMatrix({"get " + std::to_string(device), device, {"get", std::to_string(device)}});
    RunMatrix({"get 0/lantern", 0, {"get", "0/lantern"}});
    RunMatrix({"scan of an unprogrammed chip", 15, {"scan"}});
}

TEST_F(FaultMatrixTest, SetAndImportOnEveryFamily) {
    for (int device : kEveryFamily) {
        const std::string index = std::to_string(device);
        RunMatrix({"set " + index, device, {"set", index, InterceptLabel(device) + "=123.5", "Serial Number=ZZZ00001"}});
        RunMatrix({"import " + index, device, {"--yes", "import", index, "backup.json"}, {}, {}, {},
                   InterceptLabel(device) + "=99.25"});
    }
    RunMatrix({"set 0/lantern", 0, {"set", "0/lantern", "Temperature Calibration Intercept=7.5"}});
}

TEST_F(FaultMatrixTest, ManufacturingCommands) {
    for (int device : kEveryFamily) RunMatrix({"reset-coefs", device, {"reset-coefs", std::to_string(device)}});
    // The demo devices whose product ID passes the test.
    for (int device : {0, 2, 3}) RunMatrix({"verify", device, {"verify", std::to_string(device)}});
    RunMatrix({"linearity 6", 6, {"linearity", "6", "falcon.lin"},
               {{"falcon.lin", "[Linearity Coefficients]\nIntercept=0.9\nNL0=1.5e-5\nNL1=-2e-9\n"}}});
}

TEST_F(FaultMatrixTest, DownloadProgramAndDump) {
    RunMatrix({"download 15", 15, {"download", "15", "prog.hex"},
               {{"prog.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n:0201000002FFFC\n:02300000AA55CF\n:00000001FF\n"}}});
    // Device 3 has an EZ-USB chip, device 6 an FX2.
    for (const auto& [device, bootByte] : {std::pair{3, 0xB2}, std::pair{6, 0xC2}}) {
        const std::string index = std::to_string(device);
        std::string image(300, '\0');
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 29 + 7) & 0xFF);
        image[0] = static_cast<char>(bootByte);
        RunMatrix({"program " + index, device, {"program", index, "image.iic"}, {{"image.iic", image}}});
        RunMatrix({"eeprom-dump " + index, device, {"eeprom-dump", index, "dump.iic", "--length", "512"}, {}, {},
                   {"dump.iic"}});
    }
}

TEST_F(FaultMatrixTest, ProgramFpgaOnEveryFamilyWithLogic) {
    // A short design (IDCODE check, 512 bits of configuration in two pieces)
    // for a chain shortened to match, so the player's download and the
    // stream's every message stay within a few hundred requests.
    spindle::test::Bits pattern;
    for (int i = 0; i < 512; ++i) pattern.push_back(((i * 7) % 5) < 2);
    const std::vector<std::uint8_t> design =
        spindle::test::XsvfWriter::Design(spindle::sim::JtagDeviceConfig{0x0A001093, 6, 512}, pattern, 256);
    for (int device : {4, 5, 6, 7, 8}) {
        RunMatrix({"program-fpga", device, {"program-fpga", std::to_string(device), "design.xsvf"},
                   {{"design.xsvf", std::string(design.begin(), design.end())}},
                   [](BenchJson& device) { device["jtag"]["configLength"] = 512; }});
    }
}

TEST_F(FaultMatrixTest, PsocActionsAndAccessoryTools) {
    const std::vector<std::pair<int, std::vector<std::string>>> actions = {
        {6, {"open"}}, {6, {"read-adc"}}, {6, {"write-dac", "1F0"}}, {6, {"read-temp"}}, {7, {"open"}},
        {8, {"open"}}, {8, {"tec", "on"}}, {8, {"setpoint", "5"}}, {8, {"read", "status"}},
        {9, {"open"}}, {9, {"fan", "off"}}, {9, {"setpoint", "-2.5"}},
    };
    for (const auto& [device, action] : actions) {
        std::vector<std::string> args = {"psoc", std::to_string(device)};
        args.insert(args.end(), action.begin(), action.end());
        RunMatrix({"psoc " + std::to_string(device) + " " + action[0], device, args});
    }
    RunMatrix({"lantern-cal", 0, {"--yes", "lantern-cal", "0/lantern", "--low", "25", "--high", "65", "--averages", "2"},
               {}, [](BenchJson& device) {
                   device["lantern"]["temperatureSequence"] = BenchJson::array({{3, 1000}, {3, 3000}});
               }});
    RunMatrix({"lantern-temp", 0, {"lantern-temp", "0/lantern"}});
    RunMatrix({"light pulsed", 0, {"light", "0/lantern", "pulsed"}});
    RunMatrix({"light dac", 0, {"light", "0/lantern", "dac", "300"}});
    for (int device : {0, 1}) {
        RunMatrix({"kestrel-extra", device, {"kestrel-extra", std::to_string(device), "Reading Period (sec)=300",
                                             "Ratio=yes", "Analog Out Full Scale Value=4096"}});
    }
    std::string cal = "[Setup]\n";
    for (int i = 0; i < 16; ++i) cal += std::string(spindle::kZephyrCoefficientKeys[i]) + "=" + std::to_string(i + 1) + "e-3\n";
    RunMatrix({"zephyr-import", 0, {"zephyr-import", "0/lantern", "sensor.cal"}, {{"sensor.cal", cal}}});
}

}  // namespace
