// The fault matrix: every spindle-cli command that talks to a device is run
// on a device of each family it applies to, with the device unplugged after
// each request position in turn (the bench's unplugAfterRequests fault). A
// run must end in time, exit 1 with a message whenever anything failed and 0
// only when everything was done, and leave every stored value and EEPROM byte
// either as it was or as the command meant it to be.
//
// SPINDLE_FAULT_MATRIX_STRIDE=N tries every Nth position only (always the
// first and the last); the sanitizer builds use 10, where a run costs more.
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
#include "tools/ExtraKestrelDlg.h"
#include "support/CliRun.h"
#include "support/XsvfWriter.h"

namespace {

namespace fs = std::filesystem;
using BenchJson = nlohmann::ordered_json;
using spindle::test::CliRun;
using spindle::test::ReadFile;

constexpr const char* kCliProgram = SPINDLE_CLI_PATH;
constexpr int kRunTimeoutSeconds = 120;

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// The build's stride (10 in the sanitizer builds), unless the environment
// names another.
int Stride() {
    const char* text = std::getenv("SPINDLE_FAULT_MATRIX_STRIDE");
    const int stride = text && *text ? std::atoi(text) : SPINDLE_FAULT_MATRIX_BUILD_STRIDE;
    return stride > 0 ? stride : 1;
}

// One command on one device. `setUp` may write the files the command reads
// (into the case's folder) and run commands of its own to prepare them.
struct MatrixCase {
    std::string name;
    int device = 0;                  // the demo bench device kept, and unplugged
    std::vector<std::string> args;   // after --bench FILE
    std::function<void(const fs::path& folder, const fs::path& bench)> setUp = {};
    std::function<void(BenchJson& device)> adjustDevice = {};  // bench members the case needs
    // Files the command writes, checked like the bench: after a failure each is
    // absent or whole, after a success it equals the clean run's.
    std::vector<std::string> outputs = {};
};

// Requests of `device` in a USB trace (the seven driver requests; opens,
// closes and pauses are not requests).
std::uint64_t CountRequests(const std::string& trace, int device) {
    const std::string name = " Ezusb-" + std::to_string(device) + " ";
    std::uint64_t count = 0;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const std::string kind = line.substr(0, line.find(' '));
        static const std::set<std::string> kRequests = {"DEVDESC", "STRDESC", "BULKOUT", "BULKIN",
                                                        "VENDOR",  "ANCHOR",  "RESET"};
        if (kRequests.count(kind) != 0 && (line + " ").find(name) != std::string::npos) ++count;
    }
    return count;
}

std::vector<int> HexBytes(const BenchJson& value, std::size_t size) {
    std::vector<int> bytes(size, 0xFF);  // a bench EEPROM's unset bytes read 0xFF
    if (!value.is_string()) return bytes;
    const std::string text = value.get<std::string>();
    for (std::size_t i = 0; i * 2 + 1 < text.size() && i < size; ++i) {
        bytes[i] = std::stoi(text.substr(i * 2, 2), nullptr, 16);
    }
    return bytes;
}

// Every member of `now` must equal the same member `before` or `intended`;
// an EEPROM's contents are judged byte by byte.
void CompareState(const BenchJson& now, const BenchJson& before, const BenchJson& intended, const std::string& path,
                  std::vector<std::string>& problems) {
    if (now == before || now == intended) return;
    if (path.ends_with("/eeprom/contents")) {
        const std::size_t size = std::max({now.is_string() ? now.get<std::string>().size() / 2 : 0,
                                           before.is_string() ? before.get<std::string>().size() / 2 : 0,
                                           intended.is_string() ? intended.get<std::string>().size() / 2 : 0});
        const std::vector<int> n = HexBytes(now, size), b = HexBytes(before, size), i = HexBytes(intended, size);
        for (std::size_t at = 0; at < size; ++at) {
            if (n[at] != b[at] && n[at] != i[at]) {
                problems.push_back(spindle::StrPrintf("%s: byte 0x%04zX is 0x%02X, neither 0x%02X nor 0x%02X",
                                                      path.c_str(), at, n[at], b[at], i[at]));
                return;
            }
        }
        return;
    }
    const auto member = [](const BenchJson& object, const std::string& key) {
        return object.is_object() && object.contains(key) ? object[key] : BenchJson();
    };
    if (now.is_object()) {
        std::set<std::string> keys;
        for (const BenchJson* object : {&now, &before, &intended}) {
            if (object->is_object()) {
                for (auto it = object->begin(); it != object->end(); ++it) keys.insert(it.key());
            }
        }
        for (const std::string& key : keys) {
            CompareState(member(now, key), member(before, key), member(intended, key), path + "/" + key, problems);
        }
        return;
    }
    if (now.is_array() && before.is_array() && intended.is_array() && now.size() == before.size() &&
        now.size() == intended.size()) {
        for (std::size_t at = 0; at < now.size(); ++at) {
            CompareState(now[at], before[at], intended[at], path + "/" + std::to_string(at), problems);
        }
        return;
    }
    problems.push_back(path + ": " + now.dump() + " is neither " + before.dump() + " nor " + intended.dump());
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
        ASSERT_EQ(spindle::test::RunCli(kCliProgram, root_, {"unlock", "TOLMIDEXN"}).status, 0);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // The demo bench with only `device` on it.
    BenchJson BenchOf(const MatrixCase& matrixCase) const {
        BenchJson bench = BenchJson::parse(spindle::sim::DemoBenchText());
        BenchJson kept = BenchJson::array();
        for (BenchJson& device : bench["devices"]) {
            if (device["index"] == matrixCase.device) {
                if (matrixCase.adjustDevice) matrixCase.adjustDevice(device);
                kept.push_back(device);
            }
        }
        bench["devices"] = kept;
        return bench;
    }

    CliRun Run(const fs::path& folder, const fs::path& bench, const std::vector<std::string>& args,
               const std::string& usbTrace = {}) {
        std::vector<std::string> all = {"--bench", bench.string()};
        if (!usbTrace.empty()) all.insert(all.end(), {"--usb-trace", usbTrace});
        all.insert(all.end(), args.begin(), args.end());
        fs::create_directories(folder / "config");
        fs::copy_file(root_ / "config/Spindle.ini", folder / "config/Spindle.ini", fs::copy_options::overwrite_existing);
        return spindle::test::RunCli(kCliProgram, folder, all, kRunTimeoutSeconds);
    }

    // Runs the case cleanly once, then once per request position with the
    // device unplugged there, and checks every run.
    void RunMatrix(const MatrixCase& matrixCase) {
        SCOPED_TRACE(matrixCase.name);
        const fs::path folder = root_ / "case";
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        fs::create_directories(folder);
        const BenchJson start = BenchOf(matrixCase);
        const fs::path bench = folder / "bench.json";
        WriteText(bench, start.dump(1));
        if (matrixCase.setUp) matrixCase.setUp(folder, bench);
        const BenchJson before = BenchJson::parse(ReadFile(bench));

        const fs::path trace = folder / "usb.txt";
        const CliRun clean = Run(folder, bench, matrixCase.args, trace.string());
        ASSERT_EQ(clean.status, 0) << clean.err << clean.out;
        const BenchJson intended = Comparable(BenchJson::parse(ReadFile(bench)));
        std::vector<std::string> intendedOutputs;
        for (const std::string& output : matrixCase.outputs) intendedOutputs.push_back(ReadFile(folder / output));
        const std::uint64_t requests = CountRequests(ReadFile(trace), matrixCase.device);
        ASSERT_GT(requests, 0u);

        const int stride = Stride();
        int failures = 0;
        for (std::uint64_t position = 0; position < requests; ++position) {
            if (position % stride != 0 && position + 1 != requests) continue;
            SCOPED_TRACE(spindle::StrPrintf("unplugged after %llu of %llu requests",
                                            static_cast<unsigned long long>(position),
                                            static_cast<unsigned long long>(requests)));
            BenchJson faulted = before;
            faulted["devices"][0]["faults"] = {{"unplugAfterRequests", position}};
            WriteText(bench, faulted.dump(1));
            for (const std::string& output : matrixCase.outputs) fs::remove(folder / output, ignored);
            const CliRun run = Run(folder, bench, matrixCase.args);
            const BenchJson now = Comparable(BenchJson::parse(ReadFile(bench)));

            std::vector<std::string> problems;
            CompareState(now, Comparable(before), intended, "", problems);
            if (run.status == 0) {
                if (now != intended) problems.push_back("exit status 0, but the device is not as the command meant");
                if (run.out != clean.out) problems.push_back("exit status 0, but the output differs:\n" + run.out);
                for (std::size_t at = 0; at < matrixCase.outputs.size(); ++at) {
                    if (ReadFile(folder / matrixCase.outputs[at]) != intendedOutputs[at]) {
                        problems.push_back(matrixCase.outputs[at] + " differs from the clean run's");
                    }
                }
            } else if (run.status == 1) {
                // Boxes go to standard error; the programming commands
                // report each device's failure in its result line.
                if (run.err.empty() && run.out.find("FAILED") == std::string::npos) {
                    problems.push_back("exit status 1 without a message");
                }
                for (std::size_t at = 0; at < matrixCase.outputs.size(); ++at) {
                    const fs::path output = folder / matrixCase.outputs[at];
                    if (fs::exists(output) && ReadFile(output) != intendedOutputs[at]) {
                        problems.push_back(matrixCase.outputs[at] + " was left behind incomplete");
                    }
                }
            } else {
                problems.push_back(run.status == 124 ? "did not end within its bound"
                                                     : "exit status " + std::to_string(run.status));
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

TEST_F(FaultMatrixTest, ScanAndGetOnEveryFamily) {
    for (int device : kEveryFamily) {
        RunMatrix({"scan " + std::to_string(device), device, {"scan"}});
        RunMatrix({"get " + std::to_string(device), device, {"get", std::to_string(device)}});
    }
    RunMatrix({"get 0/lantern", 0, {"get", "0/lantern"}});
    RunMatrix({"scan of an unprogrammed chip", 15, {"scan"}});
}

TEST_F(FaultMatrixTest, SetOnEveryFamily) {
    for (int device : kEveryFamily) {
        const std::string index = std::to_string(device);
        RunMatrix({"set " + index, device, {"set", index, InterceptLabel(device) + "=123.5", "Serial Number=ZZZ00001"}});
    }
    RunMatrix({"set 0/lantern", 0, {"set", "0/lantern", "Temperature Calibration Intercept=7.5"}});
}

TEST_F(FaultMatrixTest, ImportOnEveryFamily) {
    for (int device : kEveryFamily) {
        const std::string index = std::to_string(device);
        // A backup made from a changed copy of the device, restored into it.
        RunMatrix({"import " + index, device, {"--yes", "import", index, "backup.json"},
                   [this, index, device](const fs::path& folder, const fs::path& bench) {
                       const fs::path copy = folder / "copy.json";
                       fs::copy_file(bench, copy);
                       ASSERT_EQ(Run(folder, copy, {"set", index, InterceptLabel(device) + "=99.25"}).status, 0);
                       ASSERT_EQ(Run(folder, copy, {"export", index, "backup.json"}).status, 0);
                   }});
    }
}

TEST_F(FaultMatrixTest, ManufacturingCommands) {
    for (int device : kEveryFamily) {
        const std::string index = std::to_string(device);
        RunMatrix({"reset-coefs " + index, device, {"reset-coefs", index}});
    }
    // The demo devices whose product ID passes the test.
    for (int device : {0, 2, 3}) RunMatrix({"verify", device, {"verify", std::to_string(device)}});
    RunMatrix({"linearity 6", 6, {"linearity", "6", "falcon.lin"}, [](const fs::path& folder, const fs::path&) {
                   WriteText(folder / "falcon.lin", "[Linearity Coefficients]\nIntercept=0.9\nNL0=1.5e-5\nNL1=-2e-9\n");
               }});
}

std::string SmallImage(std::uint8_t bootByte) {
    std::string image(300, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 29 + 7) & 0xFF);
    image[0] = static_cast<char>(bootByte);
    return image;
}

TEST_F(FaultMatrixTest, DownloadProgramAndDump) {
    RunMatrix({"download 15", 15, {"download", "15", "prog.hex"}, [](const fs::path& folder, const fs::path&) {
                   WriteText(folder / "prog.hex",
                             ":10000000000102030405060708090A0B0C0D0E0F78\n"
                             ":0201000002FFFC\n"
                             ":02300000AA55CF\n"
                             ":00000001FF\n");
               }});
    // Device 3 has an EZ-USB chip, device 6 an FX2.
    for (const auto& [device, bootByte] : {std::pair{3, 0xB2}, std::pair{6, 0xC2}}) {
        const std::string index = std::to_string(device);
        RunMatrix({"program " + index, device, {"program", index, "image.iic"},
                   [bootByte](const fs::path& folder, const fs::path&) {
                       WriteText(folder / "image.iic", SmallImage(static_cast<std::uint8_t>(bootByte)));
                   }});
        RunMatrix({"eeprom-dump " + index, device, {"eeprom-dump", index, "dump.iic", "--length", "512"}, {}, {},
                   {"dump.iic"}});
    }
}

TEST_F(FaultMatrixTest, ProgramFpgaOnEveryFamilyWithLogic) {
    // A short design (IDCODE check, 512 bits of configuration in two pieces)
    // for a chain shortened to match, so the player's download and the
    // stream's every message stay within a few hundred requests.
    const spindle::sim::JtagDeviceConfig chain{0x0A001093, 6, 512};
    spindle::test::Bits pattern;
    for (int i = 0; i < 512; ++i) pattern.push_back(((i * 7) % 5) < 2);
    const std::vector<std::uint8_t> design = spindle::test::XsvfWriter::Design(chain, pattern, 256);
    for (int device : {4, 5, 6, 7, 8}) {
        const std::string index = std::to_string(device);
        RunMatrix({"program-fpga " + index, device, {"program-fpga", index, "design.xsvf"},
                   [&design](const fs::path& folder, const fs::path&) {
                       WriteText(folder / "design.xsvf", std::string(design.begin(), design.end()));
                   },
                   [](BenchJson& device) { device["jtag"]["configLength"] = 512; }});
    }
}

TEST_F(FaultMatrixTest, PsocActions) {
    const std::vector<std::pair<int, std::vector<std::string>>> actions = {
        {6, {"open"}}, {6, {"read-adc"}}, {6, {"write-dac", "1F0"}}, {6, {"read-temp"}},
        {7, {"open"}},
        {8, {"open"}}, {8, {"tec", "on"}}, {8, {"setpoint", "5"}}, {8, {"read", "status"}},
        {9, {"open"}}, {9, {"fan", "off"}}, {9, {"setpoint", "-2.5"}},
    };
    for (const auto& [device, action] : actions) {
        std::vector<std::string> args = {"psoc", std::to_string(device)};
        args.insert(args.end(), action.begin(), action.end());
        std::string name = "psoc";
        for (std::size_t i = 1; i < args.size(); ++i) name += " " + args[i];
        RunMatrix({name, device, args});
    }
}

TEST_F(FaultMatrixTest, AccessoryTools) {
    const auto sequence = [](BenchJson& device) {
        device["lantern"]["temperatureSequence"] = BenchJson::array({{3, 1000}, {3, 3000}});
    };
    RunMatrix({"lantern-cal", 0, {"--yes", "lantern-cal", "0/lantern", "--low", "25", "--high", "65", "--averages", "2"},
               {}, sequence});
    RunMatrix({"lantern-temp", 0, {"lantern-temp", "0/lantern"}});
    RunMatrix({"light pulsed", 0, {"light", "0/lantern", "pulsed"}});
    RunMatrix({"light dac", 0, {"light", "0/lantern", "dac", "300"}});
    for (int device : {0, 1}) {
        const std::string index = std::to_string(device);
        RunMatrix({"kestrel-extra " + index, device,
                   {"kestrel-extra", index, "Reading Period (sec)=300", "Ratio=yes", "Analog Out Full Scale Value=4096"}});
    }
    RunMatrix({"zephyr-import", 0, {"zephyr-import", "0/lantern", "sensor.cal"},
               [](const fs::path& folder, const fs::path&) {
                   std::string cal = "[Setup]\n";
                   for (int i = 0; i < 16; ++i) {
                       cal += std::string(spindle::kZephyrCoefficientKeys[i]) + "=" + std::to_string(i + 1) + "e-3\n";
                   }
                   WriteText(folder / "sensor.cal", cal);
               }});
}

}  // namespace
