#pragma once
#include <array>
#include <cstdint>

namespace spindle::sim {

// What an MCS-51 core reaches outside itself: the external data space
// (MOVX) and the special function registers that belong to the chip around
// it. Code is fetched from the program memory the core was given.
class IMcs51Bus {
public:
    virtual ~IMcs51Bus() = default;
    virtual std::uint8_t ReadXdata(std::uint16_t address) = 0;
    virtual void WriteXdata(std::uint16_t address, std::uint8_t value) = 0;
    // SFRs other than the core's own (ACC, B, PSW, SP, DPL, DPH): `stored`
    // is the value last written; the chip may answer otherwise.
    virtual std::uint8_t ReadSfr(std::uint8_t address, std::uint8_t stored) {
        (void)address;
        return stored;
    }
    virtual void WriteSfr(std::uint8_t address, std::uint8_t value) {
        (void)address;
        (void)value;
    }
};

// An MCS-51 (8051) core: every instruction with its flags (CY, AC, OV, P)
// and its machine cycles (12 clocks each on the classic core). Internal RAM
// is 256 bytes (the upper 128 reached indirectly and by the stack); the
// special function registers live at direct addresses 0x80-0xFF. Interrupts
// are not taken. The 0xA5 opcode, undefined on the 8051, stops the core.
class Mcs51Core {
public:
    // `code`: the 64 KiB program memory (on the EZ-USB chips the same RAM
    // the external data space reaches). `xpageSfr`: the SFR whose value is
    // the high address byte of MOVX @Ri (P2, 0xA0, on the classic core;
    // MPAGE, 0x92, on the FX2).
    Mcs51Core(const std::uint8_t* code, IMcs51Bus& bus, std::uint8_t xpageSfr = 0xA0);

    // The state after a reset: PC 0, SP 7, the other registers 0.
    void Reset();
    // Runs one instruction; returns its machine cycles.
    int Step();
    // Runs until at least `cycles` machine cycles have passed or the core
    // stopped; returns the cycles run.
    std::uint64_t Run(std::uint64_t cycles);

    bool Stopped() const { return stopped_; }
    std::uint16_t Pc() const { return pc_; }
    void SetPc(std::uint16_t pc) { pc_ = pc; }
    std::uint64_t Cycles() const { return cycles_; }
    // Lets `cycles` machine cycles pass without running an instruction (the
    // chip model's waits that a program would only spin through).
    void Idle(std::uint64_t cycles) { cycles_ += cycles; }

    // Registers and memory, for tests and for the chip model.
    std::uint8_t Iram(std::uint8_t address) const { return iram_[address]; }
    void SetIram(std::uint8_t address, std::uint8_t value) { iram_[address] = value; }
    // The stored value of an SFR (0x80-0xFF), the PSW with its parity bit.
    std::uint8_t Sfr(std::uint8_t address) const;
    void SetSfr(std::uint8_t address, std::uint8_t value) { sfr_[address & 0x7F] = value; }
    std::uint8_t A() const { return sfr_[kAcc]; }
    std::uint16_t Dptr() const { return static_cast<std::uint16_t>(sfr_[kDph] << 8 | sfr_[kDpl]); }

    // Everything the core holds but its cycle count: with the same bus
    // answers, equal states run on identically.
    struct State {
        std::array<std::uint8_t, 256> iram;
        std::array<std::uint8_t, 128> sfr;
        std::uint16_t pc;
    };
    State Snapshot() const { return {iram_, sfr_, pc_}; }
    bool InState(const State& state) const { return pc_ == state.pc && iram_ == state.iram && sfr_ == state.sfr; }

private:
    static constexpr int kAcc = 0xE0 & 0x7F, kB = 0xF0 & 0x7F, kPsw = 0xD0 & 0x7F, kSp = 0x81 & 0x7F,
                         kDpl = 0x82 & 0x7F, kDph = 0x83 & 0x7F;
    static constexpr std::uint8_t kCy = 0x80, kAc = 0x40, kOv = 0x04;

    std::uint8_t Fetch() { return code_[pc_++]; }
    std::uint8_t& Reg(int n) { return iram_[(sfr_[kPsw] & 0x18) | n]; }
    std::uint8_t ReadDirect(std::uint8_t address);
    void WriteDirect(std::uint8_t address, std::uint8_t value);
    bool ReadBit(std::uint8_t bit);
    void WriteBit(std::uint8_t bit, bool value);
    void Push(std::uint8_t value) { iram_[++sfr_[kSp]] = value; }
    std::uint8_t Pop() { return iram_[sfr_[kSp]--]; }
    bool Carry() const { return (sfr_[kPsw] & kCy) != 0; }
    void SetCarry(bool on) { sfr_[kPsw] = static_cast<std::uint8_t>(on ? sfr_[kPsw] | kCy : sfr_[kPsw] & ~kCy); }
    void Add(std::uint8_t value, bool carryIn);
    void Subtract(std::uint8_t value);
    void Jump(std::int8_t offset) { pc_ = static_cast<std::uint16_t>(pc_ + offset); }
    std::uint16_t XpageAddress(std::uint8_t low);

    const std::uint8_t* code_;
    IMcs51Bus& bus_;
    std::uint8_t xpageSfr_;
    std::array<std::uint8_t, 256> iram_{};
    std::array<std::uint8_t, 128> sfr_{};
    std::uint16_t pc_ = 0;
    std::uint64_t cycles_ = 0;
    bool stopped_ = false;
};

}  // namespace spindle::sim
