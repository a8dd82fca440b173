#include "tools/LanternCalibrationDlg.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "device/ScopedDevice.h"
#include "platform/Clock.h"
#include "platform/Format.h"
#include "platform/INIFileSupport.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

// A whole decimal number in the text, with blanks around it allowed.
bool ParseNumber(const std::string& text, double& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(value)) return false;
    while (*end == ' ' || *end == '\t') ++end;
    return *end == '\0';
}

bool ParseCount(const std::string& text, long long lowest, long long highest, long long& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return false;
    while (*end == ' ' || *end == '\t') ++end;
    return *end == '\0' && value >= lowest && value <= highest;
}

}  // namespace

CLanternCalDlg::CLanternCalDlg(Platform& platform, std::uint32_t deviceIndex, const void* application)
    : platform_(platform), deviceIndex_(deviceIndex), application_(application) {}

CLanternCalDlg::~CLanternCalDlg() {
    CINIFileSupport store(platform_.ui, nullptr, 1, application_);
    store.WriteInt(kSection, "Temperature", mode);
    store.WriteDouble(kSection, "LowValue", low);
    store.WriteDouble(kSection, "HighValue", high);
    store.WriteUInt16(kSection, "DAValue", da);
    store.WriteUInt16(kSection, "Averages", averages);
}

void CLanternCalDlg::ShowFields() {
    lowText = StrPrintf("%f", low);
    highText = StrPrintf("%f", high);
    daText = StrPrintf("%u", static_cast<unsigned>(da));
    averagesText = StrPrintf("%d", static_cast<int>(averages));
}

void CLanternCalDlg::OnInitDialog() {
    CINIFileSupport store(platform_.ui, nullptr, 1, application_);
    mode = store.ReadInt(kSection, "Temperature", 1);
    low = store.ReadDouble(kSection, "LowValue", 0.0);
    high = store.ReadDouble(kSection, "HighValue", 100.0);
    da = store.ReadUInt16(kSection, "DAValue", 32000);
    averages = store.ReadUInt16(kSection, "Averages", 25);
    resistanceSlope = store.ReadDouble(kSection, "ResistanceCalibrationSlope", kDefaultResistanceSlope);
    resistanceIntercept = store.ReadDouble(kSection, "ResistanceCalibrationIntercept", kDefaultResistanceIntercept);
    if (mode != 1) mode = 0;
    unitLabel = mode == 1 ? "\u00B0C" : "Ohms";
    ShowFields();
    slope = std::strtod(slopeText.c_str(), nullptr);
    intercept = std::strtod(interceptText.c_str(), nullptr);
}

std::string CLanternCalDlg::TakeFields() {
    double lowValue = 0, highValue = 0, slopeValue = 0, interceptValue = 0;
    long long daValue = 0, averagesValue = 0;
    if (!ParseNumber(lowText, lowValue)) return "\"Low Value\" must be a number.";
    if (!ParseNumber(highText, highValue)) return "\"High Value\" must be a number.";
    if (!ParseCount(daText, 0, 65535, daValue)) return "\"D/A Value\" must be a whole number from 0 to 65535.";
    // No average can be taken of no readings.
    if (!ParseCount(averagesText, 1, 65535, averagesValue)) {
        return "\"Averages\" must be a whole number from 1 to 65535.";
    }
    if (!slopeText.empty() && !ParseNumber(slopeText, slopeValue)) return "\"Slope\" must be a number.";
    if (!interceptText.empty() && !ParseNumber(interceptText, interceptValue)) return "\"Intercept\" must be a number.";
    low = lowValue;
    high = highValue;
    da = static_cast<std::uint16_t>(daValue);
    averages = static_cast<std::uint16_t>(averagesValue);
    slope = slopeValue;
    intercept = interceptValue;
    return {};
}

void CLanternCalDlg::OnTemperatureMode() {
    TakeFields();
    mode = 1;
    unitLabel = "\u00B0C";
    ShowFields();
}

void CLanternCalDlg::OnResistanceMode() {
    TakeFields();
    mode = 0;
    unitLabel = "Ohms";
    ShowFields();
}

void CLanternCalDlg::Progress(int position) {
    progressPosition = position;
    if (onProgress) onProgress();
}

bool CLanternCalDlg::ComputeLine(double& slopeOut, double& interceptOut, std::string& why) const {
    const double lowCelsius = mode == 1 ? low : low * resistanceSlope + resistanceIntercept;
    const double highCelsius = mode == 1 ? high : high * resistanceSlope + resistanceIntercept;
    if (highCounts == lowCounts) {
        why = StrPrintf("The low and high readings are both %u counts, so no line can be drawn through them. "
                        "Store each side again with the sensor at its reference.",
                        highCounts);
        return false;
    }
    slopeOut = (highCelsius - lowCelsius) / (static_cast<double>(highCounts) - static_cast<double>(lowCounts));
    interceptOut = highCelsius - slopeOut * highCounts;
    return true;
}

std::string CLanternCalDlg::Store(bool highSide) {
    if (std::string why = TakeFields(); !why.empty()) return why;
    progressMaximum = averages - 1;
    Progress(0);
    {
        ScopedDevice device(platform_, static_cast<int>(deviceIndex_));
        CSpecProtocol protocol(platform_);
        // 0 is never a valid reading: it is what a failed transfer, or a
        // sensor that stayed busy, gives. Averaging it in would store a
        // calibration line through a reading that never happened.
        int failed = protocol.ReadAccessoryTemperature(device.Handle()) == 0 ? 1 : 0;  // the first is discarded
        if (highSide) platform_.clock.Sleep(kReadingPauseMs);
        float sum = 0.0f;
        for (int i = 0; i < averages && failed == 0; ++i) {
            const std::uint32_t reading = protocol.ReadAccessoryTemperature(device.Handle());
            if (reading == 0) failed = i + 2;
            sum += static_cast<float>(reading);
            platform_.clock.Sleep(kReadingPauseMs);
            Progress(i);
        }
        if (failed != 0) {
            Progress(0);
            return StrPrintf("Reading %d of the Lantern's temperature failed (no answer, or no valid reading), so "
                             "nothing was stored for the %s side. Check the Lantern and store it again.",
                             failed, highSide ? "high" : "low");
        }
        const auto counts = static_cast<std::uint32_t>(sum / static_cast<float>(averages));
        (highSide ? highCounts : lowCounts) = counts;
        (highSide ? highStored : lowStored) = true;
        ShowFields();
    }
    std::string why;
    if (lowStored && highStored) {
        double newSlope = 0, newIntercept = 0;
        if (ComputeLine(newSlope, newIntercept, why)) {
            const std::string question = StrPrintf(
                "Calibration Complete\n********************\nSlope %0.8e\nIntercept %0.8e\n\nWould you like to save "
                "these values?",
                newSlope, newIntercept);
            if (platform_.ui.MessageBox(question, "Calibration Complete", mb::kYesNo) == mb::kIdYes) {
                slope = newSlope;
                intercept = newIntercept;
                slopeText = StrPrintf("%0.8e", slope);
                interceptText = StrPrintf("%0.8e", intercept);
                accepted = true;
                ShowFields();
            }
        }
    }
    Progress(0);
    return why;
}

std::string CLanternCalDlg::OnGetTemperature() {
    if (std::string why = TakeFields(); !why.empty()) return why;
    progressMaximum = averages - 1;
    Progress(0);
    ScopedDevice device(platform_, static_cast<int>(deviceIndex_));
    CSpecProtocol protocol(platform_);
    float stored = 0.0f;
    protocol.AverageAccessoryTemperature(device.Handle(), 2, stored);  // the Lantern's own line; not used
    float sum = 0.0f;
    for (int i = 0; i < averages; ++i) {
        const std::uint32_t reading = protocol.ReadAccessoryTemperature(device.Handle());
        if (reading == 0) {
            Progress(0);
            return StrPrintf("Reading %d of the Lantern's temperature failed (no answer, or no valid reading), so "
                             "no temperature can be given.", i + 1);
        }
        sum += static_cast<float>(reading);
        Progress(i);
        platform_.clock.Sleep(kReadingPauseMs);
    }
    const double celsius = slope * (sum / static_cast<float>(averages)) + intercept;
    statusText = StrPrintf("%.2f \u00B0C", celsius);
    Progress(0);
    return {};
}

namespace {

std::string NotSent(bool sent, const char* what) {
    return sent ? std::string() : StrPrintf("The Lantern did not take the %s.", what);
}

}  // namespace

std::string CLanternCalDlg::OnLightOn() {
    TakeFields();
    ScopedDevice device(platform_, static_cast<int>(deviceIndex_));
    return NotSent(CSpecProtocol(platform_).SetLightOn(device.Handle(), lightOn ? 1 : 0),
                   lightOn ? "command to switch its light on" : "command to switch its light off");
}

std::string CLanternCalDlg::OnLightPulsed() {
    TakeFields();
    ScopedDevice device(platform_, static_cast<int>(deviceIndex_));
    return NotSent(CSpecProtocol(platform_).SetLightPulsed(device.Handle(), lightPulsed ? 1 : 0),
                   lightPulsed ? "command to pulse its light" : "command to light steadily");
}

std::string CLanternCalDlg::OnSetDa() {
    if (std::string why = TakeFields(); !why.empty()) return why;
    ScopedDevice device(platform_, static_cast<int>(deviceIndex_));
    return NotSent(CSpecProtocol(platform_).SetLightDac(device.Handle(), da), "new D/A value");
}

std::string CLanternCalDlg::OnOK() {
    if (std::string why = TakeFields(); !why.empty()) return why;
    if (!accepted) return {};
    if (platform_.ui.MessageBox("Would you like to store the calibration values to the device?", "Store Calibration",
                                mb::kYesNo) != mb::kIdYes) {
        return {};
    }
    platform_.ui.SetWaitCursor(true);
    bool stored = false;
    {
        ScopedDevice device(platform_, static_cast<int>(deviceIndex_));
        CSpecProtocol protocol(platform_);
        // Each step only after the one before it worked: a commit after a
        // failed write would keep half a calibration.
        stored = protocol.WriteAccessorySlot(device.Handle(), 1, MakeSlotWriteValue(StrPrintf("%.6e", slope))) &&
                 protocol.WriteAccessorySlot(device.Handle(), 2, MakeSlotWriteValue(StrPrintf("%.6e", intercept))) &&
                 protocol.CommitAccessorySlots(device.Handle());
    }
    platform_.ui.SetWaitCursor(false);
    if (!stored) {
        return "The calibration could not be stored: the Lantern did not take it. Check the Lantern and press OK "
               "again, or Cancel.";
    }
    return {};
}

}  // namespace spindle
