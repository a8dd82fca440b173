#include "platform/ErrorReport.h"

#include "platform/Format.h"

namespace spindle {

std::string ModuleNameFromSourcePath(std::string_view sourcePath) {
    // Both separators are accepted: the build's source paths use '/', the
    // paths people quote from older reports use '\'.
    const std::size_t separator = sourcePath.find_last_of("\\/");
    std::string_view name = separator == std::string_view::npos ? sourcePath : sourcePath.substr(separator + 1);
    // Only a '.' in the last component starts an extension, and a leading
    // '.' (as in ".profile") does not.
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::string(name);
}

void CheckAndReport(IUserInterface& ui, bool condition, const std::string& cause, const std::string& solution,
                    std::string_view sourcePath, int line) {
    if (condition) return;
    CErrorDlg dialog;
    dialog.errorText = StrPrintf("Unhandled Exception occurrred in\nModule: %s\nLine: %d",
                                 ModuleNameFromSourcePath(sourcePath).c_str(), line);
    dialog.cause = (cause.empty() || cause == kNoCause) ? std::string("Unknown") : cause;
    dialog.solution = (solution.empty() || solution == kNoSolution)
                          ? std::string("Contact Lumora Technical Support Department with the above information")
                          : solution;
    ui.DoModal(dialog);
}

}  // namespace spindle
