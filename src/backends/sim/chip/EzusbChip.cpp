#include "sim/chip/EzusbChip.h"

#include <algorithm>
#include <cstring>

#include "ezusb_regs.h"
#include "jtag_pins.h"

namespace spindle::sim {

namespace {

constexpr std::uint8_t kSudav = USBIRQ_SUDAV;
constexpr std::uint8_t kI2cStart = I2C_START, kI2cStop = I2C_STOP, kI2cLastRead = I2C_LASTRD,
                       kI2cIdTwoByte = I2C_ID_TWO_BYTE, kI2cIdOneByte = 0x08, kI2cAck = I2C_ACK, kI2cDone = I2C_DONE;
constexpr std::uint32_t kPacket = 64;
constexpr std::uint64_t kSlice = 20'000;

// FX2 endpoint 1.
constexpr std::uint16_t kEp1OutBuf = FX2_EP1OUTBUF_ADDR, kEp1InBuf = FX2_EP1INBUF_ADDR, kEp1OutBc = FX2_EP1OUTBC_ADDR,
                        kEp1InBc = FX2_EP1INBC_ADDR, kEp1OutCs = FX2_EP1OUTCS_ADDR, kEp1InCs = FX2_EP1INCS_ADDR;
constexpr std::uint8_t kEpBusy = FX2_EPCS_BUSY;
constexpr std::uint8_t kEp01Stat = 0xBA;
// A bulk wait runs the program in shorter slices than a control transfer:
// a player answers within a few hundred instructions.
constexpr std::uint64_t kBulkSlice = 500;
// A spin is looked for over this many instructions (a polling loop with its
// calls is far shorter), then again after this many cycles run unwatched.
constexpr int kSpinSteps = 512;
constexpr std::uint64_t kSpinCheckCycles = 2'000;
constexpr std::uint8_t kTck = 1u << JTAG_TCK_BIT, kTms = 1u << JTAG_TMS_BIT, kTdi = 1u << JTAG_TDI_BIT,
                       kTdo = 1u << JTAG_TDO_BIT;

}  // namespace

EzusbChip::EzusbChip(bool fx2, std::vector<std::uint8_t>& memory, EepromConfig eeprom,
                     std::vector<std::uint8_t>& eepromBytes)
    : memory_(memory),
      core_(memory.data(), *this, fx2 ? 0x92 : 0xA0),
      eeprom_(eeprom, eepromBytes, fx2 ? kFx2CyclesPerMs : kEzusbCyclesPerMs),
      cyclesPerMs_(fx2 ? kFx2CyclesPerMs : kEzusbCyclesPerMs),
      requestCycleBound_(kRequestBoundMs * cyclesPerMs_) {
    fx2_ = fx2;
    if (fx2) {
        map_ = {FX2_SETUPDAT_ADDR, FX2_USBIRQ_ADDR, FX2_USBCS_ADDR,  FX2_EP0BUF_ADDR, FX2_EP0BUF_ADDR,
                FX2_EP0BCL_ADDR,   FX2_EP0BCL_ADDR, FX2_EP0CS_ADDR,  FX2_I2CS_ADDR,   FX2_I2DAT_ADDR,
                FX2_EP0CS_STALL,   FX2_EP0CS_HSNAK, FX2_EP0CS_BUSY,  FX2_EP0CS_BUSY};
    } else {
        map_ = {EZUSB_SETUPDAT_ADDR, EZUSB_USBIRQ_ADDR, EZUSB_USBCS_ADDR,     EZUSB_OUT0BUF_ADDR,
                EZUSB_IN0BUF_ADDR,   EZUSB_OUT0BC_ADDR, EZUSB_IN0BC_ADDR,     EZUSB_EP0CS_ADDR,
                EZUSB_I2CS_ADDR,     EZUSB_I2DAT_ADDR,  EZUSB_EP0CS_STALL,    EZUSB_EP0CS_HSNAK,
                EZUSB_EP0CS_IN_BUSY, EZUSB_EP0CS_OUT_BUSY};
    }
}

void EzusbChip::Start() {
    core_.Reset();
    active_ = false;
    ep0cs_ = 0;
    memory_[map_.usbirq] = 0;
    i2cs_ = 0;
    startPending_ = reading_ = false;
    ep1OutArmed_ = ep1InCommitted_ = false;
    ep1InCount_ = 0;
}

void EzusbChip::AttachJtag(JtagChain* chain) {
    jtag_ = chain;
    DrivePins();
}

bool EzusbChip::RunOrSkip(std::uint64_t cycles) {
    const std::uint64_t end = core_.Cycles() + cycles;
    while (!core_.Stopped() && core_.Cycles() < end) {
        const Mcs51Core::State from = core_.Snapshot();
        const std::uint64_t effects = effects_;
        for (int step = 0; step < kSpinSteps && effects_ == effects && !core_.Stopped() && core_.Cycles() < end;
             ++step) {
            core_.Step();
            if (effects_ == effects && core_.InState(from)) {
                if (core_.Cycles() < end) core_.Idle(end - core_.Cycles());
                return true;
            }
        }
        if (core_.Cycles() < end) core_.Run(std::min(kSpinCheckCycles, end - core_.Cycles()));
    }
    return false;
}

template <typename Done>
bool EzusbChip::RunUntil(Done done, std::uint64_t slice) {
    const std::uint64_t start = core_.Cycles();
    while (!done()) {
        if (core_.Stopped() || core_.Cycles() - start >= requestCycleBound_) return false;
        if (RunOrSkip(slice) && !done()) {
            // Nothing will change before the host acts, and it waits for this.
            if (core_.Cycles() - start < requestCycleBound_) core_.Idle(start + requestCycleBound_ - core_.Cycles());
            return false;
        }
    }
    return true;
}

EzusbChip::Result EzusbChip::BulkOut(const std::uint8_t* data, std::uint32_t length) {
    if (!fx2_) return Result::TimedOut;
    std::uint32_t sent = 0;
    do {
        if (!RunUntil([this] { return ep1OutArmed_; }, kBulkSlice)) return Result::TimedOut;
        const std::uint32_t n = std::min(kPacket, length - sent);
        if (n > 0) std::memcpy(&memory_[kEp1OutBuf], data + sent, n);
        memory_[kEp1OutBc] = static_cast<std::uint8_t>(n);
        ep1OutArmed_ = false;
        sent += n;
    } while (sent < length);
    requestEnd_ = core_.Cycles();
    RunOrSkip(kBulkWritePauseMs * cyclesPerMs_);
    return Result::Completed;
}

void EzusbChip::Run(std::uint64_t cycles) { RunOrSkip(cycles); }

EzusbChip::Result EzusbChip::BulkIn(std::uint8_t* data, std::uint32_t length, std::uint32_t* returned) {
    if (returned != nullptr) *returned = 0;
    if (!fx2_) return Result::TimedOut;
    if (!RunUntil([this] { return ep1InCommitted_; }, kBulkSlice)) return Result::TimedOut;
    const std::uint32_t n = std::min<std::uint32_t>({ep1InCount_, kPacket, length});
    if (n > 0) std::memcpy(data, &memory_[kEp1InBuf], n);
    ep1InCommitted_ = false;
    if (returned != nullptr) *returned = n;
    requestEnd_ = core_.Cycles();
    return Result::Completed;
}

std::uint8_t EzusbChip::ReadSfr(std::uint8_t address, std::uint8_t stored) {
    if (!fx2_) return stored;
    if (address == kEp01Stat) {
        return static_cast<std::uint8_t>((ep1OutArmed_ ? 0x02 : 0) | (ep1InCommitted_ ? 0x04 : 0));
    }
    if (address == JTAG_PORT_SFR) {
        // Inputs read the level outside; TDO comes from the chain.
        const std::uint8_t driven = core_.Sfr(JTAG_OE_SFR);
        if ((driven & kTdo) == 0) {
            const bool tdo = jtag_ == nullptr || jtag_->Tdo();
            stored = static_cast<std::uint8_t>((stored & ~kTdo) | (tdo ? kTdo : 0));
        }
    }
    return stored;
}

void EzusbChip::WriteSfr(std::uint8_t address, std::uint8_t value) {
    (void)value;
    if (fx2_ && (address == JTAG_PORT_SFR || address == JTAG_OE_SFR)) {
        ++effects_;  // the pins reach the chain
        DrivePins();
    }
}

void EzusbChip::DrivePins() {
    if (jtag_ == nullptr || !fx2_) return;
    const std::uint8_t latch = core_.Sfr(JTAG_PORT_SFR);
    const std::uint8_t driven = core_.Sfr(JTAG_OE_SFR);
    const auto level = [&](std::uint8_t pin, bool undriven) { return (driven & pin) != 0 ? (latch & pin) != 0 : undriven; };
    jtag_->SetPins(level(kTck, false), level(kTms, true), level(kTdi, true));
}

EzusbChip::Result EzusbChip::ControlTransfer(const std::uint8_t setup[8], std::uint8_t* data, std::uint32_t length,
                                             std::uint32_t* returned) {
    if (returned != nullptr) *returned = 0;
    std::memcpy(&memory_[map_.setupdat], setup, 8);
    active_ = true;
    toHost_ = (setup[0] & 0x80) != 0;
    stalled_ = statusDone_ = false;
    outData_ = toHost_ ? nullptr : data;
    outRemaining_ = toHost_ ? 0 : length;
    inData_ = toHost_ ? data : nullptr;
    inLength_ = toHost_ ? length : 0;
    inCollected_ = 0;
    ep0cs_ = map_.hsnak;
    memory_[map_.usbirq] |= kSudav;

    const bool answered = RunUntil([this] { return stalled_ || statusDone_; }, kSlice);
    const Result result = !answered ? Result::TimedOut : stalled_ ? Result::Stalled : Result::Completed;
    active_ = false;
    ep0cs_ = 0;
    requestEnd_ = core_.Cycles();
    if (result == Result::Completed && returned != nullptr) {
        *returned = toHost_ ? std::min(inCollected_, length) : length - outRemaining_;
    }
    return result;
}

std::uint8_t EzusbChip::ReadXdata(std::uint16_t address) {
    if (fx2_) {
        if (address == kEp1OutCs) return static_cast<std::uint8_t>((memory_[address] & ~kEpBusy) | (ep1OutArmed_ ? kEpBusy : 0));
        if (address == kEp1InCs) return static_cast<std::uint8_t>((memory_[address] & ~kEpBusy) | (ep1InCommitted_ ? kEpBusy : 0));
    }
    // Packets move at once: the OUT buffer is busy only when the program
    // armed it and the host has nothing more to send.
    if (address == map_.ep0cs) return ep0cs_;
    if (address == map_.i2cs) {
        const std::uint8_t id = eeprom_.Config().addressBytes == 2 ? kI2cIdTwoByte : kI2cIdOneByte;
        return static_cast<std::uint8_t>(i2cs_ | id);
    }
    if (address == map_.i2dat) return I2cReadData();
    return memory_[address];
}

void EzusbChip::WriteXdata(std::uint16_t address, std::uint8_t value) {
    ++effects_;
    if (fx2_) {
        if (address == kEp1OutBc) {
            ep1OutArmed_ = true;  // any value arms the endpoint for the host's next packet
            return;
        }
        if (address == kEp1InBc) {
            memory_[address] = value;
            ep1InCount_ = value;
            ep1InCommitted_ = true;
            return;
        }
    }
    if (address == map_.usbirq) {
        memory_[address] = static_cast<std::uint8_t>(memory_[address] & ~value);  // write 1 to clear
        return;
    }
    if (address == map_.ep0cs) {
        if (value & map_.stall) stalled_ = true;
        if (value & map_.hsnak) statusDone_ = true;  // the status stage
        return;
    }
    if (address == map_.i2cs) {
        I2cControl(value);
        return;
    }
    if (address == map_.i2dat) {
        I2cData(value);
        return;
    }
    // On the FX2 one byte-count register serves both directions.
    if (active_ && !toHost_ && address == map_.outCount) {
        // Arming OUT: the host's next packet arrives at once.
        const std::uint32_t n = std::min(kPacket, outRemaining_);
        if (n > 0) std::memcpy(&memory_[map_.outBuffer], outData_, n);
        outData_ += n;
        outRemaining_ -= n;
        memory_[map_.outCount] = static_cast<std::uint8_t>(n);
        ep0cs_ = static_cast<std::uint8_t>(n == 0 ? ep0cs_ | map_.outBusy : ep0cs_ & ~map_.outBusy);
        return;
    }
    if (active_ && toHost_ && address == map_.inCount) {
        // Committing IN: the packet goes to the host at once.
        const std::uint32_t n = std::min<std::uint32_t>(value, kPacket);
        const std::uint32_t room = inLength_ > inCollected_ ? inLength_ - inCollected_ : 0;
        const std::uint32_t take = std::min(n, room);
        if (take > 0) std::memcpy(inData_ + inCollected_, &memory_[map_.inBuffer], take);
        inCollected_ += take;
        memory_[address] = value;
        return;
    }
    memory_[address] = value;
}

void EzusbChip::I2cControl(std::uint8_t value) {
    i2cs_ = static_cast<std::uint8_t>((i2cs_ & ~kI2cLastRead) | (value & kI2cLastRead));
    if (value & kI2cStart) {
        startPending_ = true;
        i2cs_ &= static_cast<std::uint8_t>(~kI2cDone);
    }
    if (value & kI2cStop) {
        eeprom_.Stop(core_.Cycles());
        reading_ = false;
        startPending_ = false;
    }
}

void EzusbChip::I2cData(std::uint8_t value) {
    bool ack = false;
    if (startPending_) {
        startPending_ = false;
        ack = eeprom_.Address(value, core_.Cycles());
        reading_ = ack && (value & 1) != 0;
        // Refused while its write cycle runs: the program's polling would
        // only spin until the cycle ends.
        if (!ack && (value >> 1) == eeprom_.Config().I2cAddress() && eeprom_.BusyUntil() > core_.Cycles()) core_.Idle(eeprom_.BusyUntil() - core_.Cycles());
    } else if (!reading_) {
        ack = eeprom_.Write(value);
    }
    i2cs_ = static_cast<std::uint8_t>((i2cs_ & kI2cLastRead) | kI2cDone | (ack ? kI2cAck : 0));
}

std::uint8_t EzusbChip::I2cReadData() {
    const std::uint8_t value = received_;
    if (reading_) {
        ++effects_;
        // Reading the data register starts the next byte's reception.
        received_ = eeprom_.Read();
        i2cs_ |= kI2cDone;
    }
    return value;
}

}  // namespace spindle::sim
