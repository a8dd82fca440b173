#pragma once
#include <vector>
#include <string>

#include "app/MainFrame.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedDriver.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {

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

    ScriptedDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
    CMainFrame frame{platform};
    DeviceRecord record;
};

}  // namespace spindle::test
