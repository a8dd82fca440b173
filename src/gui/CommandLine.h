#pragma once
#include <string>
#include <vector>

namespace spindle::gui {

// What `spindle` was asked to do on its command line.
struct LaunchOptions {
    // "demo" or a bench file: run on the simulated bench. Empty: the real
    // USB back end.
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
    // Every argument that is not ours (Qt's own options), program name first.
    std::vector<std::string> rest;
    // Set when the command line is wrong.
    std::string error;
};

LaunchOptions ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string UsageText();

// What the program says when it is started without a simulated bench.
inline constexpr const char* kNoUsbBackendMessage =
    "spindle: no real USB back end is built yet; run on the simulated bench with --bench demo (or --bench FILE)";

}  // namespace spindle::gui
