#include "app/ApplicationProfile.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/INIFileSupport.h"
#include "platform/ProfileText.h"
#include "platform/Format.h"

namespace spindle {

std::string FormatWindowPlacement(const WindowPlacement& p) {
    return StrPrintf("%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", p.flags, p.showCommand, p.minX, p.minY, p.maxX, p.maxY,
                     p.left, p.top, p.right, p.bottom);
}

std::optional<WindowPlacement> ParseWindowPlacement(const std::string& text) {
    WindowPlacement p;
    const int fields = std::sscanf(text.c_str(), "%u,%u,%d,%d,%d,%d,%d,%d,%d,%d", &p.flags, &p.showCommand,
                                   &p.minX, &p.minY, &p.maxX, &p.maxY, &p.left, &p.top, &p.right, &p.bottom);
    if (fields != 10) return std::nullopt;
    return p;
}

CApplicationProfile::CApplicationProfile() : path_(SettingsFilePath()) {}

CApplicationProfile::CApplicationProfile(std::string path) : path_(std::move(path)) {}

std::string CApplicationProfile::GetProfileString(const std::string& section, const std::string& entry,
                                                  const std::string& defaultValue) const {
    std::string bytes;
    if (LoadProfileFile(path_, bytes) != ProfileLoad::Ok) return defaultValue;
    return ProfileText(bytes).Get(kSectionPrefix + section, entry).value_or(defaultValue);
}

bool CApplicationProfile::WriteProfileString(const std::string& section, const std::string& entry,
                                             const std::string& value) {
    if (path_.empty()) return false;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    std::string bytes;
    const ProfileLoad load = LoadProfileFile(path_, bytes);
    if (load == ProfileLoad::Failed) return false;
    ProfileText document(bytes);
    if (!document.Set(kSectionPrefix + section, entry, value)) return false;
    const std::string updated = document.Text();
    if (load == ProfileLoad::Ok && updated == bytes) return true;
    return SaveProfileFileAtomically(path_, updated);
}

std::optional<WindowPlacement> CApplicationProfile::ReadWindowPlacement() const {
    const std::string text = GetProfileString(kPlacementSection, kPlacementEntry);
    if (text.empty()) return std::nullopt;
    return ParseWindowPlacement(text);
}

bool CApplicationProfile::WriteWindowPlacement(const WindowPlacement& placement) {
    return WriteProfileString(kPlacementSection, kPlacementEntry, FormatWindowPlacement(placement));
}

std::string CApplicationProfile::ReadBarState(const std::string& barName) const {
    return GetProfileString(barName, kBarStateEntry);
}

bool CApplicationProfile::WriteBarState(const std::string& barName, const std::string& state) {
    return WriteProfileString(barName, kBarStateEntry, state);
}

}  // namespace spindle
