#pragma once
#include <cstdint>
#include <vector>

namespace spindle::sim {

// How a device's boot EEPROM is built (a 24-series I2C part).
struct EepromConfig {
    std::uint32_t size = 0x10000;       // bytes (a 24C512)
    int addressBytes = 2;               // 1: at I2C address 0x50; 2: at 0x51
    std::uint32_t pageSize = 128;       // page writes wrap within a page
    std::uint32_t writeCycleMs = 5;     // a page write's busy time after STOP

    std::uint8_t I2cAddress() const { return addressBytes == 1 ? 0x50 : 0x51; }
    bool operator==(const EepromConfig&) const = default;
};

// A 24-series EEPROM on an I2C bus, driven byte by byte by the chip's I2C
// controller. Time is the emulated CPU's cycle count: after a STOP that
// ends a write, the part does not acknowledge its address until its write
// cycle has passed.
class EepromModel {
public:
    EepromModel(EepromConfig config, std::vector<std::uint8_t>& memory, std::uint64_t cyclesPerMs);

    // START and the address byte; true when the part acknowledges.
    bool Address(std::uint8_t addressByte, std::uint64_t now);
    // A byte written after the address: memory address bytes first, then
    // data into the page. True when acknowledged.
    bool Write(std::uint8_t value);
    // The next byte of a sequential read (the address counter wraps at the size).
    std::uint8_t Read();
    // STOP: a write with data starts the write cycle.
    void Stop(std::uint64_t now);

    const EepromConfig& Config() const { return config_; }
    // The cycle count at which the last write cycle ends.
    std::uint64_t BusyUntil() const { return busyUntil_; }
    // Calls after every completed page write (to save it).
    bool TakeChanged() {
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

private:
    enum class Phase { Idle, AddressHigh, AddressLow, Data, Reading };

    EepromConfig config_;
    std::vector<std::uint8_t>& memory_;
    std::uint64_t cyclesPerMs_;
    Phase phase_ = Phase::Idle;
    std::uint32_t pointer_ = 0;
    std::uint32_t pageStart_ = 0;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> pending_;
    std::uint64_t busyUntil_ = 0;
    bool changed_ = false;
};

}  // namespace spindle::sim
