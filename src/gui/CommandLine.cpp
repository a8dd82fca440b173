#include "CommandLine.h"
#include "device/NoDevicesDriver.h"

#include <charconv>

#include "sim/SimBench.h"
#ifdef SPINDLE_HAVE_LIBUSB
#include "usb/LibusbDriver.h"
#endif

namespace spindle::gui {

namespace {

// "--name value" or "--name=value"; true when `arguments[i]` is the option
// (advancing i past a separate value).
bool TakeValue(const std::vector<std::string>& arguments, std::size_t& i, const std::string& name, std::string& value,
               std::string& error) {
    const std::string& argument = arguments[i];
    const std::string prefix = "--" + name;
    if (argument == prefix) {
        if (i + 1 >= arguments.size()) {
            error = "option " + prefix + " needs a value";
            return true;
        }
        value = arguments[++i];
        return true;
    }
    if (argument.rfind(prefix + "=", 0) == 0) {
        value = argument.substr(prefix.size() + 1);
        return true;
    }
    return false;
}

}  // namespace

LaunchOptions ParseCommandLine(const std::vector<std::string>& arguments) {
    LaunchOptions options;
    if (!arguments.empty()) options.rest.push_back(arguments.front());
    for (std::size_t i = 1; i < arguments.size() && options.error.empty(); ++i) {
        const std::string& argument = arguments[i];
        std::string delay;
        std::string slow;
        std::string job;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--psoc") {
            options.psoc = true;
        } else if (argument == "--calibrate") {
            options.calibrate = true;
        } else if (argument == "--extra-kestrel") {
            options.extraKestrel = true;
        } else if (TakeValue(arguments, i, "bench", options.bench, options.error) ||
                   TakeValue(arguments, i, "usb-trace", options.usbTrace, options.error) ||
                   TakeValue(arguments, i, "select", options.select, options.error) ||
                   TakeValue(arguments, i, "screenshot", options.screenshot, options.error) ||
                   TakeValue(arguments, i, "station", options.station, options.error)) {
        } else if (TakeValue(arguments, i, "screenshot-delay", delay, options.error)) {
            int ms = 0;
            const auto [end, failure] = std::from_chars(delay.data(), delay.data() + delay.size(), ms);
            if (failure != std::errc() || end != delay.data() + delay.size() || ms < 0) {
                options.error = "--screenshot-delay needs a number of milliseconds";
            } else {
                options.screenshotDelayMs = ms;
            }
        } else if (TakeValue(arguments, i, "slow-requests", slow, options.error)) {
            int ms = 0;
            const auto [end, failure] = std::from_chars(slow.data(), slow.data() + slow.size(), ms);
            if (failure != std::errc() || end != slow.data() + slow.size() || ms < 0 || ms > 60000) {
                options.error = "--slow-requests needs a number of milliseconds (0 to 60000)";
            } else {
                options.slowRequestsMs = ms;
            }
        } else if (TakeValue(arguments, i, "program", job, options.error)) {
            if (job.find(':') == std::string::npos) {
                options.error = "--program needs INDEX:IMAGE";
            } else {
                options.programJobs.push_back(job);
            }
        } else if (argument.rfind("--", 0) == 0 && argument != "--") {
            options.error = "unknown option " + argument;
        } else {
            // Qt's own options (-platform, -style ...) and their values.
            options.rest.push_back(argument);
        }
    }
    return options;
}

std::string UsageText() {
    return "Usage: spindle [--bench demo|FILE] [--usb-trace FILE]\n"
           "\n"
           "Service and manufacturing tool for the USB spectrometers.\n"
           "\n"
           "  --bench demo|FILE  run on the simulated bench: the built-in demo bench or a bench file\n"
#ifdef SPINDLE_HAVE_LIBUSB
           "                     (without it: the attached USB devices)\n"
#else
           "                     (required: built without the USB back end)\n"
#endif
           "  --usb-trace FILE   append one line per USB request and protocol pause to FILE\n"
           "  --help             show this text\n"
           "  --version          show the version\n";
}

Backend OpenBackend(const LaunchOptions& options, IDebugTrace* trace) {
    Backend backend;
    if (!options.bench.empty()) {
        try {
            std::unique_ptr<sim::SimBench> bench = sim::LoadBench(options.bench);
            bench->SetDebugTrace(trace);
            if (options.slowRequestsMs > 0) {
                for (int index : bench->DeviceIndexes()) {
                    auto device = bench->Device(index);
                    sim::FaultSettings faults = device->Faults();
                    faults.vendorRequestDelayMs = options.slowRequestsMs;
                    device->SetFaults(faults);
                }
            }
            backend.driver = std::move(bench);
            backend.simulated = true;
        } catch (const sim::BenchFileError& error) {
            backend.error = std::string("spindle: ") + error.what();
        }
        return backend;
    }
#ifdef SPINDLE_HAVE_LIBUSB
    auto usb = std::make_unique<usb::CLibusbDriver>(trace);
    if (!usb->Ready()) {
        // The window opens all the same and says why it lists nothing.
        backend.usbProblem = usb->InitError();
        backend.driver = std::make_unique<CNoDevicesDriver>();
        return backend;
    }
    backend.driver = std::move(usb);
#else
    (void)trace;
    backend.usbProblem = kNoUsbBackendReason;
    backend.driver = std::make_unique<CNoDevicesDriver>();
#endif
    return backend;
}

}  // namespace spindle::gui
