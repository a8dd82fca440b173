#include "sim/chip/EzusbChip.h"

#include <algorithm>
#include <cstring>

namespace spindle::sim {

namespace {

constexpr std::uint8_t kSudav = 0x01;
constexpr std::uint8_t kI2cStart = 0x80, kI2cStop = 0x40, kI2cLastRead = 0x20, kI2cIdTwoByte = 0x10,
                       kI2cIdOneByte = 0x08, kI2cAck = 0x02, kI2cDone = 0x01;
constexpr std::uint32_t kPacket = 64;
constexpr std::uint64_t kSlice = 20'000;

}  // namespace

EzusbChip::EzusbChip(bool fx2, std::vector<std::uint8_t>& memory, EepromConfig eeprom,
                     std::vector<std::uint8_t>& eepromBytes)
    : memory_(memory),
      core_(memory.data(), *this, fx2 ? 0x92 : 0xA0),
      eeprom_(eeprom, eepromBytes, kCyclesPerMs) {
    if (fx2) {
        map_ = {0xE6B8, 0xE65D, 0xE680, 0xE740, 0xE740, 0xE68B, 0xE68B, 0xE6A0, 0xE678, 0xE679,
                0x01,   0x80,   0x02,   0x02};
    } else {
        map_ = {0x7FE8, 0x7FAB, 0x7FD6, 0x7EC0, 0x7F00, 0x7FC5, 0x7FB5, 0x7FB4, 0x7FA5, 0x7FA6,
                0x01,   0x02,   0x04,   0x08};
    }
}

void EzusbChip::Start() {
    core_.Reset();
    active_ = false;
    ep0cs_ = 0;
    memory_[map_.usbirq] = 0;
    i2cs_ = 0;
    startPending_ = reading_ = false;
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

    const std::uint64_t start = core_.Cycles();
    Result result = Result::TimedOut;
    while (!core_.Stopped() && core_.Cycles() - start < kRequestCycleBound) {
        core_.Run(kSlice);
        if (stalled_) {
            result = Result::Stalled;
            break;
        }
        if (statusDone_) {
            result = Result::Completed;
            break;
        }
    }
    active_ = false;
    ep0cs_ = 0;
    if (result == Result::Completed && returned != nullptr) {
        *returned = toHost_ ? std::min(inCollected_, length) : length - outRemaining_;
    }
    return result;
}

std::uint8_t EzusbChip::ReadXdata(std::uint16_t address) {
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
    } else if (!reading_) {
        ack = eeprom_.Write(value);
    }
    i2cs_ = static_cast<std::uint8_t>((i2cs_ & kI2cLastRead) | kI2cDone | (ack ? kI2cAck : 0));
}

std::uint8_t EzusbChip::I2cReadData() {
    const std::uint8_t value = received_;
    if (reading_) {
        // Reading the data register starts the next byte's reception.
        received_ = eeprom_.Read();
        i2cs_ |= kI2cDone;
    }
    return value;
}

}  // namespace spindle::sim
