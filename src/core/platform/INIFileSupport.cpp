#include "platform/INIFileSupport.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale.h>
#include <mutex>
#include <new>
#include <optional>
#include <pwd.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/BoundedFile.h"
#include "platform/ErrorReport.h"
#include "platform/ProfileText.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"

namespace spindle {

namespace {

constexpr const char* kWarningTitle = "CINIFileSupport Error";
constexpr std::size_t kMaxCurrentDirectoryChars = 255;
// The line the support documents quote for the probe failure of construction.
constexpr int kProbeFailureLine = 130;

std::string Cut(std::string text, std::size_t maxChars) {
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when path names something that can be opened for reading as a file.
bool CanOpenForReading(const std::string& path) { return CRegularFile(path).State() == BoundedRead::Ok; }

std::optional<std::string> CurrentDirectory() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return std::nullopt;
    std::string directory(buffer);
    if (directory.size() > kMaxCurrentDirectoryChars) return std::nullopt;
    return directory;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return {};
}

locale_t CLocale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::string SettingsFilePath() {
    if (const char* dir = std::getenv("SPINDLE_CONFIG_DIR"); dir != nullptr && *dir != '\0') {
        return (std::filesystem::path(dir) / "Spindle.ini").string();
    }
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const std::string home = HomeFolder(); !home.empty()) {
        base = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return (base / "Lumora Software" / "Spindle.ini").string();
}

std::int64_t ParseLeadingInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate as a magnitude; beyond 64 bits the number saturates.
    std::uint64_t magnitude = 0;
    bool saturated = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (UINT64_MAX - digit) / 10) {
            saturated = true;
        } else {
            magnitude = magnitude * 10 + digit;
        }
    }
    constexpr auto kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (negative) {
        if (saturated || magnitude > kMaxPositive + 1) return INT64_MIN;
        return magnitude == kMaxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    }
    if (saturated || magnitude > kMaxPositive) return INT64_MAX;
    return static_cast<std::int64_t>(magnitude);
}

double ParseLeadingFloating(const std::string& text) {
    // Find the decimal number at the start by hand (no hexadecimal, "inf" or
    // "nan" forms), then convert just that with the C locale's decimal point.
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) ++j;
            i = j;
        }
    }
    const std::string number = text.substr(start, i - start);
    return ::strtod_l(number.c_str(), nullptr, CLocale());
}

std::string FormatFixed(double value, int precision) {
    char buffer[512];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (result.ec != std::errc()) return StrPrintf("%.*f", precision, value);
    return std::string(buffer, result.ptr);
}

std::string FormatExponent(double value, int precision) {
    char buffer[128];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, precision);
    if (result.ec != std::errc()) return StrPrintf("%.*e", precision, value);
    std::string text(buffer, result.ptr);
    // Widen the exponent to three digits: "e+00" -> "e+000".
    const std::size_t e = text.find('e');
    if (e != std::string::npos && e + 1 < text.size()) {
        const std::size_t digitsStart = e + 2;
        const std::size_t exponentDigits = text.size() - digitsStart;
        if (exponentDigits < 3) text.insert(digitsStart, 3 - exponentDigits, '0');
    }
    return text;
}

CINIFileSupport::CINIFileSupport(IUserInterface& ui, const char* fileName, int useRegistry,
                                 const void* application) {
    if (fileName != nullptr) {
        try {
            const std::string name(fileName);
            // A name that exists in the current folder is used with the folder
            // in front; any other name (such as a full path) is used as given.
            if (!name.empty() && name.front() != '/') {
                if (const auto directory = CurrentDirectory()) {
                    const std::string joined = *directory + "/" + name;
                    if (joined.size() <= kMaxFileNameChars && CanOpenForReading(joined)) fileName_ = joined;
                }
            }
            // A longer name is refused rather than cut, so nothing is ever
            // read from or written to a file other than the one named.
            if (fileName_.empty() && name.size() <= kMaxFileNameChars) fileName_ = name;
        } catch (const std::bad_alloc&) {
            CheckAndReport(ui, false, "Cannot create view class", kNoSolution, __FILE__, kProbeFailureLine);
        }
    }
    useRegistry_ = useRegistry;
    application_ = application;
    ui_ = &ui;
    if (useRegistry_ != 0) registryPath_ = SettingsFilePath();

    if (useRegistry_ == 0 && fileName == nullptr) {
        ui.MessageBox("You specified using the an INI file without passing a inifilename string", kWarningTitle,
                      mb::kOk);
    }
    if (useRegistry_ == 1 && application_ == nullptr) {
        ui.MessageBox("You specified using the registry without passing a CWinApp pointer", kWarningTitle, mb::kOk);
    }
}

namespace {

std::mutex& UnreadableMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<std::string>& UnreadableFiles() {
    static std::set<std::string> files;
    return files;
}

// Shows the warning the first time this process meets `path` unreadable.
void ReportUnreadable(IUserInterface* ui, const std::string& path, bool settings, BoundedRead why) {
    {
        std::lock_guard lock(UnreadableMutex());
        if (!UnreadableFiles().insert(path).second) return;
    }
    if (ui == nullptr) return;
    const std::string reason = why == BoundedRead::Failed ? "" : std::string(": ") + BoundedReadProblem(why);
    ui->MessageBox(StrPrintf("%s \"%s\" exists but cannot be read%s. Its values are taken as their defaults, and "
                             "nothing is written over the file. Check that it is a readable file.",
                             settings ? "The settings file" : "The file", path.c_str(), reason.c_str()),
                   kWarningTitle, mb::kOk | mb::kIconWarning);
}

}  // namespace

bool AnyUnreadableSettingsFile() {
    std::lock_guard lock(UnreadableMutex());
    return !UnreadableFiles().empty();
}

void ForgetUnreadableSettingsFilesForTesting() {
    std::lock_guard lock(UnreadableMutex());
    UnreadableFiles().clear();
}

std::optional<std::string> CINIFileSupport::Lookup(const std::string& section, const std::string& key) const {
    const std::string& path = FilePath();
    if (path.empty()) return std::nullopt;
    std::string bytes;
    BoundedRead why = BoundedRead::Ok;
    const ProfileLoad load = LoadProfileFile(path, bytes, &why);
    if (load == ProfileLoad::Failed) ReportUnreadable(ui_, path, IsRegistryMode(), why);
    if (load != ProfileLoad::Ok) return std::nullopt;
    auto value = ProfileText(bytes).Get(section, key);
    if (value) *value = Cut(std::move(*value), kMaxValueChars);
    return value;
}

std::string CINIFileSupport::ReadTextOr(const std::string& section, const std::string& key,
                                        std::string defaultText, bool* found) {
    defaultText_ = Cut(defaultText, kMaxDefaultChars);
    auto stored = Lookup(section, key);
    if (found != nullptr) *found = stored.has_value();
    std::string text = stored ? std::move(*stored) : std::move(defaultText);
    valueText_ = Cut(text, kMaxValueChars);
    return text;
}

std::int64_t CINIFileSupport::ReadInteger(const std::string& section, const std::string& key,
                                          std::string defaultText) {
    return ParseLeadingInteger(ReadTextOr(section, key, std::move(defaultText), nullptr));
}

double CINIFileSupport::ReadFloating(const std::string& section, const std::string& key,
                                     std::optional<double> defaultValue, std::string defaultText) {
    bool found = false;
    const std::string text = ReadTextOr(section, key, std::move(defaultText), &found);
    // A missing value gives the caller's default exactly, not its rounded
    // six-decimal text.
    if (!found && defaultValue) return *defaultValue;
    return ParseLeadingFloating(text);
}

// The integer reads: the number keeps the type's low bits.
std::uint8_t CINIFileSupport::ReadUInt8(const std::string& section, const std::string& key) {
    return static_cast<std::uint8_t>(ReadInteger(section, key, "0"));
}
std::uint8_t CINIFileSupport::ReadUInt8(const std::string& section, const std::string& key,
                                        std::uint8_t defaultValue) {
    return static_cast<std::uint8_t>(ReadInteger(section, key, StrPrintf("%d", defaultValue)));
}
std::uint16_t CINIFileSupport::ReadUInt16(const std::string& section, const std::string& key) {
    return static_cast<std::uint16_t>(ReadInteger(section, key, "0"));
}
std::uint16_t CINIFileSupport::ReadUInt16(const std::string& section, const std::string& key,
                                          std::uint16_t defaultValue) {
    return static_cast<std::uint16_t>(ReadInteger(section, key, StrPrintf("%d", defaultValue)));
}
std::uint32_t CINIFileSupport::ReadUInt32(const std::string& section, const std::string& key) {
    return static_cast<std::uint32_t>(ReadInteger(section, key, "0"));
}
std::uint32_t CINIFileSupport::ReadUInt32(const std::string& section, const std::string& key,
                                          std::uint32_t defaultValue) {
    return static_cast<std::uint32_t>(
        ReadInteger(section, key, StrPrintf("%d", static_cast<std::int32_t>(defaultValue))));
}
std::int8_t CINIFileSupport::ReadInt8(const std::string& section, const std::string& key) {
    return static_cast<std::int8_t>(ReadInteger(section, key, "0"));
}
std::int8_t CINIFileSupport::ReadInt8(const std::string& section, const std::string& key,
                                      std::int8_t defaultValue) {
    return static_cast<std::int8_t>(ReadInteger(section, key, StrPrintf("%d", defaultValue)));
}
std::int16_t CINIFileSupport::ReadInt16(const std::string& section, const std::string& key) {
    return static_cast<std::int16_t>(ReadInteger(section, key, "0"));
}
std::int16_t CINIFileSupport::ReadInt16(const std::string& section, const std::string& key,
                                        std::int16_t defaultValue) {
    return static_cast<std::int16_t>(ReadInteger(section, key, StrPrintf("%d", defaultValue)));
}
std::int32_t CINIFileSupport::ReadLong(const std::string& section, const std::string& key) {
    return static_cast<std::int32_t>(ReadInteger(section, key, "0"));
}
std::int32_t CINIFileSupport::ReadLong(const std::string& section, const std::string& key,
                                       std::int32_t defaultValue) {
    return static_cast<std::int32_t>(ReadInteger(section, key, StrPrintf("%ld", static_cast<long>(defaultValue))));
}
std::int32_t CINIFileSupport::ReadInt(const std::string& section, const std::string& key) {
    return static_cast<std::int32_t>(ReadInteger(section, key, "0"));
}
std::int32_t CINIFileSupport::ReadInt(const std::string& section, const std::string& key,
                                      std::int32_t defaultValue) {
    return static_cast<std::int32_t>(ReadInteger(section, key, StrPrintf("%d", defaultValue)));
}

float CINIFileSupport::ReadFloat(const std::string& section, const std::string& key) {
    return static_cast<float>(ReadFloating(section, key, std::nullopt, "0"));
}
float CINIFileSupport::ReadFloat(const std::string& section, const std::string& key, float defaultValue) {
    return static_cast<float>(ReadFloating(section, key, defaultValue, FormatFixed(defaultValue, 6)));
}
double CINIFileSupport::ReadDouble(const std::string& section, const std::string& key) {
    return ReadFloating(section, key, std::nullopt, "0");
}
double CINIFileSupport::ReadDouble(const std::string& section, const std::string& key, double defaultValue) {
    return ReadFloating(section, key, defaultValue, FormatFixed(defaultValue, 6));
}

std::string CINIFileSupport::ReadText(const std::string& section, const std::string& key) {
    ReadTextOr(section, key, "0", nullptr);
    return valueText_;
}
std::string CINIFileSupport::ReadText(const std::string& section, const std::string& key,
                                      const std::string& defaultValue) {
    ReadTextOr(section, key, defaultValue, nullptr);
    return valueText_;
}

int CINIFileSupport::WriteValueText(const std::string& section, const std::string& key, std::string text) {
    bool ok = text.size() <= kMaxValueChars && ProfileText::IsStorableSection(section) &&
              ProfileText::IsStorableKey(key) && ProfileText::IsStorableValue(text);
    valueText_ = Cut(text, kMaxValueChars);
    const std::string& path = FilePath();
    ok = ok && !path.empty();
    if (ok && IsRegistryMode()) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder, error);
    }
    if (ok) {
        std::string bytes;
        // A file that exists but cannot be read is never replaced: its
        // contents would be lost.
        BoundedRead why = BoundedRead::Ok;
        const ProfileLoad load = LoadProfileFile(path, bytes, &why);
        if (load == ProfileLoad::Failed) ReportUnreadable(ui_, path, IsRegistryMode(), why);
        ok = load != ProfileLoad::Failed;
        ProfileText document(bytes);
        ok = ok && document.Set(section, key, text);
        if (ok) {
            const std::string updated = document.Text();
            if (load != ProfileLoad::Ok || updated != bytes) ok = SaveProfileFileAtomically(path, updated);
        }
    }
    lastWriteOk_ = ok;
    if (IsRegistryMode()) return ok ? kRegistryOk : kRegistryWriteFailed;
    return ok ? 1 : 0;
}

int CINIFileSupport::WriteUInt8(const std::string& section, const std::string& key, std::uint8_t value) {
    return WriteValueText(section, key, StrPrintf("%u", static_cast<unsigned>(value)));
}
int CINIFileSupport::WriteUInt16(const std::string& section, const std::string& key, std::uint16_t value) {
    return WriteValueText(section, key, StrPrintf("%u", static_cast<unsigned>(value)));
}
int CINIFileSupport::WriteUInt32(const std::string& section, const std::string& key, std::uint32_t value) {
    return WriteValueText(section, key, StrPrintf("%u", static_cast<unsigned>(value)));
}
int CINIFileSupport::WriteInt8(const std::string& section, const std::string& key, std::int8_t value) {
    return WriteValueText(section, key, StrPrintf("%d", value));
}
int CINIFileSupport::WriteInt16(const std::string& section, const std::string& key, std::int16_t value) {
    return WriteValueText(section, key, StrPrintf("%d", value));
}
int CINIFileSupport::WriteLong(const std::string& section, const std::string& key, std::int32_t value) {
    return WriteValueText(section, key, StrPrintf("%d", value));
}
int CINIFileSupport::WriteInt(const std::string& section, const std::string& key, std::int32_t value) {
    return WriteValueText(section, key, StrPrintf("%d", value));
}
int CINIFileSupport::WriteFloat(const std::string& section, const std::string& key, float value) {
    return WriteValueText(section, key, FormatFixed(value, 6));
}
int CINIFileSupport::WriteFloatExponent(const std::string& section, const std::string& key, float value) {
    return WriteValueText(section, key, FormatExponent(value, 6));
}
int CINIFileSupport::WriteDouble(const std::string& section, const std::string& key, double value) {
    return WriteValueText(section, key, FormatFixed(value, 15));
}
int CINIFileSupport::WriteDoubleExponent(const std::string& section, const std::string& key, double value) {
    return WriteValueText(section, key, FormatExponent(value, 15));
}
int CINIFileSupport::WriteText(const std::string& section, const std::string& key, const std::string& value) {
    return WriteValueText(section, key, value);
}

}  // namespace spindle
