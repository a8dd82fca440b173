#pragma once
#include <cstdint>

namespace spindle::sim {

// The programmable-logic device on the chain.
struct JtagDeviceConfig {
    std::uint32_t idcode = 0;
    int irLength = 6;                 // instruction register bits, 4..16
    std::uint64_t configLength = 0;   // configuration bits the device expects
};

// What the device has been loaded with. A TAP reset keeps it; a chain built
// with a saved state carries on from it.
struct JtagConfigState {
    bool configured = false;
    std::uint64_t bits = 0;    // configuration bits collected since the last CFG_IN
    std::uint32_t crc = 0;     // CRC-32 of those bits (finished value)
    bool operator==(const JtagConfigState&) const = default;
};

// The sixteen TAP controller states, in the order their XSVF codes use.
enum class TapState {
    TestLogicReset, RunTestIdle, SelectDr, CaptureDr, ShiftDr, Exit1Dr, PauseDr, Exit2Dr,
    UpdateDr, SelectIr, CaptureIr, ShiftIr, Exit1Ir, PauseIr, Exit2Ir, UpdateIr
};

// The state the TAP controller moves to on a rising TCK edge with this TMS.
TapState NextTapState(TapState state, bool tms);
const char* TapStateName(TapState state);

// One IEEE 1149.1 test access port with one programmable-logic device behind
// it, driven by the levels of TCK, TMS and TDI. TMS and TDI are sampled and
// the controller clocked on TCK's rising edge; TDO changes on the falling
// edge and is driven only in Shift-IR and Shift-DR (the line's pull-up reads
// 1 otherwise). Data registers shift towards bit 0: TDO is bit 0 and TDI
// enters the most significant bit.
class JtagChain {
public:
    static constexpr std::uint32_t kIdcode = 0x01;
    static constexpr std::uint32_t kCfgIn = 0x05;
    static constexpr std::uint32_t kCrc = 0x06;
    static constexpr std::uint32_t kStatus = 0x07;
    static constexpr std::uint32_t kJstart = 0x0C;
    // BYPASS is all ones at the device's instruction length (see Bypass());
    // every code without a register of its own behaves as BYPASS.
    static constexpr std::uint32_t kStatusConfigured = 1u << 0;
    static constexpr std::uint32_t kStatusCountMatches = 1u << 1;
    // What Capture-IR loads: the two fixed low bits 01.
    static constexpr std::uint32_t kIrCapture = 0x01;
    static constexpr int kMinIrLength = 4;
    static constexpr int kMaxIrLength = 16;

    // Throws std::invalid_argument for an instruction length outside 4..16.
    explicit JtagChain(JtagDeviceConfig config, JtagConfigState state = {});

    void SetPins(bool tck, bool tms, bool tdi);
    bool Tdo() const { return tdo_; }

    JtagConfigState State() const;
    TapState Tap() const { return tap_; }
    std::uint32_t Instruction() const { return instruction_; }
    std::uint64_t Clocks() const { return clocks_; }
    JtagDeviceConfig Config() const { return config_; }
    std::uint32_t Bypass() const { return (1u << config_.irLength) - 1; }

private:
    void Rise(bool tms, bool tdi);
    void Fall();
    // Bits of the data register the current instruction selects.
    int DataLength() const;
    void CaptureData();

    JtagDeviceConfig config_;
    bool configured_;
    std::uint64_t bits_;
    std::uint32_t crcRunning_;   // CRC register before the final inversion
    TapState tap_ = TapState::TestLogicReset;
    std::uint32_t instruction_ = kIdcode;
    std::uint32_t irShift_ = 0;
    std::uint32_t drShift_ = 0;
    bool tck_ = false;
    bool tdo_ = true;
    std::uint64_t clocks_ = 0;
};

}  // namespace spindle::sim
