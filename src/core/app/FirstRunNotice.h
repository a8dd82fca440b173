#pragma once
#include <string>
#include <vector>

namespace spindle {

// What the window knows after a scan about why its tree may be empty.
struct StartState {
    bool simulated = false;     // running on a simulated bench
    std::string backendError;   // why the USB back end could not start; empty when it did
    int devicesInTree = 0;      // devices (and Lanterns) the last scan listed
    bool accessDenied = false;  // the last scan met devices this user may not open
    std::string installedRules; // the installed udev rules file; empty when there is none
};

// The notice the list area shows instead of an empty list when no
// instrument can be used: what is wrong, the likely cause and what to do,
// and whether to offer the demo bench. Not shown (shown false) once the
// tree lists a device.
struct FirstRunNotice {
    bool shown = false;
    std::string heading;
    std::vector<std::string> paragraphs;
    std::vector<std::string> commands;  // to type in a terminal, one per line, after the paragraphs
    bool offerDemoBench = false;
};

inline constexpr const char* kOpenDemoBenchLabel = "Open the Demo Bench";

FirstRunNotice MakeFirstRunNotice(const StartState& state);

}  // namespace spindle
