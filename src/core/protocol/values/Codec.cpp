#include "protocol/values/Codec.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/Format.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The text without the blanks around it.
std::string Trimmed(const std::string& text) {
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && IsBlank(text[start])) ++start;
    while (end > start && IsBlank(text[end - 1])) --end;
    return text.substr(start, end - start);
}

}  // namespace

bool ParseWholeInteger(const std::string& text, long long& value) {
    const std::string number = Trimmed(text);
    if (number.empty()) return false;
    std::size_t at = (number[0] == '+' || number[0] == '-') ? 1 : 0;
    if (at == number.size()) return false;
    for (std::size_t i = at; i < number.size(); ++i) {
        if (number[i] < '0' || number[i] > '9') return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(number.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

bool ParseWholeReal(const std::string& text, double& value) {
    const std::string number = Trimmed(text);
    if (number.empty()) return false;
    // strtod also reads hexadecimal numbers, "inf" and "nan": none of them
    // is a calibration value anyone types on purpose.
    for (char c : number) {
        const bool allowed = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
        if (!allowed) return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtod(number.c_str(), &end);
    if (end == nullptr || *end != '\0' || end == number.c_str()) return false;
    return errno != ERANGE && std::isfinite(value);
}

bool IsStorableCoefficient(double value) {
    return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max();
}

bool IsStorableCoefficientText(const std::string& text, double value) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("inf") == std::string::npos && lower.find("nan") == std::string::npos &&
           IsStorableCoefficient(value);
}

std::string RowInputProblem(const RowRule& rule, const std::string& text) {
    switch (rule.input) {
        case RowInput::ShownOnly:
            return "This value is only shown; Save All Values does not write it.";
        case RowInput::Text:
            if (text.size() > rule.maxLength) {
                return StrPrintf("\"%s\" is too long: the device keeps at most %zu characters here.", text.c_str(),
                                 rule.maxLength);
            }
            return {};
        case RowInput::Integer: {
            long long value = 0;
            if (!ParseWholeInteger(text, value)) {
                return StrPrintf("\"%s\" is not a whole number.", text.c_str());
            }
            if (value < rule.minimum || value > rule.maximum) {
                return StrPrintf("%lld is out of range: the device keeps a whole number from %lld to %lld here.",
                                 value, rule.minimum, rule.maximum);
            }
            return {};
        }
        case RowInput::Real: {
            double value = 0.0;
            if (!ParseWholeReal(text, value)) {
                return StrPrintf("\"%s\" is not a number (write it as 1.25, -3e-05 or 2.5E+02).", text.c_str());
            }
            if (!IsStorableCoefficient(value)) {
                return StrPrintf("\"%s\" is not a coefficient the instrument can keep (at most %g either side of 0).",
                                 text.c_str(), static_cast<double>(std::numeric_limits<float>::max()));
            }
            if (rule.writeFormat != nullptr) {
                const std::string stored = StrPrintf(rule.writeFormat, value);
                if (stored.size() > 15) {
                    return StrPrintf("\"%s\" is too large for the device: stored as \"%s\" it takes %zu of the "
                                     "15 characters it keeps.",
                                     text.c_str(), stored.c_str(), stored.size());
                }
            }
            return {};
        }
    }
    return {};
}

namespace {

// The slot's text: its bytes up to the first zero.
std::string TextOf(const RawSlot& bytes) {
    return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0}));
}

RawSlot BytesOf(const std::string& text) {
    RawSlot bytes{};
    std::copy_n(text.begin(), std::min(text.size(), bytes.size()), bytes.begin());
    return bytes;
}

long long IntegerOf(const RowRule& rule, const std::string& text) {
    const int value = std::atoi(text.c_str());
    return rule.maximum == 255 ? static_cast<std::uint8_t>(value) : value;
}

}  // namespace

std::string ShowSlot(const RowRule& rule, const RawSlot& bytes, CAutoNullingInfo* autoNulling) {
    switch (rule.codec) {
        case SlotCodec::None: return {};
        case SlotCodec::Text: return TextOf(bytes);
        case SlotCodec::Real: return StrPrintf(rule.showFormat, std::atof(TextOf(bytes).c_str()));
        case SlotCodec::Integer: return StrPrintf("%lld", IntegerOf(rule, TextOf(bytes)));
        case SlotCodec::AutoNulling: {
            CAutoNullingInfo info;
            info.Decode(bytes.data());
            if (autoNulling != nullptr) *autoNulling = info;
            return info.DisplayText();
        }
        case SlotCodec::Baud: return StrPrintf("%d", static_cast<std::int16_t>(bytes[0] | (bytes[1] << 8)));
    }
    return {};
}

RawSlot EncodeSlot(const RowRule& rule, const std::string& text, const RawSlot& asRead,
                   const CAutoNullingInfo& autoNulling) {
    RawSlot bytes = asRead;
    switch (rule.codec) {
        case SlotCodec::None: break;
        case SlotCodec::Text: return BytesOf(text);
        case SlotCodec::Real: return BytesOf(StrPrintf(rule.writeFormat, std::strtod(text.c_str(), nullptr)));
        case SlotCodec::Integer: return BytesOf(StrPrintf("%lld", IntegerOf(rule, text)));
        case SlotCodec::AutoNulling: autoNulling.Encode(bytes.data()); break;
        case SlotCodec::Baud: {
            const auto baud = static_cast<std::uint16_t>(std::atoi(text.c_str()));
            bytes[0] = static_cast<std::uint8_t>(baud & 0xFF);
            bytes[1] = static_cast<std::uint8_t>(baud >> 8);
            break;
        }
    }
    return bytes;
}

RawSlot EncodeAsRead(const RowRule& rule, const RawSlot& asRead) {
    switch (rule.codec) {
        case SlotCodec::Text: return BytesOf(TextOf(asRead));
        case SlotCodec::Real: return BytesOf(StrPrintf(rule.writeFormat, std::atof(TextOf(asRead).c_str())));
        case SlotCodec::Integer: return BytesOf(StrPrintf("%lld", IntegerOf(rule, TextOf(asRead))));
        default: return asRead;
    }
}

std::string ParseAutoNullingText(const std::string& text, CAutoNullingInfo& info) {
    std::string parts[4];
    std::size_t start = 0;
    int count = 0;
    for (; count < 5; ++count) {
        const std::size_t comma = text.find(',', start);
        if (count < 4) parts[count] = text.substr(start, comma == std::string::npos ? comma : comma - start);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    auto isSwitch = [](const std::string& part) { return part == "Enabled" || part == "Disabled"; };
    auto isDecimal = [](const std::string& part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (count != 3 || !isSwitch(parts[0]) || !isSwitch(parts[1]) || !isDecimal(parts[2]) || !isDecimal(parts[3])) {
        return StrPrintf("it takes Enabled|Disabled,Enabled|Disabled,DARK,SATURATION "
                         "(for example Enabled,Disabled,1200,60000), not \"%s\"", text.c_str());
    }
    const RowRule sixteenBits = RowRule::IntegerOf(17, 0, 65535);
    if (std::string problem = RowInputProblem(sixteenBits, parts[2]); !problem.empty()) {
        return "Dark Value @ 25\xC2\xB0" "C: " + problem;
    }
    if (std::string problem = RowInputProblem(sixteenBits, parts[3]); !problem.empty()) {
        return "Saturation Value: " + problem;
    }
    info.autoNullingMode = parts[0] == "Enabled" ? CAutoNullingInfo::kModeEnabled : 0;
    info.temperatureCompensation = parts[1] == "Enabled" ? CAutoNullingInfo::kCompensationEnabled : 0;
    info.darkValue = static_cast<std::uint16_t>(std::atoi(parts[2].c_str()));
    info.saturationValue = static_cast<std::uint16_t>(std::atoi(parts[3].c_str()));
    return {};
}

}  // namespace spindle
