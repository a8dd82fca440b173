#include "protocol/RowRule.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/Format.h"

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

}  // namespace spindle
