#pragma once
#include <string>
#include <string_view>

#include "platform/UserInterface.h"

namespace spindle {

// The error report dialog: three read-only fields, Error, Cause and
// Solution, top to bottom, and an OK button.
class CErrorDlg : public CDialogModel {
public:
    static constexpr int kDialogId = 146;
    static constexpr int kErrorControlId = 1023;
    static constexpr int kCauseControlId = 1024;
    static constexpr int kSolutionControlId = 1025;

    int DialogId() const override { return kDialogId; }
    std::string Title() const override { return "Tarnwell Error"; }

    std::string errorText;  // control 1023
    std::string cause;      // control 1024
    std::string solution;   // control 1025
};

// Placeholders a caller passes when it has no cause or solution to offer.
inline constexpr const char* kNoCause = "NOCAUSE";
inline constexpr const char* kNoSolution = "NOSOLUTION";

// The module name of a source path: the last path component without its
// extension ("src/app/INIFileSupport.cpp" and "C:\src\INIFileSupport.cpp"
// both give "INIFileSupport"; "Tool.cpp" gives "Tool").
std::string ModuleNameFromSourcePath(std::string_view sourcePath);

// When condition is false, shows the error report for the source position
// and returns once the operator has closed it; the caller goes on after it.
// An empty or placeholder cause shows "Unknown"; an empty or placeholder
// solution shows the contact text.
void CheckAndReport(IUserInterface& ui, bool condition, const std::string& cause, const std::string& solution,
                    std::string_view sourcePath, int line);

}  // namespace spindle
