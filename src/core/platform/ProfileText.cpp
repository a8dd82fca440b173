#include "platform/ProfileText.h"

#include "platform/AtomicFile.h"
#include "platform/BoundedFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spindle {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;        // section name or key, trimmed
    std::string_view value;       // value, trimmed (entries only)
    std::size_t valueStart = 0;   // offset in the body where the value begins
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

ParsedLine ParseLine(std::string_view body, bool firstLine) {
    ParsedLine parsed;
    std::size_t start = 0;
    if (firstLine && body.substr(0, kUtf8Bom.size()) == kUtf8Bom) start = kUtf8Bom.size();
    while (start < body.size() && IsBlank(body[start])) ++start;
    const std::string_view rest = body.substr(start);
    if (rest.empty()) {
        parsed.kind = LineKind::Blank;
    } else if (rest.front() == ';') {
        parsed.kind = LineKind::Comment;
    } else if (rest.front() == '[') {
        const std::size_t close = rest.rfind(']');
        if (close != std::string_view::npos) {
            parsed.kind = LineKind::Section;
            parsed.name = Trim(rest.substr(1, close - 1));
        }
    } else if (const std::size_t equals = rest.find('='); equals != std::string_view::npos) {
        parsed.name = Trim(rest.substr(0, equals));
        if (!parsed.name.empty()) {
            parsed.kind = LineKind::Entry;
            std::size_t valueStart = start + equals + 1;
            while (valueStart < body.size() && IsBlank(body[valueStart])) ++valueStart;
            parsed.valueStart = valueStart;
            parsed.value = Trim(body.substr(valueStart));
        }
    }
    return parsed;
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

ProfileText::ProfileText(std::string_view bytes) {
    std::size_t start = 0;
    bool endingChosen = false;
    while (start < bytes.size()) {
        const std::size_t newline = bytes.find('\n', start);
        Line line;
        if (newline == std::string_view::npos) {
            line.body = std::string(bytes.substr(start));
            start = bytes.size();
        } else {
            std::size_t bodyEnd = newline;
            if (bodyEnd > start && bytes[bodyEnd - 1] == '\r') --bodyEnd;
            line.body = std::string(bytes.substr(start, bodyEnd - start));
            line.ending = std::string(bytes.substr(bodyEnd, newline + 1 - bodyEnd));
            start = newline + 1;
            if (!endingChosen) {
                newline_ = line.ending;
                endingChosen = true;
            }
        }
        lines_.push_back(std::move(line));
    }
}

namespace {

// One pair of matching single or double quotation marks around a value.
bool IsQuotedPair(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
}

}  // namespace

std::optional<std::string> ProfileText::Get(std::string_view section, std::string_view key) const {
    section = Trim(section);
    key = Trim(key);
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine parsed = ParseLine(lines_[i].body, i == 0);
        if (parsed.kind == LineKind::Section) {
            inSection = EqualNoCase(parsed.name, section);
        } else if (inSection && parsed.kind == LineKind::Entry && EqualNoCase(parsed.name, key)) {
            // A value in matching quotes reads without them, as the
            // platform's profile reader reads it.
            std::string_view value = parsed.value;
            if (IsQuotedPair(value)) value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
    }
    return std::nullopt;
}

bool ProfileText::Set(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (!IsStorableSection(section) || !IsStorableKey(key) || !IsStorableValue(value)) return false;
    // A value that itself starts and ends with the same quotation mark gets
    // one more pair, so it reads back as written.
    std::string stored(value);
    if (IsQuotedPair(value)) stored = "\"" + stored + "\"";
    value = stored;

    // In place: keep everything of the line up to where the old value began.
    bool inSection = false;
    std::size_t insertAfter = lines_.size();  // last header or entry of the first matching section
    bool sectionFound = false;
    bool firstSectionDone = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine parsed = ParseLine(lines_[i].body, i == 0);
        if (parsed.kind == LineKind::Section) {
            if (inSection) firstSectionDone = true;
            inSection = EqualNoCase(parsed.name, section);
            if (inSection && !sectionFound) {
                sectionFound = true;
                insertAfter = i;
            }
        } else if (inSection && parsed.kind == LineKind::Entry) {
            if (EqualNoCase(parsed.name, key)) {
                Line& line = lines_[i];
                line.body = line.body.substr(0, parsed.valueStart) + std::string(value);
                return true;
            }
            if (!firstSectionDone) insertAfter = i;
        }
    }

    const std::string entry = std::string(key) + "=" + std::string(value);
    if (sectionFound) {
        if (lines_[insertAfter].ending.empty()) lines_[insertAfter].ending = newline_;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1, Line{entry, newline_});
        return true;
    }

    if (!lines_.empty()) {
        if (lines_.back().ending.empty()) lines_.back().ending = newline_;
        if (ParseLine(lines_.back().body, lines_.size() == 1).kind != LineKind::Blank) {
            lines_.push_back(Line{"", newline_});
        }
    }
    lines_.push_back(Line{"[" + std::string(section) + "]", newline_});
    lines_.push_back(Line{entry, newline_});
    return true;
}

std::string ProfileText::Text() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.body;
        text += line.ending;
    }
    return text;
}

bool ProfileText::IsStorableSection(std::string_view section) {
    section = Trim(section);
    return !section.empty() && !HasLineBreakOrNul(section) && section.find(']') == std::string_view::npos;
}

bool ProfileText::IsStorableKey(std::string_view key) {
    key = Trim(key);
    return !key.empty() && !HasLineBreakOrNul(key) && key.find('=') == std::string_view::npos &&
           key.front() != ';' && key.front() != '[';
}

bool ProfileText::IsStorableValue(std::string_view value) { return !HasLineBreakOrNul(value); }

ProfileLoad LoadProfileFile(const std::string& path, std::string& bytes, BoundedRead* why) {
    const BoundedRead read = ReadFileBounded(path, kMaxProfileFileBytes, bytes);
    if (why != nullptr) *why = read;
    switch (read) {
        case BoundedRead::Ok: return ProfileLoad::Ok;
        case BoundedRead::Missing: return ProfileLoad::Missing;
        case BoundedRead::Failed:
        case BoundedRead::NotAFile:
        case BoundedRead::TooLarge: break;
    }
    return ProfileLoad::Failed;
}

bool SaveProfileFileAtomically(const std::string& path, const std::string& bytes) {
    return ReplaceFileAtomically(path, bytes).Succeeded();
}

void SetProfileWriteFaultForTesting(std::function<bool(const std::string& path)> fault) {
    SetAtomicWriteFaultForTesting(std::move(fault));
}

}  // namespace spindle
