#pragma once
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/DebugTrace.h"
#include "sim/SimBench.h"
#include "usb/LibusbDriver.h"
#include "usbemu/UsbEmulation.h"

namespace spindle::test {

// True when a line of the trace holds `text`.
inline bool TraceContains(const MemoryDebugTrace& trace, const std::string& text) {
    const std::vector<std::string> lines = trace.Lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&text](const std::string& line) { return line.find(text) != std::string::npos; });
}

// A simulated bench on emulated USB buses and the libusb back end over
// them. Add the devices first, then Start(): libusb only sees the devices
// that were there when it started.
struct EmulatedUsb {
    explicit EmulatedUsb(std::unique_ptr<sim::SimBench> simBench = std::make_unique<sim::SimBench>())
        : bench(std::move(simBench)), emulation(*bench) {}

    usb::CLibusbDriver& Start() {
        driver = std::make_unique<usb::CLibusbDriver>(&trace);
        return *driver;
    }

    bool TraceHas(const std::string& text) const { return TraceContains(trace, text); }

    std::unique_ptr<sim::SimBench> bench;
    usbemu::CUsbEmulation emulation;
    MemoryDebugTrace trace;
    std::unique_ptr<usb::CLibusbDriver> driver;  // last: closed before the emulation goes
};

// The demo bench without its two devices that only the simulated driver
// numbers (an unknown product and a second unprogrammed EZ-USB at the end),
// so that Ezusb-N names the same device through both back ends.
inline std::unique_ptr<sim::SimBench> ComparableDemoBench() {
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    bench->RemoveDevice(16);
    bench->RemoveDevice(17);
    return bench;
}

}  // namespace spindle::test
