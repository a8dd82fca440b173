#pragma once
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

// A fresh temporary folder, removed with its contents at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* stem = "spindle-edit") {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Path() const { return path_.string(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Points an environment variable at a value for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            hadOld_ = true;
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (hadOld_) {
            ::setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// The labels of the common list, rows 0 to 19.
inline const std::vector<std::string>& CommonLabels() {
    static const std::vector<std::string> labels{
        "  Firmware Version",
        "  Serial Number",
        "  Wavelength Calibration Intercept",
        "  Wavelength Calibration First Coefficient",
        "  Wavelength Calibration Second Coefficient",
        "  Wavelength Calibration Third Coefficient",
        "  Stray Light Correction Coefficient",
        "  Nonlinearity Correction 0th-order Coefficient",
        "  Nonlinearity Correction 1st-order Coefficient",
        "  Nonlinearity Correction 2nd-order Coefficient",
        "  Nonlinearity Correction 3rd-order Coefficient",
        "  Nonlinearity Correction 4th-order Coefficient",
        "  Nonlinearity Correction 5th-order Coefficient",
        "  Nonlinearity Correction 6th-order Coefficient",
        "  Nonlinearity Correction 7th-order Coefficient",
        "  Nonlinearity Correction Order",
        "  Configuration String 1",
        "  Configuration String 2",
        "  AutoNulling Info",
        "  Startup Baud Rate",
    };
    return labels;
}

// A main frame on a scripted driver and user interface, with its settings
// kept in a temporary folder, and one device item in the tree.
struct FrameRig {
    // Adds a device item of this family and selects it.
    void SelectDevice(int familyCode, std::uint32_t index = 0) {
        record.family = static_cast<std::uint32_t>(familyCode);
        record.index = index;
        const int item = frame.Tree().InsertItem("Device", 0, CDeviceTree::kNoItem);
        frame.Tree().SetItemData(item, &record);
        frame.Tree().Select(item);
    }
    // Fills the list with `count` rows: the given labels (then "  Reserved"),
    // values "v0", "v1", ...
    void FillList(int count, const std::vector<std::string>& labels = CommonLabels()) {
        frame.List().Clear();
        for (int row = 0; row < count; ++row) {
            const auto at = static_cast<std::size_t>(row);
            frame.List().AppendRow(at < labels.size() ? labels[at] : "  Reserved", "v" + std::to_string(row), 0);
        }
    }
    std::string Value(int row) { return frame.List().GetText(row, CValueList::kDataColumn); }

    ScratchFolder settingsFolder{"spindle-settings"};
    ScopedVariable settingsDir{"SPINDLE_CONFIG_DIR", settingsFolder.Path()};
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    CMainFrame frame{platform};
    DeviceRecord record;
};

}  // namespace spindle::test
