#include "sim/chip/EepromModel.h"

namespace spindle::sim {

EepromModel::EepromModel(EepromConfig config, std::vector<std::uint8_t>& memory, std::uint64_t cyclesPerMs)
    : config_(config), memory_(memory), cyclesPerMs_(cyclesPerMs) {
    if (memory_.size() != config_.size) memory_.resize(config_.size, 0xFF);
}

bool EepromModel::Address(std::uint8_t addressByte, std::uint64_t now) {
    pending_.clear();
    if ((addressByte >> 1) != config_.I2cAddress() || now < busyUntil_) {
        phase_ = Phase::Idle;
        return false;
    }
    if (addressByte & 1) {
        phase_ = Phase::Reading;
    } else {
        phase_ = config_.addressBytes == 2 ? Phase::AddressHigh : Phase::AddressLow;
    }
    return true;
}

bool EepromModel::Write(std::uint8_t value) {
    switch (phase_) {
        case Phase::AddressHigh:
            pointer_ = static_cast<std::uint32_t>(value) << 8;
            phase_ = Phase::AddressLow;
            return true;
        case Phase::AddressLow:
            pointer_ = ((pointer_ & 0xFF00) | value) % config_.size;
            pageStart_ = pointer_ - pointer_ % config_.pageSize;
            phase_ = Phase::Data;
            return true;
        case Phase::Data:
            pending_.emplace_back(pointer_, value);
            // Within the page the address counter wraps to the page's start.
            pointer_ = pageStart_ + (pointer_ + 1 - pageStart_) % config_.pageSize;
            return true;
        case Phase::Idle:
        case Phase::Reading: return false;
    }
    return false;
}

std::uint8_t EepromModel::Read() {
    const std::uint8_t value = memory_[pointer_ % config_.size];
    pointer_ = (pointer_ + 1) % config_.size;
    return value;
}

void EepromModel::Stop(std::uint64_t now) {
    if (phase_ == Phase::Data && !pending_.empty()) {
        for (const auto& [address, value] : pending_) memory_[address % config_.size] = value;
        busyUntil_ = now + config_.writeCycleMs * cyclesPerMs_;
        changed_ = true;
    }
    pending_.clear();
    phase_ = Phase::Idle;
}

}  // namespace spindle::sim
