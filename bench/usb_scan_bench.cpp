// Times the device scan (indexes 0 to 127) through the libusb back end on
// emulated USB buses, once with no device attached and once with eight
// instruments, and counts how often each scan lists the buses.
// Targets: one bus enumeration per scan in both cases, and a median scan
// under 50 ms with no device. With eight devices every request is a round
// trip through the emulation (about 1 ms each), so that time is reported, not
// held to the 50 ms target; every one of the eight must appear in the tree.
//
// The protocol's own pauses run on a virtual clock: the wall times are the
// program's and the bus's work only; the pauses are reported beside them.
//
//   bench_usb_scan [--quick]
//
// --quick runs 5 scans per case instead of 20. The program starts itself
// again under umockdev's preload library when it is not already there.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "inventory/Classification.h"
#include "inventory/DeviceRecord.h"
#include "inventory/DeviceScan.h"
#include "inventory/DeviceTree.h"
#include "platform/DebugTrace.h"
#include "platform/Format.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "usb/LibusbDriver.h"
#include "usbemu/UsbEmulation.h"

namespace {

using namespace spindle;

constexpr double kNoDeviceTargetMs = 50.0;

// Demo-bench devices put on the bus: one of eight different families, none
// with an accessory, so each gives exactly one record.
constexpr int kEightDevices[] = {1, 2, 3, 4, 5, 6, 8, 13};

// Answers every box with OK and every dialog with Cancel, keeping the texts
// so the report can show what the scan had to say.
class SilentUserInterface final : public IUserInterface {
public:
    int MessageBox(const std::string& text, const std::string& title, unsigned) override {
        messages.push_back(title + ": " + text);
        return mb::kIdOk;
    }
    int DoModal(CDialogModel&) override { return mb::kIdCancel; }
    bool ChooseFile(FileChoice&) override { return false; }

    std::vector<std::string> messages;
};

struct CaseResult {
    std::string name;
    std::vector<double> wallMs;
    std::vector<int> enumerations;
    std::size_t requestsPerScan = 0;  // USB requests the emulated devices received
    std::uint64_t pauseMsPerScan = 0;
    int failures = 0;          // wrong trees, and handles left open at the end
    std::string firstProblem;  // the first of them
    std::vector<std::string> messages;

    double Median() const {
        std::vector<double> sorted = wallMs;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    }
    double Worst() const { return *std::max_element(wallMs.begin(), wallMs.end()); }
    int MinEnumerations() const { return *std::min_element(enumerations.begin(), enumerations.end()); }
    int MaxEnumerations() const { return *std::max_element(enumerations.begin(), enumerations.end()); }
};

// The families the tree must show, one entry per expected device.
using FamilyCounts = std::map<std::uint32_t, int>;

// Empty when the tree holds exactly the expected devices, one record each,
// numbered Ezusb-0 upwards; otherwise what is wrong.
std::string CheckTree(const CDeviceTree& tree, const FamilyCounts& expected) {
    FamilyCounts found;
    std::set<std::uint32_t> indexes;
    int devices = 0;
    for (const TreeItem& item : tree.Items()) {
        if (item.record == nullptr || item.record->family == 0) continue;
        ++devices;
        ++found[item.record->family];
        indexes.insert(item.record->index);
    }
    int wanted = 0;
    for (const auto& [family, count] : expected) wanted += count;
    if (found != expected) {
        std::string families;
        for (const auto& [family, count] : found) families += StrPrintf(" %ux%d", family, count);
        return StrPrintf("%d device(s) in the tree, %d expected; families found:%s", devices, wanted,
                         families.empty() ? " none" : families.c_str());
    }
    std::set<std::uint32_t> wantedIndexes;
    for (int i = 0; i < wanted; ++i) wantedIndexes.insert(static_cast<std::uint32_t>(i));
    if (indexes != wantedIndexes) return StrPrintf("device indexes are not Ezusb-0 to Ezusb-%d", wanted - 1);
    return {};
}

// Runs `scans` full scans the way Refresh Tree does and measures each one.
// The driver is made here, after the emulation's devices were added: libusb
// only sees the devices present when its context starts.
CaseResult RunScans(const std::string& name, usbemu::CUsbEmulation& emulation, int scans,
                    const FamilyCounts& expected) {
    CaseResult result;
    result.name = name;

    usb::CLibusbDriver driver;
    if (!driver.Ready()) {
        result.failures = scans;
        result.firstProblem = StrPrintf("libusb did not start: %s", driver.InitError().c_str());
        return result;
    }
    VirtualClock clock;
    NullDebugTrace trace;
    SilentUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    JobBusyFlags jobBusy{};
    DeviceRecordTable records;
    CDeviceTree tree;

    for (int i = 0; i < scans; ++i) {
        const int enumerationsBefore = driver.EnumerationCount();
        clock.ClearSleeps();
        emulation.ClearTransfers();
        const auto start = std::chrono::steady_clock::now();
        ScanDevices(platform, jobBusy, records, tree);
        const auto end = std::chrono::steady_clock::now();
        result.wallMs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        result.enumerations.push_back(driver.EnumerationCount() - enumerationsBefore);
        result.pauseMsPerScan = std::max(result.pauseMsPerScan, clock.TotalSleptMs());
        result.requestsPerScan = std::max(result.requestsPerScan, emulation.Transfers().size());
        const std::string problem = CheckTree(tree, expected);
        if (!problem.empty()) {
            if (result.failures == 0) result.firstProblem = problem;
            ++result.failures;
        }
    }
    if (driver.OpenHandleCount() != 0) {
        ++result.failures;
        if (result.firstProblem.empty()) {
            result.firstProblem = StrPrintf("%d handle(s) left open after the scans", driver.OpenHandleCount());
        }
    }
    result.messages = ui.messages;
    return result;
}

CaseResult NoDevice(int scans) {
    sim::SimBench bench;
    usbemu::CUsbEmulation emulation(bench);
    return RunScans("no device", emulation, scans, {});
}

CaseResult EightDevices(int scans) {
    auto bench = sim::LoadBench("demo");
    usbemu::CUsbEmulation emulation(*bench);
    FamilyCounts expected;
    int port = 1;
    for (const int index : kEightDevices) {
        const auto device = bench->Device(index);
        const ClassificationRow* row = device ? Classify(device->VendorId(), device->ProductId()) : nullptr;
        if (row == nullptr) throw std::runtime_error(StrPrintf("demo bench device %d is not classified", index));
        ++expected[static_cast<std::uint32_t>(row->family)];
        emulation.AddDevice(index, usbemu::CUsbEmulation::Place{1, {port++}});
    }
    return RunScans("eight devices", emulation, scans, expected);
}

}  // namespace

int main(int argc, char** argv) {
    if (!usbemu::PreloadActive()) {
        std::string error;
        usbemu::ReexecWithPreload(argv, error);
        std::fprintf(stderr, "cannot start again with umockdev's preload library: %s\n", error.c_str());
        return 1;
    }
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int scans = quick ? 5 : 20;

    std::vector<CaseResult> results;
    try {
        results.push_back(NoDevice(scans));
        results.push_back(EightDevices(scans));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot set up the emulated buses: %s\n", e.what());
        return 1;
    }

    std::printf("%d scans of Ezusb-0 to Ezusb-127 per case\n", scans);
    std::printf("%-14s %10s %10s %14s %10s %10s %6s\n", "case", "median ms", "worst ms", "enumerations", "requests",
                "pauses ms", "tree");
    for (const CaseResult& r : results) {
        if (r.wallMs.empty()) {
            std::printf("%-14s %10s %10s %14s %10s %10s %6s\n", r.name.c_str(), "-", "-", "-", "-", "-", "FAIL");
            continue;
        }
        const std::string enumerations = r.MinEnumerations() == r.MaxEnumerations()
                                              ? StrPrintf("%d", r.MinEnumerations())
                                              : StrPrintf("%d-%d", r.MinEnumerations(), r.MaxEnumerations());
        std::printf("%-14s %10.2f %10.2f %14s %10zu %10llu %6s\n", r.name.c_str(), r.Median(), r.Worst(),
                    enumerations.c_str(), r.requestsPerScan, static_cast<unsigned long long>(r.pauseMsPerScan),
                    r.failures == 0 ? "ok" : "FAIL");
    }
    std::printf("(enumerations: bus listings per scan; requests: USB requests the emulated devices received per scan;\n"
                " pauses: the protocol's, on the virtual clock, not in the wall time)\n");

    bool ok = true;
    for (const CaseResult& r : results) {
        if (r.failures != 0) {
            std::printf("%s: %d failure(s); first: %s\n", r.name.c_str(), r.failures, r.firstProblem.c_str());
            ok = false;
        }
        if (!r.messages.empty()) {
            std::printf("%s: the scans showed %zu message(s); first: %s\n", r.name.c_str(), r.messages.size(),
                        r.messages.front().c_str());
        }
    }
    const CaseResult& none = results[0];
    const bool oneEnumeration = std::all_of(results.begin(), results.end(), [](const CaseResult& r) {
        return !r.enumerations.empty() && r.MinEnumerations() == 1 && r.MaxEnumerations() == 1;
    });
    const bool fastWhenEmpty = !none.wallMs.empty() && none.Median() < kNoDeviceTargetMs;
    std::printf("target: one enumeration per scan ... %s\n", oneEnumeration ? "met" : "NOT met");
    std::printf("target: median scan with no device under %.0f ms ... %s\n", kNoDeviceTargetMs,
                fastWhenEmpty ? "met" : "NOT met");
    ok = ok && oneEnumeration && fastWhenEmpty;
    return ok ? 0 : 1;
}
