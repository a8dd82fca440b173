#pragma once
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/DebugTrace.h"
#include "sim/SimBench.h"
#include "usb/LibusbDriver.h"
#include "usbemu/UsbEmulation.h"

namespace spindle::test {

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
    bool TraceHas(const std::string& text) const {
        const std::vector<std::string> lines = trace.Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    std::unique_ptr<sim::SimBench> bench;
    usbemu::CUsbEmulation emulation;
    MemoryDebugTrace trace;
    std::unique_ptr<usb::CLibusbDriver> driver;  // last: closed before the emulation goes
};

// The demo bench without the two devices only the simulated driver numbers
// (an unknown product, a second bare EZ-USB), so that Ezusb-N names the same
// device through both back ends.
inline std::unique_ptr<sim::SimBench> ComparableDemoBench() {
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    bench->RemoveDevice(16);
    bench->RemoveDevice(17);
    return bench;
}

}  // namespace spindle::test
