// The back ends a benchmark runs on: the simulated bench itself, and (built
// with umockdev) the libusb back end over the bench's devices on emulated
// USB buses.
#pragma once
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "device/EzusbDriver.h"
#include "sim/SimBench.h"
#ifdef SPINDLE_BENCH_LIBUSB
#include "usb/LibusbDriver.h"
#include "usbemu/UsbEmulation.h"
#endif

namespace spindle::bench {

// The driver over `bench`'s devices (all of them added first).
class Backend {
public:
    Backend(sim::SimBench& bench, [[maybe_unused]] bool viaLibusb) : driver_(&bench) {
#ifdef SPINDLE_BENCH_LIBUSB
        if (viaLibusb) {
            emulation_ = std::make_unique<usbemu::CUsbEmulation>(bench);
            emulation_->AddAllDevices();
            libusb_ = std::make_unique<usb::CLibusbDriver>();
            driver_ = libusb_.get();
        }
#endif
    }
    IEzusbDriver& Driver() { return *driver_; }

private:
#ifdef SPINDLE_BENCH_LIBUSB
    // The testbed comes before libusb starts, and goes after it.
    std::unique_ptr<usbemu::CUsbEmulation> emulation_;
    std::unique_ptr<usb::CLibusbDriver> libusb_;
#endif
    IEzusbDriver* driver_;
};

// Runs `report(name, viaLibusb)` on each back end built; false when one
// returned false. With libusb, the program first starts itself again under
// umockdev's preload library.
template <typename Report>
bool OnEachBackend(char** argv, Report report) {
#ifdef SPINDLE_BENCH_LIBUSB
    if (!usbemu::PreloadActive()) {
        std::string error;
        usbemu::ReexecWithPreload(argv, error);
        std::cerr << "cannot start again with umockdev's preload library: " << error << "\n";
        return false;
    }
    const bool simulated = report("simulated bench", false);
    return report("libusb over emulated USB", true) && simulated;
#else
    (void)argv;
    const bool simulated = report("simulated bench", false);
    std::printf("libusb over emulated USB: not built (needs libusb-1.0 and umockdev)\n");
    return simulated;
#endif
}

}  // namespace spindle::bench
