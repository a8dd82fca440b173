#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/BoundedFile.h"

namespace spindle {

// The text of a private-profile ("INI") file, held line by line so that a
// change touches only the line it must and keeps every other byte as it was
// (comments, blank lines, order, line endings, the spelling of other keys).
//
// Reading rules, the ones people editing these files by hand rely on:
// - "[name]" lines open a section; "key=value" lines belong to the section
//   above them; lines before the first section are not in any section;
// - section names and keys match without regard to ASCII case;
// - blanks around the section name, the key and the value are ignored;
// - lines whose first non-blank character is ';' are comments;
// - the first matching key wins (sections of the same name are searched in
//   file order).
class ProfileText {
public:
    ProfileText() = default;
    explicit ProfileText(std::string_view bytes);

    // The value of the key in the section, or nothing when there is none.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Sets the key's value: in place when the key exists, else as a new line
    // at the end of the section, else as a new section at the end of the text.
    // Returns false (and changes nothing) when the section, key or value could
    // not be read back as written (see IsStorable*).
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // The whole text, ready to be written to the file.
    std::string Text() const;

    // What can be stored so that it reads back unchanged: a section name
    // without line breaks or ']'; a key without line breaks or '=' that does
    // not start with ';' or '['; a value without line breaks. Section names
    // and keys must not be empty. NUL characters are refused everywhere.
    static bool IsStorableSection(std::string_view section);
    static bool IsStorableKey(std::string_view key);
    static bool IsStorableValue(std::string_view value);

private:
    struct Line {
        std::string body;    // without its line ending
        std::string ending;  // "\n", "\r\n" or "" for a last line without one
    };
    std::vector<Line> lines_;
    std::string newline_ = "\n";  // the ending new lines get (the file's own)
};

// Reading and writing whole profile files.
enum class ProfileLoad { Ok, Missing, Failed };

// Reads the file's bytes. Missing when there is no such file (or no such
// folder); Failed when it exists but cannot be read. `why`, when given,
// gets the read's own result, for a message that says why.
ProfileLoad LoadProfileFile(const std::string& path, std::string& bytes, BoundedRead* why = nullptr);

// Replaces the file's contents without ever leaving it half written
// (ReplaceFileAtomically: a symbolic link is followed, a read-only file is
// refused). False, with the old file as it was, on any failure.
bool SaveProfileFileAtomically(const std::string& path, const std::string& bytes);

// Test hook: SetAtomicWriteFaultForTesting.
void SetProfileWriteFaultForTesting(std::function<bool(const std::string& path)> fault);

}  // namespace spindle
