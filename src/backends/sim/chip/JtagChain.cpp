#include "sim/chip/JtagChain.h"

#include <stdexcept>

#include "platform/Format.h"

namespace spindle::sim {

TapState NextTapState(TapState state, bool tms) {
    using S = TapState;
    switch (state) {
        case S::TestLogicReset: return tms ? S::TestLogicReset : S::RunTestIdle;
        case S::RunTestIdle: return tms ? S::SelectDr : S::RunTestIdle;
        case S::SelectDr: return tms ? S::SelectIr : S::CaptureDr;
        case S::CaptureDr: return tms ? S::Exit1Dr : S::ShiftDr;
        case S::ShiftDr: return tms ? S::Exit1Dr : S::ShiftDr;
        case S::Exit1Dr: return tms ? S::UpdateDr : S::PauseDr;
        case S::PauseDr: return tms ? S::Exit2Dr : S::PauseDr;
        case S::Exit2Dr: return tms ? S::UpdateDr : S::ShiftDr;
        case S::UpdateDr: return tms ? S::SelectDr : S::RunTestIdle;
        case S::SelectIr: return tms ? S::TestLogicReset : S::CaptureIr;
        case S::CaptureIr: return tms ? S::Exit1Ir : S::ShiftIr;
        case S::ShiftIr: return tms ? S::Exit1Ir : S::ShiftIr;
        case S::Exit1Ir: return tms ? S::UpdateIr : S::PauseIr;
        case S::PauseIr: return tms ? S::Exit2Ir : S::PauseIr;
        case S::Exit2Ir: return tms ? S::UpdateIr : S::ShiftIr;
        case S::UpdateIr: return tms ? S::SelectDr : S::RunTestIdle;
    }
    return S::TestLogicReset;
}

const char* TapStateName(TapState state) {
    static const char* const names[] = {"Test-Logic-Reset", "Run-Test/Idle", "Select-DR", "Capture-DR",
                                        "Shift-DR",         "Exit1-DR",      "Pause-DR",  "Exit2-DR",
                                        "Update-DR",        "Select-IR",     "Capture-IR", "Shift-IR",
                                        "Exit1-IR",         "Pause-IR",      "Exit2-IR",  "Update-IR"};
    const auto index = static_cast<unsigned>(state);
    return index < 16 ? names[index] : "?";
}

JtagChain::JtagChain(JtagDeviceConfig config, JtagConfigState state)
    : config_(config),
      configured_(state.configured),
      bits_(state.bits),
      // The state holds the finished CRC; the register runs un-inverted.
      crcRunning_(state.crc ^ 0xFFFFFFFFu) {
    if (config.irLength < kMinIrLength || config.irLength > kMaxIrLength) {
        throw std::invalid_argument(StrPrintf("JTAG instruction length %d is outside %d..%d", config.irLength,
                                              kMinIrLength, kMaxIrLength));
    }
}

JtagConfigState JtagChain::State() const { return {configured_, bits_, crcRunning_ ^ 0xFFFFFFFFu}; }

void JtagChain::SetPins(bool tck, bool tms, bool tdi) {
    if (tck && !tck_) Rise(tms, tdi);
    if (!tck && tck_) Fall();
    tck_ = tck;
}

int JtagChain::DataLength() const {
    switch (instruction_) {
        case kIdcode:
        case kStatus:
        case kCrc: return 32;
        default: return 1;  // JSTART, BYPASS and every unassigned code
    }
}

void JtagChain::CaptureData() {
    switch (instruction_) {
        case kIdcode: drShift_ = config_.idcode; break;
        case kStatus:
            drShift_ = (configured_ ? kStatusConfigured : 0) | (bits_ == config_.configLength ? kStatusCountMatches : 0);
            break;
        case kCrc: drShift_ = crcRunning_ ^ 0xFFFFFFFFu; break;
        default: drShift_ = 0; break;  // the 1-bit registers capture 0
    }
}

void JtagChain::Rise(bool tms, bool tdi) {
    ++clocks_;
    const std::uint32_t in = tdi ? 1u : 0u;
    switch (tap_) {
        case TapState::CaptureIr: irShift_ = kIrCapture; break;
        case TapState::ShiftIr: irShift_ = (irShift_ >> 1) | (in << (config_.irLength - 1)); break;
        case TapState::CaptureDr:
            if (instruction_ != kCfgIn) CaptureData();
            break;
        case TapState::ShiftDr:
            if (instruction_ == kCfgIn) {
                ++bits_;
                crcRunning_ = (crcRunning_ >> 1) ^ (((crcRunning_ ^ in) & 1u) ? 0xEDB88320u : 0u);
            } else {
                drShift_ = (drShift_ >> 1) | (in << (DataLength() - 1));
            }
            break;
        default: break;
    }
    tap_ = NextTapState(tap_, tms);
    if (tap_ == TapState::TestLogicReset) instruction_ = kIdcode;
}

void JtagChain::Fall() {
    if (tap_ == TapState::UpdateIr) {
        instruction_ = irShift_ & Bypass();
        if (instruction_ == kCfgIn) {
            bits_ = 0;
            crcRunning_ = 0xFFFFFFFFu;
            configured_ = false;
        } else if (instruction_ == kJstart) {
            configured_ = bits_ == config_.configLength;
        }
    }
    switch (tap_) {
        case TapState::ShiftIr: tdo_ = (irShift_ & 1u) != 0; break;
        case TapState::ShiftDr: tdo_ = instruction_ != kCfgIn && (drShift_ & 1u) != 0; break;
        default: tdo_ = true; break;  // not driven: the pull-up
    }
}

}  // namespace spindle::sim
