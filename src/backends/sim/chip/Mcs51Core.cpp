#include "sim/chip/Mcs51Core.h"

namespace spindle::sim {

namespace {

// Machine cycles of each opcode on the classic core.
constexpr std::array<std::uint8_t, 256> MakeCycles() {
    std::array<std::uint8_t, 256> cycles{};
    for (auto& c : cycles) c = 1;
    const int two[] = {0x02, 0x10, 0x12, 0x20, 0x22, 0x30, 0x32, 0x40, 0x43, 0x50, 0x53, 0x60, 0x63, 0x70,
                       0x72, 0x73, 0x75, 0x80, 0x82, 0x83, 0x85, 0x86, 0x87, 0x90, 0x92, 0x93, 0xA0,
                       0xA3, 0xA6, 0xA7, 0xB0, 0xB4, 0xB5, 0xB6, 0xB7, 0xC0, 0xD0, 0xD5, 0xE0, 0xE2, 0xE3,
                       0xF0, 0xF2, 0xF3};
    for (int op : two) cycles[static_cast<std::size_t>(op)] = 2;
    for (int n = 0; n < 16; ++n) cycles[static_cast<std::size_t>(0x01 + 0x10 * n)] = 2;  // AJMP / ACALL
    for (int n = 0; n < 8; ++n) {
        cycles[static_cast<std::size_t>(0x88 + n)] = 2;                                  // MOV dir,Rn
        cycles[static_cast<std::size_t>(0xA8 + n)] = 2;                                  // MOV Rn,dir
        cycles[static_cast<std::size_t>(0xB8 + n)] = 2;                                  // CJNE Rn
        cycles[static_cast<std::size_t>(0xD8 + n)] = 2;                                  // DJNZ Rn
    }
    cycles[0x84] = 4;  // DIV
    cycles[0xA4] = 4;  // MUL
    return cycles;
}
constexpr std::array<std::uint8_t, 256> kCycles = MakeCycles();

bool Parity(std::uint8_t value) {
    value ^= value >> 4;
    value ^= value >> 2;
    value ^= value >> 1;
    return (value & 1) != 0;
}

}  // namespace

Mcs51Core::Mcs51Core(const std::uint8_t* code, IMcs51Bus& bus, std::uint8_t xpageSfr)
    : code_(code), bus_(bus), xpageSfr_(xpageSfr) {
    Reset();
}

void Mcs51Core::Reset() {
    sfr_.fill(0);
    sfr_[kSp] = 0x07;
    for (std::uint8_t port : {0x80, 0x90, 0xA0, 0xB0}) sfr_[port & 0x7F] = 0xFF;
    pc_ = 0;
    stopped_ = false;
}

std::uint8_t Mcs51Core::Sfr(std::uint8_t address) const {
    const std::uint8_t value = sfr_[address & 0x7F];
    if ((address & 0x7F) == kPsw) return static_cast<std::uint8_t>((value & 0xFE) | (Parity(sfr_[kAcc]) ? 1 : 0));
    return value;
}

std::uint8_t Mcs51Core::ReadDirect(std::uint8_t address) {
    if (address < 0x80) return iram_[address];
    const int index = address & 0x7F;
    switch (index) {
        case kAcc:
        case kB:
        case kSp:
        case kDpl:
        case kDph: return sfr_[static_cast<std::size_t>(index)];
        case kPsw: return Sfr(address);
        default: return bus_.ReadSfr(address, sfr_[static_cast<std::size_t>(index)]);
    }
}

void Mcs51Core::WriteDirect(std::uint8_t address, std::uint8_t value) {
    if (address < 0x80) {
        iram_[address] = value;
        return;
    }
    const int index = address & 0x7F;
    sfr_[static_cast<std::size_t>(index)] = value;
    switch (index) {
        case kAcc:
        case kB:
        case kSp:
        case kDpl:
        case kDph:
        case kPsw: return;
        default: bus_.WriteSfr(address, value);
    }
}

bool Mcs51Core::ReadBit(std::uint8_t bit) {
    const std::uint8_t address = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + (bit >> 3)) : (bit & 0xF8);
    return ((ReadDirect(address) >> (bit & 7)) & 1) != 0;
}

void Mcs51Core::WriteBit(std::uint8_t bit, bool value) {
    const std::uint8_t address = bit < 0x80 ? static_cast<std::uint8_t>(0x20 + (bit >> 3)) : (bit & 0xF8);
    // Read-modify-write works on the stored (latch) value.
    std::uint8_t byte = address < 0x80 ? iram_[address] : sfr_[address & 0x7F];
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit & 7));
    byte = static_cast<std::uint8_t>(value ? byte | mask : byte & ~mask);
    WriteDirect(address, byte);
}

void Mcs51Core::Add(std::uint8_t value, bool carryIn) {
    const unsigned a = sfr_[kAcc];
    const unsigned c = carryIn ? 1 : 0;
    const unsigned sum = a + value + c;
    std::uint8_t psw = sfr_[kPsw] & static_cast<std::uint8_t>(~(kCy | kAc | kOv));
    if (sum > 0xFF) psw |= kCy;
    if (((a & 0x0F) + (value & 0x0F) + c) > 0x0F) psw |= kAc;
    const bool carry6 = ((a & 0x7F) + (value & 0x7F) + c) > 0x7F;
    if (carry6 != (sum > 0xFF)) psw |= kOv;
    sfr_[kPsw] = psw;
    sfr_[kAcc] = static_cast<std::uint8_t>(sum);
}

void Mcs51Core::Subtract(std::uint8_t value) {
    const int a = sfr_[kAcc];
    const int c = Carry() ? 1 : 0;
    const int difference = a - value - c;
    std::uint8_t psw = sfr_[kPsw] & static_cast<std::uint8_t>(~(kCy | kAc | kOv));
    if (difference < 0) psw |= kCy;
    if ((a & 0x0F) - (value & 0x0F) - c < 0) psw |= kAc;
    const bool borrow6 = (a & 0x7F) - (value & 0x7F) - c < 0;
    if (borrow6 != (difference < 0)) psw |= kOv;
    sfr_[kPsw] = psw;
    sfr_[kAcc] = static_cast<std::uint8_t>(difference);
}

std::uint16_t Mcs51Core::XpageAddress(std::uint8_t low) {
    return static_cast<std::uint16_t>(ReadDirect(xpageSfr_) << 8 | low);
}

std::uint64_t Mcs51Core::Run(std::uint64_t cycles) {
    const std::uint64_t start = cycles_;
    while (!stopped_ && cycles_ - start < cycles) Step();
    return cycles_ - start;
}

int Mcs51Core::Step() {
    if (stopped_) return 0;
    const std::uint16_t at = pc_;
    const std::uint8_t op = Fetch();
    const int cycles = kCycles[op];
    cycles_ += static_cast<std::uint64_t>(cycles);
    std::uint8_t& acc = sfr_[kAcc];

    const std::uint8_t low = op & 0x0F;
    const std::uint8_t high = op >> 4;

    // Groups reading a source operand into A-style arithmetic: 0x2_ .. 0x9_, 0x4_-0x6_ (A forms).
    auto readSource = [&](std::uint8_t l) -> std::uint8_t {
        if (l == 4) return Fetch();                                  // #data
        if (l == 5) return ReadDirect(Fetch());                      // direct
        if (l == 6 || l == 7) return iram_[Reg(l - 6)];              // @Ri
        return Reg(l - 8);                                           // Rn
    };

    // Opcodes whose low nibble is 1: AJMP (even high nibble) / ACALL (odd).
    if (low == 1) {
        const std::uint8_t next = Fetch();
        const std::uint16_t target =
            static_cast<std::uint16_t>((pc_ & 0xF800) | ((op & 0xE0) << 3) | next);
        if (high & 1) {
            Push(static_cast<std::uint8_t>(pc_));
            Push(static_cast<std::uint8_t>(pc_ >> 8));
        }
        pc_ = target;
        return cycles;
    }

    // Arithmetic and logic on A with the source in the low nibble (4-F).
    if (low >= 4 && (high == 2 || high == 3 || high == 4 || high == 5 || high == 6 || high == 9)) {
        const std::uint8_t value = readSource(low);
        switch (high) {
            case 2: Add(value, false); break;
            case 3: Add(value, Carry()); break;
            case 4: acc |= value; break;
            case 5: acc &= value; break;
            case 6: acc ^= value; break;
            case 9: Subtract(value); break;
        }
        return cycles;
    }

    if (low >= 6) {
        // Rows with an @Ri / Rn operand.
        const bool indirect = low < 8;
        auto target = [&]() -> std::uint8_t& { return indirect ? iram_[Reg(low - 6)] : Reg(low - 8); };
        switch (high) {
            case 0x0: ++target(); return cycles;                                   // INC
            case 0x1: --target(); return cycles;                                   // DEC
            case 0x7: target() = Fetch(); return cycles;                           // MOV x,#data
            case 0x8: {                                                            // MOV direct,x
                const std::uint8_t direct = Fetch();
                WriteDirect(direct, target());
                return cycles;
            }
            case 0xA: target() = ReadDirect(Fetch()); return cycles;               // MOV x,direct
            case 0xB: {                                                            // CJNE x,#data,rel
                const std::uint8_t value = Fetch();
                const auto offset = static_cast<std::int8_t>(Fetch());
                const std::uint8_t mine = target();
                SetCarry(mine < value);
                if (mine != value) Jump(offset);
                return cycles;
            }
            case 0xC: {                                                            // XCH A,x
                const std::uint8_t t = target();
                target() = acc;
                acc = t;
                return cycles;
            }
            case 0xD:
                if (indirect) {                                                    // XCHD A,@Ri
                    std::uint8_t& t = target();
                    const std::uint8_t a = acc;
                    acc = static_cast<std::uint8_t>((a & 0xF0) | (t & 0x0F));
                    t = static_cast<std::uint8_t>((t & 0xF0) | (a & 0x0F));
                } else {                                                           // DJNZ Rn,rel
                    const auto offset = static_cast<std::int8_t>(Fetch());
                    if (--target() != 0) Jump(offset);
                }
                return cycles;
            case 0xE: acc = target(); return cycles;                               // MOV A,x
            case 0xF: target() = acc; return cycles;                               // MOV x,A
            default: break;
        }
    }

    switch (op) {
        case 0x00: break;                                                          // NOP
        case 0x02: {                                                               // LJMP
            const std::uint8_t h = Fetch();
            pc_ = static_cast<std::uint16_t>(h << 8 | Fetch());
            break;
        }
        case 0x12: {                                                               // LCALL
            const std::uint8_t h = Fetch();
            const std::uint8_t l = Fetch();
            Push(static_cast<std::uint8_t>(pc_));
            Push(static_cast<std::uint8_t>(pc_ >> 8));
            pc_ = static_cast<std::uint16_t>(h << 8 | l);
            break;
        }
        case 0x22:                                                                 // RET
        case 0x32: {                                                               // RETI
            const std::uint8_t h = Pop();
            pc_ = static_cast<std::uint16_t>(h << 8 | Pop());
            break;
        }
        case 0x03: acc = static_cast<std::uint8_t>(acc >> 1 | acc << 7); break;   // RR A
        case 0x13: {                                                               // RRC A
            const bool out = (acc & 1) != 0;
            acc = static_cast<std::uint8_t>(acc >> 1 | (Carry() ? 0x80 : 0));
            SetCarry(out);
            break;
        }
        case 0x23: acc = static_cast<std::uint8_t>(acc << 1 | acc >> 7); break;   // RL A
        case 0x33: {                                                               // RLC A
            const bool out = (acc & 0x80) != 0;
            acc = static_cast<std::uint8_t>(acc << 1 | (Carry() ? 1 : 0));
            SetCarry(out);
            break;
        }
        case 0x04: ++acc; break;
        case 0x14: --acc; break;
        case 0x05: {
            const std::uint8_t d = Fetch();
            WriteDirect(d, static_cast<std::uint8_t>(ReadDirect(d) + 1));
            break;
        }
        case 0x15: {
            const std::uint8_t d = Fetch();
            WriteDirect(d, static_cast<std::uint8_t>(ReadDirect(d) - 1));
            break;
        }
        case 0x10: {                                                               // JBC
            const std::uint8_t bit = Fetch();
            const auto offset = static_cast<std::int8_t>(Fetch());
            if (ReadBit(bit)) {
                WriteBit(bit, false);
                Jump(offset);
            }
            break;
        }
        case 0x20:
        case 0x30: {                                                               // JB / JNB
            const std::uint8_t bit = Fetch();
            const auto offset = static_cast<std::int8_t>(Fetch());
            if (ReadBit(bit) == (op == 0x20)) Jump(offset);
            break;
        }
        case 0x40:
        case 0x50: {                                                               // JC / JNC
            const auto offset = static_cast<std::int8_t>(Fetch());
            if (Carry() == (op == 0x40)) Jump(offset);
            break;
        }
        case 0x60:
        case 0x70: {                                                               // JZ / JNZ
            const auto offset = static_cast<std::int8_t>(Fetch());
            if ((acc == 0) == (op == 0x60)) Jump(offset);
            break;
        }
        case 0x80: {                                                               // SJMP
            const auto offset = static_cast<std::int8_t>(Fetch());
            Jump(offset);
            break;
        }
        case 0x42:
        case 0x52:
        case 0x62: {                                                               // ORL/ANL/XRL direct,A
            const std::uint8_t d = Fetch();
            const std::uint8_t v = ReadDirect(d);
            WriteDirect(d, static_cast<std::uint8_t>(op == 0x42 ? v | acc : op == 0x52 ? v & acc : v ^ acc));
            break;
        }
        case 0x43:
        case 0x53:
        case 0x63: {                                                               // ORL/ANL/XRL direct,#data
            const std::uint8_t d = Fetch();
            const std::uint8_t data = Fetch();
            const std::uint8_t v = ReadDirect(d);
            WriteDirect(d, static_cast<std::uint8_t>(op == 0x43 ? v | data : op == 0x53 ? v & data : v ^ data));
            break;
        }
        case 0x72: SetCarry(Carry() || ReadBit(Fetch())); break;                  // ORL C,bit
        case 0x82: SetCarry(Carry() && ReadBit(Fetch())); break;                  // ANL C,bit
        case 0xA0: SetCarry(Carry() || !ReadBit(Fetch())); break;                 // ORL C,/bit
        case 0xB0: SetCarry(Carry() && !ReadBit(Fetch())); break;                 // ANL C,/bit
        case 0x73: pc_ = static_cast<std::uint16_t>(acc + Dptr()); break;         // JMP @A+DPTR
        case 0x74: acc = Fetch(); break;                                           // MOV A,#data
        case 0x75: {                                                               // MOV direct,#data
            const std::uint8_t d = Fetch();
            WriteDirect(d, Fetch());
            break;
        }
        case 0x83: acc = code_[static_cast<std::uint16_t>(pc_ + acc)]; break;     // MOVC A,@A+PC
        case 0x93: acc = code_[static_cast<std::uint16_t>(Dptr() + acc)]; break;  // MOVC A,@A+DPTR
        case 0x84: {                                                               // DIV AB
            std::uint8_t psw = sfr_[kPsw] & static_cast<std::uint8_t>(~(kCy | kOv));
            const std::uint8_t b = sfr_[kB];
            if (b == 0) {
                psw |= kOv;
            } else {
                const std::uint8_t a = acc;
                acc = static_cast<std::uint8_t>(a / b);
                sfr_[kB] = static_cast<std::uint8_t>(a % b);
            }
            sfr_[kPsw] = psw;
            break;
        }
        case 0xA4: {                                                               // MUL AB
            const unsigned product = static_cast<unsigned>(acc) * sfr_[kB];
            std::uint8_t psw = sfr_[kPsw] & static_cast<std::uint8_t>(~(kCy | kOv));
            if (product > 0xFF) psw |= kOv;
            acc = static_cast<std::uint8_t>(product);
            sfr_[kB] = static_cast<std::uint8_t>(product >> 8);
            sfr_[kPsw] = psw;
            break;
        }
        case 0x85: {                                                               // MOV direct,direct (source first)
            const std::uint8_t source = Fetch();
            const std::uint8_t destination = Fetch();
            WriteDirect(destination, ReadDirect(source));
            break;
        }
        case 0x90: {                                                               // MOV DPTR,#data16
            sfr_[kDph] = Fetch();
            sfr_[kDpl] = Fetch();
            break;
        }
        case 0x92: WriteBit(Fetch(), Carry()); break;                             // MOV bit,C
        case 0xA2: SetCarry(ReadBit(Fetch())); break;                             // MOV C,bit
        case 0xA3: {                                                               // INC DPTR
            const auto d = static_cast<std::uint16_t>(Dptr() + 1);
            sfr_[kDpl] = static_cast<std::uint8_t>(d);
            sfr_[kDph] = static_cast<std::uint8_t>(d >> 8);
            break;
        }
        case 0xA5:                                                                 // undefined: stop here
            stopped_ = true;
            pc_ = at;
            cycles_ -= static_cast<std::uint64_t>(cycles);
            return 0;
        case 0xB2: {                                                               // CPL bit
            const std::uint8_t bit = Fetch();
            WriteBit(bit, !ReadBit(bit));
            break;
        }
        case 0xB3: SetCarry(!Carry()); break;
        case 0xB4: {                                                               // CJNE A,#data,rel
            const std::uint8_t value = Fetch();
            const auto offset = static_cast<std::int8_t>(Fetch());
            SetCarry(acc < value);
            if (acc != value) Jump(offset);
            break;
        }
        case 0xB5: {                                                               // CJNE A,direct,rel
            const std::uint8_t value = ReadDirect(Fetch());
            const auto offset = static_cast<std::int8_t>(Fetch());
            SetCarry(acc < value);
            if (acc != value) Jump(offset);
            break;
        }
        case 0xC0: Push(ReadDirect(Fetch())); break;                              // PUSH
        case 0xD0: {                                                               // POP
            const std::uint8_t d = Fetch();
            WriteDirect(d, Pop());
            break;
        }
        case 0xC2: WriteBit(Fetch(), false); break;                               // CLR bit
        case 0xC3: SetCarry(false); break;
        case 0xD2: WriteBit(Fetch(), true); break;                                // SETB bit
        case 0xD3: SetCarry(true); break;
        case 0xC4: acc = static_cast<std::uint8_t>(acc << 4 | acc >> 4); break;   // SWAP A
        case 0xC5: {                                                               // XCH A,direct
            const std::uint8_t d = Fetch();
            const std::uint8_t t = ReadDirect(d);
            WriteDirect(d, acc);
            acc = t;
            break;
        }
        case 0xD4: {                                                               // DA A
            unsigned a = acc;
            bool carry = Carry();
            if ((a & 0x0F) > 9 || (sfr_[kPsw] & kAc) != 0) {
                a += 0x06;
                if (a > 0xFF) carry = true;
            }
            if (((a >> 4) & 0x1F) > 9 || carry) {
                a += 0x60;
                if (a > 0xFF) carry = true;
            }
            acc = static_cast<std::uint8_t>(a);
            SetCarry(carry);
            break;
        }
        case 0xD5: {                                                               // DJNZ direct,rel
            const std::uint8_t d = Fetch();
            const auto offset = static_cast<std::int8_t>(Fetch());
            const auto value = static_cast<std::uint8_t>(ReadDirect(d) - 1);
            WriteDirect(d, value);
            if (value != 0) Jump(offset);
            break;
        }
        case 0xE0: acc = bus_.ReadXdata(Dptr()); break;                           // MOVX A,@DPTR
        case 0xE2:
        case 0xE3: acc = bus_.ReadXdata(XpageAddress(Reg(op - 0xE2))); break;     // MOVX A,@Ri
        case 0xF0: bus_.WriteXdata(Dptr(), acc); break;                           // MOVX @DPTR,A
        case 0xF2:
        case 0xF3: bus_.WriteXdata(XpageAddress(Reg(op - 0xF2)), acc); break;     // MOVX @Ri,A
        case 0xE4: acc = 0; break;                                                 // CLR A
        case 0xE5: acc = ReadDirect(Fetch()); break;                              // MOV A,direct
        case 0xF4: acc = static_cast<std::uint8_t>(~acc); break;                  // CPL A
        case 0xF5: WriteDirect(Fetch(), acc); break;                              // MOV direct,A
        default:
            stopped_ = true;
            pc_ = at;
            cycles_ -= static_cast<std::uint64_t>(cycles);
            return 0;
    }
    return cycles;
}

}  // namespace spindle::sim
