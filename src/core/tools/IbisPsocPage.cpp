#include "tools/IbisPsocPage.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "platform/Format.h"

namespace spindle {

namespace {

// "%#x" of a 16-bit value sign-extended to 32 bits.
std::string SignExtendedHex(std::uint16_t value) {
    return StrPrintf("%#x", static_cast<unsigned>(static_cast<int>(static_cast<std::int16_t>(value))));
}

std::string Tenths(std::uint16_t value) {
    return StrPrintf("%.2f", static_cast<double>(static_cast<std::int16_t>(value)) / 10.0);
}

}  // namespace

bool CIbisPsocPage::Control(int selector, std::uint16_t value) {
    CSpecProtocol protocol(platform_);
    if (protocol.SetTecControl(handle_, selector, value)) return true;
    StopPollingAfterFailure();
    return false;
}

bool CIbisPsocPage::ReadStatus() {
    CSpecProtocol protocol(platform_);
    if (!protocol.ReadTecStatus(handle_, status_)) {
        StopPollingAfterFailure();
        return false;
    }
    systemStatus = SignExtendedHex(status_[0]);
    currentTemperature = Tenths(status_[2]);
    pidError = StrPrintf("%d", static_cast<int>(static_cast<std::int16_t>(status_[3])));
    currentSetpoint = Tenths(status_[4]);
    pidControlValue = StrPrintf("%d", static_cast<int>(static_cast<std::int16_t>(status_[5])));
    version = SignExtendedHex(status_[6]);
    return true;
}

void CIbisPsocPage::Play() {
    if (!pictureLoaded_) return;
    picture_->Play();
    picturePlaying_ = true;
}

void CIbisPsocPage::Stop() {
    picture_->Stop();
    picturePlaying_ = false;
}

void CIbisPsocPage::OnInitDialog() {
    pollTimerId = 0;
    // The start ends at the first exchange that fails; the count says which.
    startStepsDone_ = 0;
    if (!Control(2, 1)) return;
    ++startStepsDone_;
    if (!Control(1, 1)) return;
    ++startStepsDone_;
    if (!Control(0, static_cast<std::uint16_t>(-50))) return;
    ++startStepsDone_;
    if (!ReadStatus()) return;
    ++startStepsDone_;
    boardTemp = "NA";
    setpoint = -5.0f;
    setpointText = StrPrintf("%.1f", static_cast<double>(setpoint));
    tecOn = true;
    fanOn = true;
    pollCounter = 1;
    pollDivisor = kPollDivisor;
    StartPollTimer();
    pictureLoaded_ = picture_->Load(kPictureType, kPictureId);
    Play();
}

std::string CIbisPsocPage::StartEffect() const {
    // By the number of start exchanges that worked; below 4 the next one failed.
    static constexpr const char* kEffects[] = {
        "switching the fan on failed",
        "the fan was switched on; switching the TEC on failed",
        "the fan and the TEC were switched on; setting the setpoint to -5.0 \u00B0C failed",
        "the fan and the TEC were switched on and the setpoint set to -5.0 \u00B0C; reading the status failed",
        "the fan and the TEC were switched on and the setpoint set to -5.0 \u00B0C",
    };
    return kEffects[startStepsDone_];
}

void CIbisPsocPage::OnTimer(int timerId) {
    if (timerId != kPollTimerId || !PollTimerRunning()) return;
    ++pollCounter;
    if (pollCounter % pollDivisor != 1) return;
    ReadStatus();
    pollDivisor = kPollDivisor;
}

std::string CIbisPsocPage::OnSet() {
    // The box takes -20.0 to 25.0; a setpoint it refuses never reaches the device.
    if (setpointText.size() > 15) return FieldTooLong("Setpoint(C)", 15);
    const char* text = setpointText.c_str();
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text, &end);
    while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value)) {
        return "Please enter a number for \"Setpoint(C)\".";
    }
    if (value < kLowestSetpoint || value > kHighestSetpoint) {
        return "Please enter a setpoint from -20.0 to 25.0 \u00B0C.";
    }
    setpoint = value;
    Control(0, static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<int>(setpoint * 10))));
    return {};
}

void CIbisPsocPage::OnTecClicked() { Control(1, tecOn ? 1 : 0); }

void CIbisPsocPage::OnFanClicked() {
    if (fanOn) {
        Play();
    } else {
        Stop();
    }
    Control(2, fanOn ? 1 : 0);
}

}  // namespace spindle
