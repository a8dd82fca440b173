#include "tools/CondorPsocPage.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Format.h"

namespace spindle {

std::uint8_t CCondorPsocPage::RegisterOf(int quantity) {
    static constexpr std::uint8_t codes[] = {0x02, 0x01, 0x04, 0x08, 0x40, 0x20};
    return quantity >= 0 && quantity < 6 ? codes[quantity] : 0x02;
}

std::string CCondorPsocPage::CelsiusText(float celsius) { return StrPrintf("%.*g", 6, static_cast<double>(celsius)); }

bool CCondorPsocPage::Read(std::uint8_t code) {
    reply_[0] = code;
    CSpecProtocol protocol(platform_);
    if (protocol.ReadPsocRegister(handle_, reply_)) return true;
    StopPollingAfterFailure();
    return false;
}

void CCondorPsocPage::Store(int quantity) {
    switch (quantity) {
        case kTemperature: temperature = static_cast<float>(Value()) / 10.0f; break;
        case kSetpointC: setpointCelsius = static_cast<float>(Value()) / 10.0f; break;
        case kAdcCounts: adcResult = StrPrintf("%#hX", static_cast<unsigned short>(Value())); break;
        case kSetpointCounts: setpointCounts = StrPrintf("%#hX", static_cast<unsigned short>(Value())); break;
        case kPidControl: pidControlValue = StrPrintf("%#hX", static_cast<unsigned short>(Value())); break;
        case kSystemStatus: {
            const auto bits = static_cast<std::uint16_t>(Value());
            tecOverCurrent = (bits & 0x40) != 0;
            fanFail = (bits & 0x08) != 0;
            railLow = (bits & 0x02) != 0;
            railHigh = (bits & 0x01) != 0;
            break;
        }
        default: break;
    }
}

bool CCondorPsocPage::ReadQuantity(int quantity) {
    // A failed read leaves the reply buffer as the request filled it: nothing
    // the device said, so the quantity shows as not read instead.
    const bool read = Read(RegisterOf(quantity));
    if (read) Store(quantity);
    if (quantity >= 0 && quantity < 6) read_[quantity] = read;
    return read;
}

std::string CCondorPsocPage::ValueText(int quantity) const {
    if (!IsRead(quantity)) return kNotRead;
    switch (quantity) {
        case kTemperature: return CelsiusText(temperature);
        case kAdcCounts: return adcResult;
        case kSetpointCounts: return setpointCounts;
        case kPidControl: return pidControlValue;
        case kSetpointC: return CelsiusText(setpointCelsius);
        default: return kNotRead;
    }
}

bool CCondorPsocPage::ReadFirmware() {
    // The version register is read twice; the second answer counts.
    std::string version;
    if (!CSpecProtocol(platform_).ReadCondorPsocVersion(handle_, version)) {
        StopPollingAfterFailure();
        return false;
    }
    firmwareText = StrPrintf("Firmware Version %s \r\n PSOC PID control and Information.", version.c_str());
    return true;
}

bool CCondorPsocPage::WriteSetpoint(double celsius) {
    const auto tenths = static_cast<std::int16_t>(static_cast<int>(celsius * 10));
    CSpecProtocol protocol(platform_);
    if (protocol.WritePsocRegister(handle_, kSetpointRegister, static_cast<std::uint16_t>(tenths))) return true;
    StopPollingAfterFailure();
    return false;
}

void CCondorPsocPage::OnInitDialog() {
    pollTimerId = 0;
    if (!ReadFirmware()) return;
    selectedQuantity = kTemperature;
    spinLower = -20;
    spinUpper = 25;
    spinPosition = -7;
    setpointText = StrPrintf("%2.2f", -10.0);
    tecState = 0;
    if (!Read(RegisterOf(kTemperature))) return;
    Store(kTemperature);
    read_[kTemperature] = true;
    pollCounter = 0;
    pollDivisor = kPollDivisor;
    StartPollTimer();
}

void CCondorPsocPage::OnTimer(int timerId) {
    if (timerId != kPollTimerId || !PollTimerRunning()) return;
    ++pollCounter;
    if (pollCounter % pollDivisor != 1) return;
    ReadQuantity(selectedQuantity);
    pollDivisor = kPollDivisor;
}

void CCondorPsocPage::OnTecClicked() {
    tecState = tecState == 0 ? 1 : 0;
    CSpecProtocol protocol(platform_);
    if (!protocol.WritePsocRegister(handle_, kTecEnableRegister, static_cast<std::uint16_t>(tecState))) {
        StopPollingAfterFailure();
    }
}

void CCondorPsocPage::OnSpinDelta(int positionBeforeStep, int delta) {
    setpointText = StrPrintf("%2.2f", static_cast<double>(positionBeforeStep));
    WriteSetpoint(std::strtod(setpointText.c_str(), nullptr));
    pollCounter = 1;
    spinPosition = std::clamp(positionBeforeStep + delta, spinLower, spinUpper);
}

}  // namespace spindle
