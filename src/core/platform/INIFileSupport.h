#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace spindle {

class IUserInterface;

// The file that holds the program's own settings (the "registry" of this
// build): $SPINDLE_CONFIG_DIR/Spindle.ini when that variable is set, else
// $XDG_CONFIG_HOME/Lumora Software/Spindle.ini, else
// ~/.config/Lumora Software/Spindle.ini. Empty when no folder can be found.
std::string SettingsFilePath();

// Typed reads and writes of named values, grouped in sections, every value
// kept as text. Two modes:
// - registry mode (useRegistry 1): the program's own settings, kept in the
//   settings file above under the same section and value names the Windows
//   registry key "Software\Lumora Software\Spindle\<section>" used;
// - file mode (useRegistry 0): a private-profile file the operator chose,
//   such as a calibration or coefficient file.
// Nothing is cached: every read reads the file and every write rewrites it
// (atomically, keeping all other lines). Made for one task and destroyed.
class CINIFileSupport {
public:
    // Limits of the texts the store handles.
    static constexpr std::size_t kMaxFileNameChars = 249;  // file mode
    static constexpr std::size_t kMaxValueChars = 255;     // any value read or written
    static constexpr std::size_t kMaxDefaultChars = 257;   // text form of a default

    // Registry-mode Write results (file-mode writes return 1 on success, 0 on failure).
    static constexpr int kRegistryOk = 0;
    static constexpr int kRegistryWriteFailed = 1;

    // fileName: the file for file mode, or nullptr. useRegistry: 1 registry
    // mode, 0 file mode. application: the application object, required in
    // registry mode but only checked for presence. Wrong combinations show a
    // warning box through ui; the store is made anyway.
    CINIFileSupport(IUserInterface& ui, const char* fileName, int useRegistry, const void* application);
    ~CINIFileSupport() = default;
    CINIFileSupport(const CINIFileSupport&) = delete;
    CINIFileSupport& operator=(const CINIFileSupport&) = delete;

    // Reads; the one-argument forms give 0, 0.0 or the text "0" when the
    // value is missing. Integer texts: optional blanks, sign, decimal digits,
    // up to the first other character; the number keeps the type's low bits.
    // Floating texts: a decimal number with optional exponent, 0.0 without one.
    std::uint8_t ReadUInt8(const std::string& section, const std::string& key);
    std::uint8_t ReadUInt8(const std::string& section, const std::string& key, std::uint8_t defaultValue);
    std::uint16_t ReadUInt16(const std::string& section, const std::string& key);
    std::uint16_t ReadUInt16(const std::string& section, const std::string& key, std::uint16_t defaultValue);
    std::uint32_t ReadUInt32(const std::string& section, const std::string& key);
    std::uint32_t ReadUInt32(const std::string& section, const std::string& key, std::uint32_t defaultValue);
    std::int8_t ReadInt8(const std::string& section, const std::string& key);
    std::int8_t ReadInt8(const std::string& section, const std::string& key, std::int8_t defaultValue);
    std::int16_t ReadInt16(const std::string& section, const std::string& key);
    std::int16_t ReadInt16(const std::string& section, const std::string& key, std::int16_t defaultValue);
    std::int32_t ReadLong(const std::string& section, const std::string& key);
    std::int32_t ReadLong(const std::string& section, const std::string& key, std::int32_t defaultValue);
    std::int32_t ReadInt(const std::string& section, const std::string& key);
    std::int32_t ReadInt(const std::string& section, const std::string& key, std::int32_t defaultValue);
    float ReadFloat(const std::string& section, const std::string& key);
    float ReadFloat(const std::string& section, const std::string& key, float defaultValue);
    double ReadDouble(const std::string& section, const std::string& key);
    double ReadDouble(const std::string& section, const std::string& key, double defaultValue);
    // Text reads give at most kMaxValueChars characters.
    std::string ReadText(const std::string& section, const std::string& key);
    std::string ReadText(const std::string& section, const std::string& key, const std::string& defaultValue);

    // Writes. The result is that of the mode: file mode 1 on success and 0 on
    // failure; registry mode kRegistryOk (0) on success, else
    // kRegistryWriteFailed. A value whose text would be longer than
    // kMaxValueChars, or that holds a line break, is refused (failure, the
    // file is not touched). LastWriteSucceeded() tells either mode's outcome.
    int WriteUInt8(const std::string& section, const std::string& key, std::uint8_t value);
    int WriteUInt16(const std::string& section, const std::string& key, std::uint16_t value);
    int WriteUInt32(const std::string& section, const std::string& key, std::uint32_t value);
    int WriteInt8(const std::string& section, const std::string& key, std::int8_t value);
    int WriteInt16(const std::string& section, const std::string& key, std::int16_t value);
    int WriteLong(const std::string& section, const std::string& key, std::int32_t value);
    int WriteInt(const std::string& section, const std::string& key, std::int32_t value);
    int WriteFloat(const std::string& section, const std::string& key, float value);
    int WriteFloatExponent(const std::string& section, const std::string& key, float value);
    int WriteDouble(const std::string& section, const std::string& key, double value);
    int WriteDoubleExponent(const std::string& section, const std::string& key, double value);
    int WriteText(const std::string& section, const std::string& key, const std::string& value);

    bool IsRegistryMode() const { return useRegistry_ != 0; }
    // The file this store reads and writes (the settings file in registry
    // mode); empty when it has none.
    const std::string& FilePath() const { return IsRegistryMode() ? registryPath_ : fileName_; }
    // The text of the last value read or written, and of the last default.
    const std::string& ValueText() const { return valueText_; }
    const std::string& DefaultText() const { return defaultText_; }
    bool LastWriteSucceeded() const { return lastWriteOk_; }

private:
    // The stored text of the value (cut to kMaxValueChars), if there is one.
    std::optional<std::string> Lookup(const std::string& section, const std::string& key) const;
    // The stored text, else the default text; keeps both in the members.
    std::string ReadTextOr(const std::string& section, const std::string& key, std::string defaultText,
                           bool* found);
    std::int64_t ReadInteger(const std::string& section, const std::string& key, std::string defaultText);
    double ReadFloating(const std::string& section, const std::string& key, std::optional<double> defaultValue,
                        std::string defaultText);
    int WriteValueText(const std::string& section, const std::string& key, std::string text);

    std::string fileName_;
    std::string valueText_;
    std::string defaultText_;
    std::string registryPath_;
    int useRegistry_ = 0;
    const void* application_ = nullptr;
    IUserInterface* ui_ = nullptr;
    bool lastWriteOk_ = false;
};

// A settings file (or chosen profile file) that exists but cannot be read is
// never written over: its values would be lost. The first time a process
// meets such a file it says so in a warning box; these tell whether it did.
bool AnyUnreadableSettingsFile();
void ForgetUnreadableSettingsFilesForTesting();

// Number texts as the store reads them, for others that parse the same way.
std::int64_t ParseLeadingInteger(const std::string& text);
double ParseLeadingFloating(const std::string& text);

// printf "%f" / "%.Nf" and "%.Ne" forms, independent of the process locale;
// the exponent has at least three digits ("2.500000000000000e+000").
std::string FormatFixed(double value, int precision);
std::string FormatExponent(double value, int precision);

}  // namespace spindle
