#pragma once
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>
#include <string>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {

// A temporary folder (removed at the end) that an environment variable
// points at for the folder's lifetime.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* variable = nullptr) : variable_(variable ? variable : "") {
        std::string pattern = (std::filesystem::temp_directory_path() / "spindle-edit-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : "/nonexistent/spindle-edit";
        if (variable_.empty()) return;
        if (const char* old = std::getenv(variable)) old_ = old;
        ::setenv(variable, path_.c_str(), 1);
    }
    ~ScratchFolder() {
        if (!variable_.empty() && old_) ::setenv(variable_.c_str(), old_->c_str(), 1);
        if (!variable_.empty() && !old_) ::unsetenv(variable_.c_str());
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string variable_, path_;
    std::optional<std::string> old_;
};

// A main frame on scripted ports, its settings in a temporary folder.
struct FrameRig {
    FrameRig() { frame.OnCreate(); ui.timerLog.clear(); }
    void SelectDevice(int familyCode, std::uint32_t index = 0) {
        record = {index, static_cast<std::uint32_t>(familyCode), ""};
        const int item = frame.Tree().InsertItem("Device", 0, CDeviceTree::kNoItem);
        frame.Tree().SetItemData(item, &record);
        frame.Tree().Select(item);
    }
    // `count` rows with values "v0", "v1"...; the labels that matter are real.
    void FillList(int count, const char* reserved = "  Row") {
        frame.List().Clear();
        for (int row = 0; row < count; ++row) {
            const std::string label = row == 1 ? "  Serial Number" : row == 16 ? "  Configuration String 1"
                                    : row == 18 ? "  AutoNulling Info" : std::string(reserved) + std::to_string(row);
            frame.List().AppendRow(label, "v" + std::to_string(row), 0);
        }
    }
    std::string Value(int row) { return frame.List().GetText(row, CValueList::kDataColumn); }
    std::vector<std::string> Values() {
        std::vector<std::string> values;
        for (const ValueRow& row : frame.List().Rows()) values.push_back(row.value);
        return values;
    }

    ScratchFolder settings{"SPINDLE_CONFIG_DIR"};
    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    CMainFrame frame{platform};
    DeviceRecord record;
};

}  // namespace spindle::test
