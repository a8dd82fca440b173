#pragma once
#include <memory>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"

namespace spindle {
class IDebugTrace;
}

namespace spindle::gui {

// What `spindle` was asked to do on its command line.
struct LaunchOptions {
    // "demo" or a bench file: run on the simulated bench. Empty: the
    // attached USB devices.
    std::string bench;
    // Write the USB trace to this file.
    std::string usbTrace;
    bool help = false;
    bool version = false;
    // Hidden, for screenshots: select the first tree item with this text,
    // then grab the window into a PNG file after the delay and quit.
    std::string select;
    std::string screenshot;
    int screenshotDelayMs = 800;
    // Hidden, for screenshots of the PSOC pages: after the delay, run
    // PSOC Diags. on the selected device and grab its dialog instead.
    bool psoc = false;
    // Hidden, likewise: run Calibrate (the Lantern calibration) or Extra
    // Kestrel on the selected device and grab its dialog.
    bool calibrate = false;
    bool extraKestrel = false;
    // Hidden, for screenshots of running jobs: every vendor request to a
    // simulated device waits this long (real time), and each "INDEX:IMAGE"
    // starts an EEPROM job as Program would, once the tree is built.
    int slowRequestsMs = 0;
    std::vector<std::string> programJobs;
    // Hidden, for a screenshot of the Station view: "FAMILY:IMAGE" opens it
    // and starts it on that family with that image; it is grabbed instead
    // of the window.
    std::string station;
    // Every argument that is not ours (Qt's own options), program name first.
    std::vector<std::string> rest;
    // Set when the command line is wrong.
    std::string error;
};

LaunchOptions ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string UsageText();

// The driver the window runs on: the simulated bench with --bench, otherwise
// the attached USB devices (when the USB back end is built in).
struct Backend {
    std::unique_ptr<IEzusbDriver> driver;  // null when the choice failed
    bool simulated = false;
    std::string error;  // why there is no driver, ready to print
    // Why the USB back end could not start; the driver then has no devices,
    // and the window shows the reason where the devices would be.
    std::string usbProblem;
};

// `trace` (may be null) receives the USB back end's reasons for devices it
// cannot open; it must outlive the driver's use.
Backend OpenBackend(const LaunchOptions& options, IDebugTrace* trace);

// Why there are no USB devices in a program built without the USB back end.
inline constexpr const char* kNoUsbBackendReason = "this program was built without the USB back end (libusb-1.0)";

}  // namespace spindle::gui
