#pragma once
#include <optional>
#include <string>

namespace spindle {

// The saved placement of the main window: flags (2 = restore to maximized),
// show state, minimized and maximized positions and the normal rectangle.
struct WindowPlacement {
    unsigned flags = 0;
    unsigned showCommand = 0;
    int minX = 0;
    int minY = 0;
    int maxX = 0;
    int maxY = 0;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d" in the field order above.
std::string FormatWindowPlacement(const WindowPlacement& placement);
// The placement when the text holds all ten numbers, else nothing.
std::optional<WindowPlacement> ParseWindowPlacement(const std::string& text);

// The main frame's own profile entries (window placement, bar docking
// states). They live in the settings file next to the settings, in sections
// of their own whose names start with kSectionPrefix, so they can never mix
// with the settings' sections. Unlike the settings store, values are not
// limited to 255 characters (a docking state can be longer), but each is one
// line of text.
class CApplicationProfile {
public:
    static constexpr const char* kSectionPrefix = "Profile\\";
    static constexpr const char* kPlacementSection = "MainWindowSize";
    static constexpr const char* kPlacementEntry = "WindowPos";
    static constexpr const char* kMainBars = "MainBars";
    static constexpr const char* kManufacturingBars = "ManufacturingBars";
    static constexpr const char* kBarStateEntry = "State";

    // The settings file of SettingsFilePath(), or another file (tests).
    CApplicationProfile();
    explicit CApplicationProfile(std::string path);

    // The entry of the profile section, or the default when it is missing.
    std::string GetProfileString(const std::string& section, const std::string& entry,
                                 const std::string& defaultValue = {}) const;
    // Stores the entry; false when it could not be written (the file is then
    // left as it was) or the text holds a line break.
    bool WriteProfileString(const std::string& section, const std::string& entry, const std::string& value);

    // "MainWindowSize" / "WindowPos"; nothing when missing or not ten numbers.
    std::optional<WindowPlacement> ReadWindowPlacement() const;
    bool WriteWindowPlacement(const WindowPlacement& placement);

    // A bar's docking state ("MainBars", "ManufacturingBars") in whatever
    // one-line text form the front end keeps it; empty when none is saved.
    std::string ReadBarState(const std::string& barName) const;
    bool WriteBarState(const std::string& barName, const std::string& state);

    const std::string& FilePath() const { return path_; }

private:
    std::string path_;
};

}  // namespace spindle
