#include "sim/SimDevice.h"

#include "sim/chip/EzusbChip.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "device/EzusbDriver.h"
#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "player_status.h"
#include "inventory/Classification.h"
#include "platform/Format.h"

namespace spindle::sim {

namespace {

constexpr std::uint16_t kMakerVendor = 0xFA57;
constexpr std::uint32_t kMemorySize = 0x10000;
constexpr std::uint32_t kEepromSize = 0x10000;
constexpr std::uint32_t kCommandPipe = 0;
constexpr std::uint32_t kReplyPipe = 3;
constexpr std::size_t kMaxPendingReplies = 64;
// Temperatures move towards the setpoint by this many tenths per reading.
constexpr int kTecStep = 10;
constexpr int kPsocStep = 5;

struct NamedRequest {
    const char* name;
    std::uint32_t code;
};
constexpr NamedRequest kRequestNames[] = {
    {"descriptor", ioctl::kGetDeviceDescriptor}, {"reset", ioctl::kVendorRequest},
    {"string", ioctl::kGetStringDescriptor},     {"bulkin", ioctl::kBulkRead},
    {"bulkout", ioctl::kBulkWrite},              {"vendor", ioctl::kVendorOrClassRequest},
    {"anchor", ioctl::kAnchorDownload},
};

std::uint16_t Be16(std::uint8_t high, std::uint8_t low) { return static_cast<std::uint16_t>((high << 8) | low); }
std::uint8_t High(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }
std::uint8_t Low(std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

std::int16_t StepTowards(std::int16_t value, std::int16_t target, int step) {
    const int difference = target - value;
    const int move = std::clamp(difference, -step, step);
    return static_cast<std::int16_t>(value + move);
}

void SetReturned(std::uint32_t* returned, std::uint32_t count) {
    if (returned != nullptr) *returned = count;
}

}  // namespace

SlotBytes SlotFromText(std::string_view text) {
    SlotBytes bytes{};
    const std::size_t count = std::min(text.size(), kSlotBytes);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(text[i]);
    return bytes;
}

std::string TextOfSlot(const SlotBytes& bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (byte == 0) break;
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

ChipKind ChipKindFor(std::uint16_t vendorId, std::uint16_t productId) {
    // The chip generation the host expects for the pair: FX2 for the FX2 families.
    const ClassificationRow* row = Classify(vendorId, productId);
    return row != nullptr && IsFx2Family(row->family) ? ChipKind::Fx2 : ChipKind::Ezusb;
}

std::uint16_t CpucsAddressOf(ChipKind chip) { return chip == ChipKind::Fx2 ? kCpucsFx2 : kCpucsEzusb; }

// The RAM each chip's own request 0xA0 reaches: [first, end).
struct CoreWindow {
    ChipKind chip;
    std::uint32_t first, end;
};
constexpr CoreWindow kCoreWindows[] = {
    {ChipKind::Fx2, 0x0000, 0x2000}, {ChipKind::Fx2, 0xE000, 0xE200}, {ChipKind::Ezusb, 0x0000, 0x1B40}};

bool InCoreWindow(ChipKind chip, std::uint32_t address, std::uint32_t length) {
    return std::any_of(std::begin(kCoreWindows), std::end(kCoreWindows), [&](const CoreWindow& w) {
        return w.chip == chip && address >= w.first && address + length <= w.end;
    });
}

std::optional<std::uint32_t> RequestCodeFromName(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const auto& entry : kRequestNames) {
        if (lower == entry.name) return entry.code;
    }
    const std::string text(name);
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0') return std::nullopt;
    for (const auto& entry : kRequestNames) {
        if (value == entry.code) return entry.code;
    }
    return std::nullopt;
}

std::string RequestName(std::uint32_t code) {
    for (const auto& entry : kRequestNames) {
        if (code == entry.code) return entry.name;
    }
    return StrPrintf("0x%X", code);
}

SimDevice::SimDevice(DeviceConfig config)
    : config_(std::move(config)),
      chip_(config_.chip.value_or(ChipKindFor(config_.vendorId, config_.productId))),
      instrument_(config_.instrument.value_or(config_.vendorId == kMakerVendor)),
      ram_(kMemorySize, 0) {
    if (config_.lantern) liveAccessorySlots_ = config_.lantern->slots;
    const EepromConfig eeprom = config_.eeprom.value_or(EepromConfig{});
    eeprom_.assign(eeprom.size, 0xFF);
    std::copy_n(config_.eepromContents.begin(), std::min<std::size_t>(config_.eepromContents.size(), eeprom.size),
                eeprom_.begin());
    cpu_ = std::make_unique<EzusbChip>(chip_ == ChipKind::Fx2, ram_, eeprom, eeprom_);
    if (config_.jtag) {
        jtag_ = std::make_unique<JtagChain>(config_.jtag->device, config_.jtag->state);
        cpu_->AttachJtag(jtag_.get());
    }
}

SimDevice::~SimDevice() = default;

// ---- accessors -------------------------------------------------------------

int SimDevice::Index() const { return config_.index; }  // never changes
std::uint16_t SimDevice::VendorId() const {
    std::lock_guard guard(lock_);
    return config_.vendorId;
}
std::uint16_t SimDevice::ProductId() const {
    std::lock_guard guard(lock_);
    return config_.productId;
}
ChipKind SimDevice::Chip() const { return chip_; }
bool SimDevice::RunsInstrumentFirmware() const {
    std::lock_guard guard(lock_);
    return instrument_;
}

DeviceConfig SimDevice::Config() const {
    std::lock_guard guard(lock_);
    DeviceConfig config = config_;
    config.eepromContents = EepromContentsLocked();
    return config;
}

std::vector<std::uint8_t> SimDevice::EepromContentsLocked() const {
    // Trailing erased bytes are not kept.
    std::size_t used = eeprom_.size();
    while (used > 0 && eeprom_[used - 1] == 0xFF) --used;
    return {eeprom_.begin(), eeprom_.begin() + static_cast<std::ptrdiff_t>(used)};
}

SlotBytes SimDevice::Slot(int slot) const {
    std::lock_guard guard(lock_);
    const auto it = config_.slots.find(slot);
    return it == config_.slots.end() ? SlotBytes{} : it->second;
}

std::string SimDevice::SlotText(int slot) const { return TextOfSlot(Slot(slot)); }

void SimDevice::SetSlot(int slot, const SlotBytes& bytes) {
    {
        std::lock_guard guard(lock_);
        config_.slots[slot] = bytes;
        PersistentChangeLocked();
    }
    SavePendingChange();
}

void SimDevice::SetSlotText(int slot, std::string_view text) { SetSlot(slot, SlotFromText(text)); }

void SimDevice::SetString(int index, const std::string& text) {
    std::lock_guard guard(lock_);
    config_.strings[index] = text;
}

bool SimDevice::HasLantern() const {
    std::lock_guard guard(lock_);
    return config_.lantern.has_value();
}

SlotBytes SimDevice::AccessorySlot(int slot) const {
    std::lock_guard guard(lock_);
    const auto it = liveAccessorySlots_.find(slot);
    return it == liveAccessorySlots_.end() ? SlotBytes{} : it->second;
}

SlotBytes SimDevice::CommittedAccessorySlot(int slot) const {
    std::lock_guard guard(lock_);
    if (!config_.lantern) return {};
    const auto it = config_.lantern->slots.find(slot);
    return it == config_.lantern->slots.end() ? SlotBytes{} : it->second;
}

void SimDevice::SetAccessorySlot(int slot, const SlotBytes& bytes) {
    {
        std::lock_guard guard(lock_);
        if (!config_.lantern) config_.lantern = LanternModel{};
        config_.lantern->slots[slot] = bytes;
        liveAccessorySlots_[slot] = bytes;
        PersistentChangeLocked();
    }
    SavePendingChange();
}

int SimDevice::CommitCount() const {
    std::lock_guard guard(lock_);
    return commits_;
}

std::optional<LanternModel> SimDevice::Lantern() const {
    std::lock_guard guard(lock_);
    return config_.lantern;
}

void SimDevice::SetLanternTemperatureRaw(std::uint32_t raw) {
    std::lock_guard guard(lock_);
    if (!config_.lantern) config_.lantern = LanternModel{};
    config_.lantern->temperatureRaw = raw;
}

std::uint16_t SimDevice::FpgaRegister(std::uint8_t address) const {
    std::lock_guard guard(lock_);
    if (!config_.fpgaRegisters) return 0;
    const auto it = config_.fpgaRegisters->find(address);
    return it == config_.fpgaRegisters->end() ? 0 : it->second;
}

void SimDevice::SetFpgaRegister(std::uint8_t address, std::uint16_t value) {
    std::lock_guard guard(lock_);
    if (!config_.fpgaRegisters) config_.fpgaRegisters.emplace();
    (*config_.fpgaRegisters)[address] = value;
}

std::optional<PsocModel> SimDevice::Psoc() const {
    std::lock_guard guard(lock_);
    return config_.psoc;
}

void SimDevice::SetPsoc(const PsocModel& psoc) {
    std::lock_guard guard(lock_);
    config_.psoc = psoc;
}

std::uint16_t SimDevice::PsocRegister(std::uint8_t code) const {
    std::lock_guard guard(lock_);
    if (!config_.psocRegisters) return 0;
    const auto it = config_.psocRegisters->find(code);
    return it == config_.psocRegisters->end() ? 0 : it->second;
}

void SimDevice::SetPsocRegister(std::uint8_t code, std::uint16_t value) {
    std::lock_guard guard(lock_);
    if (!config_.psocRegisters) config_.psocRegisters.emplace();
    (*config_.psocRegisters)[code] = value;
}

std::optional<TecModel> SimDevice::Tec() const {
    std::lock_guard guard(lock_);
    return config_.tec;
}

void SimDevice::SetTec(const TecModel& tec) {
    std::lock_guard guard(lock_);
    config_.tec = tec;
}

bool SimDevice::CpuHeld() const {
    std::lock_guard guard(lock_);
    return cpuHeld_;
}

bool SimDevice::ProgramRunning() const {
    std::lock_guard guard(lock_);
    return programRunning_;
}

std::vector<std::uint8_t> SimDevice::Ram(std::uint32_t address, std::uint32_t length) const {
    std::lock_guard guard(lock_);
    if (address >= kMemorySize) return {};
    length = std::min(length, kMemorySize - address);
    return {ram_.begin() + address, ram_.begin() + address + length};
}

std::vector<std::uint8_t> SimDevice::Eeprom(std::uint32_t address, std::uint32_t length) const {
    std::lock_guard guard(lock_);
    const auto size = static_cast<std::uint32_t>(eeprom_.size());
    if (address >= size) return {};
    length = std::min(length, size - address);
    return {eeprom_.begin() + address, eeprom_.begin() + address + length};
}

void SimDevice::SetEeprom(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard guard(lock_);
        for (std::size_t i = 0; i < bytes.size(); ++i) eeprom_[(address + i) % eeprom_.size()] = bytes[i];
        PersistentChangeLocked();
    }
    SavePendingChange();
}

int SimDevice::AnchorDownloadsWhileRunning() const {
    std::lock_guard guard(lock_);
    return downloadsWhileRunning_;
}

std::optional<JtagConfigState> SimDevice::JtagState() const {
    std::lock_guard guard(lock_);
    if (!jtag_) return std::nullopt;
    return jtag_->State();
}

std::uint64_t SimDevice::JtagClocks() const {
    std::lock_guard guard(lock_);
    return jtag_ ? jtag_->Clocks() : 0;
}

std::optional<PlayerStatus> SimDevice::FpgaPlayerStatus() const {
    std::lock_guard guard(lock_);
    const std::uint8_t* block = &ram_[PLAYER_STATUS_ADDR];
    if (block[PS_MAGIC0] != 'X' || block[PS_MAGIC1] != 'P') return std::nullopt;
    const auto u32 = [&](int at) {
        return static_cast<std::uint32_t>(block[at] | block[at + 1] << 8 | block[at + 2] << 16) |
               static_cast<std::uint32_t>(block[at + 3]) << 24;
    };
    PlayerStatus status;
    status.state = block[PS_STATE];
    status.error = block[PS_ERROR];
    status.command = block[PS_COMMAND];
    status.offset = u32(PS_OFFSET);
    status.received = u32(PS_RECEIVED);
    status.executed = u32(PS_EXECUTED);
    status.opens = block[PS_OPENS];
    status.starts = block[PS_STARTS];
    status.fullMarks = block[PS_FULL_MARKS];
    status.lowMarks = block[PS_LOW_MARKS];
    status.bufferSize = static_cast<std::uint16_t>(block[PS_BUFFER_SIZE] | block[PS_BUFFER_SIZE + 1] << 8);
    return status;
}

void SimDevice::CatchUpLocked(std::uint64_t hostNowMs) {
    if (!programRunning_ || cpuHeld_) {
        hostTimeKept_ = false;
        return;
    }
    if (!hostTimeKept_) {
        MarkHostTimeLocked(hostNowMs);
        return;
    }
    const std::uint64_t chipMs = (cpu_->Cycles() - syncCycles_) / cpu_->CyclesPerMs();
    const std::uint64_t hostMs = hostNowMs > syncHostMs_ ? hostNowMs - syncHostMs_ : 0;
    if (hostMs <= chipMs) return;
    const std::uint64_t lag = hostMs - chipMs;
    cpu_->Run(std::min(lag, kCatchUpBoundMs) * cpu_->CyclesPerMs());
    if (lag > kCatchUpBoundMs) {
        // The rest is dropped: level again from here.
        syncHostMs_ = hostNowMs;
        syncCycles_ = cpu_->Cycles();
    }
    ProgramRanLocked();
}

void SimDevice::AdvanceThermalLocked(std::uint64_t hostNowMs) {
    if (!thermalTimeKept_) {
        thermalTimeKept_ = true;
        thermalMs_ = hostNowMs;
        return;
    }
    if (hostNowMs <= thermalMs_) return;
    const std::uint64_t tenths = (hostNowMs - thermalMs_) / kCoolingMsPerTenth;
    if (tenths == 0) return;
    thermalMs_ += tenths * kCoolingMsPerTenth;
    const int step = static_cast<int>(std::min<std::uint64_t>(tenths, 10000));
    bool changed = false;
    if (config_.tec && config_.tec->tecOn && config_.tec->temperature != config_.tec->setpoint) {
        TecModel& tec = *config_.tec;
        tec.temperature = StepTowards(tec.temperature, tec.setpoint, step);
        changed = true;
    }
    if (config_.psocRegisters) {
        auto& registers = *config_.psocRegisters;
        const auto enable = registers.find(0x10), temperature = registers.find(0x02), setpoint = registers.find(0x40);
        if (enable != registers.end() && enable->second != 0 && temperature != registers.end() &&
            setpoint != registers.end()) {
            const auto next = static_cast<std::uint16_t>(StepTowards(
                static_cast<std::int16_t>(temperature->second), static_cast<std::int16_t>(setpoint->second), step));
            changed = changed || next != temperature->second;
            temperature->second = next;
        }
    }
    if (changed) {
        rewritten_ = true;
        PersistentChangeLocked();
    }
}

std::uint64_t SimDevice::PacingWaitLocked(std::uint64_t hostNowMs) const {
    if (!hostTimeKept_) return 0;
    const std::uint64_t end = cpu_->RequestEndCycles();
    if (end <= syncCycles_) return 0;
    const std::uint64_t answered = syncHostMs_ + (end - syncCycles_) / cpu_->CyclesPerMs();
    return answered > hostNowMs ? answered - hostNowMs : 0;
}

std::uint64_t SimDevice::ChipMsLocked() const { return cpu_->Cycles() / cpu_->CyclesPerMs(); }

void SimDevice::MarkHostTimeLocked(std::uint64_t hostNowMs) {
    if (!programRunning_ || cpuHeld_) {
        hostTimeKept_ = false;
        return;
    }
    if (hostTimeKept_) return;
    hostTimeKept_ = true;
    syncHostMs_ = hostNowMs;
    syncCycles_ = cpu_->Cycles();
}

void SimDevice::ProgramRanLocked() {
    bool changed = cpu_->Eeprom().TakeChanged();
    if (jtag_ && config_.jtag && jtag_->State() != config_.jtag->state) {
        config_.jtag->state = jtag_->State();
        changed = true;
    }
    if (changed) {
        rewritten_ = true;
        PersistentChangeLocked();
    }
}

namespace {
// Appends to a request log, dropping its oldest entry at the bound.
template <typename Entry>
void Log(std::deque<Entry>& log, Entry entry) {
    if (log.size() >= SimDevice::kLogBound) log.pop_front();
    log.push_back(std::move(entry));
}
}  // namespace

std::vector<ResetRecord> SimDevice::ResetRequests() const {
    std::lock_guard guard(lock_);
    return {resetLog_.begin(), resetLog_.end()};
}

std::vector<VendorRequestRecord> SimDevice::VendorRequests() const {
    std::lock_guard guard(lock_);
    return {vendorLog_.begin(), vendorLog_.end()};
}

std::vector<std::vector<std::uint8_t>> SimDevice::BulkCommands() const {
    std::lock_guard guard(lock_);
    return {bulkLog_.begin(), bulkLog_.end()};
}

std::size_t SimDevice::PendingReplies() const {
    std::lock_guard guard(lock_);
    return replies_.size();
}

void SimDevice::QueueReply(const std::vector<std::uint8_t>& reply) {
    std::lock_guard guard(lock_);
    Reply(reply);
}

void SimDevice::SetCommandHook(CommandHook hook) {
    std::lock_guard guard(lock_);
    hook_ = std::move(hook);
}

std::uint64_t SimDevice::RequestCount(std::uint32_t code) const {
    std::lock_guard guard(lock_);
    const auto it = requestCounts_.find(code);
    return it == requestCounts_.end() ? 0 : it->second;
}

std::uint64_t SimDevice::TotalRequests() const {
    std::lock_guard guard(lock_);
    return totalRequests_;
}

std::uint64_t SimDevice::OpenCount() const {
    std::lock_guard guard(lock_);
    return opens_;
}

void SimDevice::ClearLogs() {
    std::lock_guard guard(lock_);
    requestCounts_.clear();
    totalRequests_ = 0;
    opens_ = 0;
    bulkLog_.clear();
    vendorLog_.clear();
    resetLog_.clear();
}

FaultSettings SimDevice::Faults() const {
    std::lock_guard guard(lock_);
    return config_.faults;
}

void SimDevice::SetFaults(const FaultSettings& faults) {
    std::lock_guard guard(lock_);
    config_.faults = faults;
    requestsSinceConnect_ = 0;
    temperatureReads_ = 0;
}

void SimDevice::SetFailOpen(bool fail) {
    std::lock_guard guard(lock_);
    config_.faults.failOpen = fail;
}

void SimDevice::SetRequestFails(std::uint32_t code, bool fail) {
    std::lock_guard guard(lock_);
    if (fail) {
        config_.faults.failingRequests.insert(code);
    } else {
        config_.faults.failingRequests.erase(code);
    }
}

void SimDevice::UnplugAfterRequests(std::optional<std::uint64_t> count) {
    std::lock_guard guard(lock_);
    config_.faults.unplugAfterRequests = count;
    requestsSinceConnect_ = 0;
}

void SimDevice::SetInvalidTemperatureReads(int count) {
    std::lock_guard guard(lock_);
    config_.faults.invalidTemperatureReads = count;
    temperatureReads_ = 0;
}

void SimDevice::Unplug() {
    std::lock_guard guard(lock_);
    unplugged_ = true;
}

void SimDevice::Reconnect() {
    std::lock_guard guard(lock_);
    ReconnectLocked();
}

bool SimDevice::IsUnplugged() const {
    std::lock_guard guard(lock_);
    return unplugged_;
}

void SimDevice::PowerUp() {
    std::lock_guard guard(lock_);
    ReconnectLocked();
    const bool fx2 = chip_ == ChipKind::Fx2;
    const std::uint8_t marker = eeprom_.size() >= 7 ? eeprom_[0] : 0xFF;
    const std::uint8_t idsOnly = fx2 ? 0xC0 : 0xB0;
    const std::uint8_t withFirmware = fx2 ? 0xC2 : 0xB2;
    if (marker != idsOnly && marker != withFirmware) return;
    // The boot header: vendor, product and device release, little-endian.
    config_.vendorId = static_cast<std::uint16_t>(eeprom_[1] | eeprom_[2] << 8);
    config_.productId = static_cast<std::uint16_t>(eeprom_[3] | eeprom_[4] << 8);
    config_.bcdDevice = static_cast<std::uint16_t>(eeprom_[5] | eeprom_[6] << 8);
    instrument_ = marker == withFirmware && config_.vendorId == kMakerVendor;
}

bool SimDevice::TakeRewrittenLocked() { return std::exchange(rewritten_, false) && !requestFailed_; }

void SimDevice::ReconnectLocked() {
    unplugged_ = false;
    rewritten_ = false;
    requestFailed_ = false;
    cpuHeld_ = false;
    ramLoaded_ = false;
    programRunning_ = false;
    std::fill(ram_.begin(), ram_.end(), 0);
    replies_.clear();
    pendingPsocRead_.reset();
    liveAccessorySlots_ = config_.lantern ? config_.lantern->slots : std::map<int, SlotBytes>{};
    requestsSinceConnect_ = 0;
}

// ---- requests (lock held) --------------------------------------------------

void SimDevice::SetPersistenceCallback(std::function<void(SimDevice&)> callback) {
    std::lock_guard guard(lock_);
    onPersistentChange_ = std::move(callback);
}

void SimDevice::SavePendingChange() {
    std::function<void(SimDevice&)> save;
    {
        std::lock_guard guard(lock_);
        if (!persistPending_) return;
        persistPending_ = false;
        save = onPersistentChange_;
    }
    if (save) save(*this);
}

bool SimDevice::TryOpenLocked() {
    if (unplugged_ || config_.faults.failOpen) return false;
    ++opens_;
    return true;
}

bool SimDevice::HandleLocked(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                             std::uint32_t outLength, std::uint32_t* returned) {
    SetReturned(returned, 0);
    if (unplugged_) return false;
    ++requestCounts_[code];
    ++totalRequests_;
    ++requestsSinceConnect_;
    if (config_.faults.unplugAfterRequests && requestsSinceConnect_ > *config_.faults.unplugAfterRequests) {
        unplugged_ = true;
        return false;
    }
    if (config_.faults.failingRequests.count(code) != 0) return false;

    switch (code) {
        case ioctl::kGetDeviceDescriptor: return DeviceDescriptor(out, outLength, returned);
        case ioctl::kGetStringDescriptor: return StringDescriptor(in, inLength, out, outLength, returned);
        case ioctl::kVendorRequest: return ResetRequest(in, inLength);
        case ioctl::kAnchorDownload: return AnchorDownload(in, inLength, out, outLength, returned);
        case ioctl::kVendorOrClassRequest: return VendorRequest(in, inLength, out, outLength, returned);
        case ioctl::kBulkWrite: return BulkWrite(in, inLength, out, outLength, returned);
        case ioctl::kBulkRead: return BulkRead(in, inLength, out, outLength, returned);
        default: return false;
    }
}

bool SimDevice::DeviceDescriptor(std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) const {
    if (out == nullptr || outLength < 18) return false;
    const std::uint16_t bcdUsb = chip_ == ChipKind::Fx2 ? 0x0200 : 0x0110;
    const std::uint8_t bytes[18] = {
        18, 1, Low(bcdUsb), High(bcdUsb), 0xFF, 0xFF, 0xFF, 64,
        Low(config_.vendorId), High(config_.vendorId), Low(config_.productId), High(config_.productId),
        Low(config_.bcdDevice), High(config_.bcdDevice), 0, config_.iProduct, 0, 1,
    };
    std::memcpy(out, bytes, sizeof bytes);
    SetReturned(returned, sizeof bytes);
    return true;
}

bool SimDevice::StringDescriptor(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                                 std::uint32_t outLength, std::uint32_t* returned) const {
    if (in == nullptr || inLength < 4 || out == nullptr || outLength < 2) return false;
    std::vector<std::uint8_t> descriptor;
    const int index = in[0];
    if (index == 0) {
        if (config_.strings.empty()) return false;
        descriptor = {4, 3, 0x09, 0x04};  // one language
    } else {
        const auto it = config_.strings.find(index);
        if (it == config_.strings.end()) return false;  // the chip stalls
        const std::size_t count = std::min<std::size_t>(it->second.size(), 126);
        descriptor.push_back(static_cast<std::uint8_t>(2 + 2 * count));
        descriptor.push_back(3);
        for (std::size_t i = 0; i < count; ++i) {
            descriptor.push_back(static_cast<std::uint8_t>(it->second[i]));
            descriptor.push_back(0);
        }
    }
    const std::uint32_t count = std::min<std::uint32_t>(outLength, static_cast<std::uint32_t>(descriptor.size()));
    std::memcpy(out, descriptor.data(), count);
    SetReturned(returned, count);
    return true;
}

bool SimDevice::ResetRequest(const std::uint8_t* in, std::uint32_t inLength) {
    if (in == nullptr || inLength < 10) return false;
    const ResetRequestBlock block = ResetRequestBlock::Decode(in);
    if (block.request != 0xA0 || block.direction != 0 || block.length != 1) return false;
    ResetRecord record{block.value, block.data, false};
    // An 0xA0 write to another address lands elsewhere in the chip and
    // leaves the 8051 as it was.
    if (block.value == CpucsAddressOf(chip_)) {
        record.tookEffect = true;
        const bool hold = (block.data & 0x01) != 0;
        if (hold) {
            cpuHeld_ = true;
            programRunning_ = false;
        } else if (cpuHeld_) {
            cpuHeld_ = false;
            programRunning_ = ramLoaded_;
            if (programRunning_) cpu_->Start();
            pendingPsocRead_.reset();
        }
    }
    Log(resetLog_, record);
    return true;
}

bool SimDevice::AnchorDownload(const std::uint8_t* in, std::uint32_t inLength, const std::uint8_t* data,
                               std::uint32_t length, std::uint32_t* returned) {
    if (in == nullptr || inLength < 2) return false;
    const std::uint32_t address = DecodeLe16(in);
    if (length > 0 && data == nullptr) return false;
    if (address + length > kMemorySize) return false;
    if (!cpuHeld_) ++downloadsWhileRunning_;
    if (length > 0) std::memcpy(&ram_[address], data, length);
    ramLoaded_ = true;
    SetReturned(returned, length);
    return true;
}

bool SimDevice::VendorRequest(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* data,
                              std::uint32_t length, std::uint32_t* returned) {
    if (in == nullptr || inLength < 10) return false;
    const VendorRequestControl block = VendorRequestControl::Decode(in);
    VendorRequestRecord record{block.request, block.direction, block.value, block.index, length, false};
    if (block.request == 0xA0 && block.direction != 0) {
        // The chip's USB core answers a read of its own request 0xA0 (an
        // upload of RAM) itself, whatever the 8051 runs or whether it is held.
        record.accepted = (length == 0 || data != nullptr) && InCoreWindow(chip_, block.value, length);
        if (record.accepted) {
            if (length > 0) std::memcpy(data, &ram_[block.value], length);
            SetReturned(returned, length);
        }
    } else if (programRunning_ && !cpuHeld_ && (length == 0 || data != nullptr)) {
        // Only a released downloaded program answers vendor requests, on the
        // emulated 8051; the instrument firmware and a held 8051 answer none.
        const std::uint8_t setup[8] = {static_cast<std::uint8_t>(block.direction != 0 ? 0xC0 : 0x40),
                                       block.request,
                                       static_cast<std::uint8_t>(block.value),
                                       static_cast<std::uint8_t>(block.value >> 8),
                                       static_cast<std::uint8_t>(block.index),
                                       static_cast<std::uint8_t>(block.index >> 8),
                                       static_cast<std::uint8_t>(length),
                                       static_cast<std::uint8_t>(length >> 8)};
        std::uint32_t moved = 0;
        const EzusbChip::Result result = length > 0xFFFF ? EzusbChip::Result::Stalled
                                                          : cpu_->ControlTransfer(setup, data, length, &moved);
        record.accepted = result == EzusbChip::Result::Completed;
        record.timedOut = result == EzusbChip::Result::TimedOut;
        if (record.accepted) SetReturned(returned, moved);
        ProgramRanLocked();
    }
    Log(vendorLog_, record);
    return record.accepted;
}

bool SimDevice::BulkWrite(const std::uint8_t* in, std::uint32_t inLength, const std::uint8_t* data,
                          std::uint32_t length, std::uint32_t* returned) {
    if (in == nullptr || inLength < 4 || DecodeLe32(in) != kCommandPipe) return false;
    // Nothing takes bulk data while the 8051 is held or runs no firmware.
    if (cpuHeld_ || !(instrument_ || programRunning_ || hook_)) return false;
    if (length > 0 && data == nullptr) return false;
    std::vector<std::uint8_t> command(data, data + length);
    Log(bulkLog_, command);
    if (hook_ && !command.empty()) {
        std::vector<std::vector<std::uint8_t>> hookReplies;
        if (hook_(command, hookReplies)) {
            for (auto& reply : hookReplies) Reply(std::move(reply));
            SetReturned(returned, length);
            return true;
        }
    }
    if (programRunning_) {
        // A downloaded program took over from the instrument firmware: the
        // bytes go to its endpoint 1 OUT.
        const bool sent = cpu_->BulkOut(data, length) == EzusbChip::Result::Completed;
        ProgramRanLocked();
        if (sent) SetReturned(returned, length);
        return sent;
    }
    if (!command.empty()) Command(command);
    SetReturned(returned, length);
    return true;
}

bool SimDevice::BulkRead(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out, std::uint32_t outLength,
                         std::uint32_t* returned) {
    if (in == nullptr || inLength < 4 || DecodeLe32(in) != kReplyPipe) return false;
    if (cpuHeld_) return false;
    if (replies_.empty()) {
        if (!programRunning_ || (outLength > 0 && out == nullptr)) return false;
        std::uint32_t count = 0;
        const bool read = cpu_->BulkIn(out, outLength, &count) == EzusbChip::Result::Completed;
        ProgramRanLocked();
        if (read) SetReturned(returned, count);
        return read;
    }
    // Replies queued by the instrument model or a test's hook come first; no
    // reply waiting: a real device lets the read time out.
    std::vector<std::uint8_t> reply = std::move(replies_.front());
    replies_.pop_front();
    const std::uint32_t count = std::min<std::uint32_t>(outLength, static_cast<std::uint32_t>(reply.size()));
    if (count > 0 && out == nullptr) return false;
    if (count > 0) std::memcpy(out, reply.data(), count);
    SetReturned(returned, count);
    return true;
}

void SimDevice::Reply(std::vector<std::uint8_t> reply) {
    if (replies_.size() >= kMaxPendingReplies) replies_.pop_front();
    replies_.push_back(std::move(reply));
}

bool SimDevice::TemperatureReadInvalid() {
    ++temperatureReads_;
    const int limit = config_.faults.invalidTemperatureReads;
    if (limit == kForever) return true;
    return limit > 0 && temperatureReads_ <= static_cast<std::uint64_t>(limit);
}

// The instrument firmware and the Lantern. Commands of the wrong length or
// for a part the device lacks are ignored, as the firmware ignores them: no
// reply, so the host's following read fails.
void SimDevice::Command(const std::vector<std::uint8_t>& command) {
    if (!instrument_) return;

    const std::size_t n = command.size();
    const std::uint8_t opcode = command[0];
    auto& lantern = config_.lantern;
    switch (opcode) {
        case 0x05:  // information slot read
            if (n == 3) {
                std::vector<std::uint8_t> reply{0x05, command[1]};
                const auto it = config_.slots.find(command[1]);
                const SlotBytes value = it == config_.slots.end() ? SlotBytes{} : it->second;
                reply.insert(reply.end(), value.begin(), value.end());
                Reply(std::move(reply));
            }
            return;
        case 0x06:  // information slot write: exactly the 15 bytes sent
            if (n == 17) {
                SlotBytes value{};
                std::copy(command.begin() + 2, command.end(), value.begin());
                config_.slots[command[1]] = value;
                PersistentChangeLocked();
            }
            return;
        case 0x0C:  // accessory information
            if (n == 2) Reply({static_cast<std::uint8_t>(lantern ? 2 : 0), static_cast<std::uint8_t>(lantern ? 1 : 0),
                               0, 0, 0, 0, 0});
            return;
        case 0x23:  // accessory slot read (live value)
            if (n == 3 && lantern) {
                std::vector<std::uint8_t> reply{0x23, command[1]};
                const auto it = liveAccessorySlots_.find(command[1]);
                const SlotBytes value = it == liveAccessorySlots_.end() ? SlotBytes{} : it->second;
                reply.insert(reply.end(), value.begin(), value.end());
                Reply(std::move(reply));
            }
            return;
        case 0x24:  // accessory slot write, non-volatile only after 0x27
            if (n == 17 && lantern) {
                SlotBytes value{};
                std::copy(command.begin() + 2, command.end(), value.begin());
                liveAccessorySlots_[command[1]] = value;
            }
            return;
        case 0x27:  // accessory commit
            if (n == 2 && lantern) {
                lantern->slots = liveAccessorySlots_;
                ++commits_;
                PersistentChangeLocked();
            }
            return;
        case 0x03:  // Lantern light on/off
            if (n == 3 && lantern) lantern->lightOn = command[1] != 0;
            return;
        case 0x21:  // Lantern pulsed on/off
            if (n == 3 && lantern) lantern->lightPulsed = command[1] != 0;
            return;
        case 0x25:  // Lantern D/A, low byte first
            if (n == 3 && lantern) lantern->dac = static_cast<std::uint16_t>(command[1] | (command[2] << 8));
            return;
        case 0x20:  // Lantern temperature, 32-bit little-endian
            if (n == 1 && lantern) {
                std::uint32_t raw = lantern->temperatureRaw;
                auto& sequence = lantern->temperatureSequence;
                while (!sequence.empty() && sequence.front().first <= 0) sequence.erase(sequence.begin());
                if (!sequence.empty()) {
                    raw = sequence.front().second;
                    --sequence.front().first;
                }
                if (TemperatureReadInvalid()) raw = config_.faults.invalidTemperatureValue;
                Reply({static_cast<std::uint8_t>(raw), static_cast<std::uint8_t>(raw >> 8),
                       static_cast<std::uint8_t>(raw >> 16), static_cast<std::uint8_t>(raw >> 24)});
            }
            return;
        case 0x6B:  // FPGA register, value little-endian in bytes 1 and 2
            if (n == 2 && config_.fpgaRegisters) {
                const auto it = config_.fpgaRegisters->find(command[1]);
                const std::uint16_t value = it == config_.fpgaRegisters->end() ? 0 : it->second;
                Reply({0x6B, Low(value), High(value)});
            }
            return;
        case 0x69:  // Falcon PSOC: select a read, or set the DAC
            if (!config_.psoc || n < 5 || command[1] != 0x10 || command[2] != 0x02) return;
            if (n == 5 && command[3] == 0x01 && (command[4] == 0x01 || command[4] == 0x03)) {
                pendingPsocRead_ = command[4];
            } else if (n == 7 && command[3] == 0x03 && command[4] == 0x02) {
                config_.psoc->dac = Be16(command[5], command[6]);
            }
            return;
        case 0x68:
            if (n == 1 && config_.psoc && pendingPsocRead_) {
                const std::uint16_t value = *pendingPsocRead_ == 0x03 ? config_.psoc->version : config_.psoc->adc;
                pendingPsocRead_.reset();
                Reply({High(value), Low(value), 0});
            } else if (n == 5 && config_.psocRegisters) {
                auto& registers = *config_.psocRegisters;
                const std::uint8_t code = command[1];
                if (code == 0x10 || code == 0x80) {
                    // Writes: TEC enable, and the setpoint (read back as 0x40).
                    const std::uint16_t value = Be16(command[2], command[3]);
                    registers[code] = value;
                    if (code == 0x80) registers[0x40] = value;
                    PersistentChangeLocked();
                    Reply({command[2], command[3], 0, 0});
                    return;
                }
                if (code == 0x02 && registers[0x10] != 0 && !thermalTimeKept_) {
                    registers[0x02] = static_cast<std::uint16_t>(StepTowards(
                        static_cast<std::int16_t>(registers[0x02]), static_cast<std::int16_t>(registers[0x40]),
                        kPsocStep));
                }
                const auto it = registers.find(code);
                const std::uint16_t value = it == registers.end() ? 0 : it->second;
                Reply({High(value), Low(value), 0, 0});
            }
            return;
        case 0x6C:  // board temperature: 0x08, raw little-endian
            if (n == 1 && config_.psoc) {
                const std::uint16_t raw = config_.psoc->boardTemperatureRaw;
                Reply({static_cast<std::uint8_t>(TemperatureReadInvalid() ? 0x00 : 0x08), Low(raw), High(raw)});
            }
            return;
        case 0x3F:  // TEC status, seven big-endian values
            if (n == 1 && config_.tec) {
                TecModel& tec = *config_.tec;
                if (tec.tecOn && !thermalTimeKept_) tec.temperature = StepTowards(tec.temperature, tec.setpoint, kTecStep);
                const int error = tec.setpoint - tec.temperature;
                tec.pidControl = static_cast<std::int16_t>(tec.tecOn ? std::clamp(-error * 40, -1000, 1000) : 0);
                const std::uint16_t status = static_cast<std::uint16_t>(tec.statusBits | (tec.tecOn ? 0x01 : 0) |
                                                                        (tec.fanOn ? 0x02 : 0));
                const std::uint16_t values[7] = {
                    status,
                    static_cast<std::uint16_t>(tec.boardTemperature),
                    static_cast<std::uint16_t>(tec.temperature),
                    static_cast<std::uint16_t>(error),
                    static_cast<std::uint16_t>(tec.setpoint),
                    static_cast<std::uint16_t>(tec.pidControl),
                    tec.version,
                };
                std::vector<std::uint8_t> reply;
                for (std::uint16_t value : values) {
                    reply.push_back(High(value));
                    reply.push_back(Low(value));
                }
                Reply(std::move(reply));
            }
            return;
        case 0x3E:  // TEC setpoint, tenths of a degree, big-endian
            if (n == 6 && config_.tec && command[1] == 0x00) {
                config_.tec->setpoint = static_cast<std::int16_t>(Be16(command[2], command[3]));
                PersistentChangeLocked();
            }
            return;
        case 0x0B:
            if (n == 2 && config_.tec) {
                config_.tec->tecOn = command[1] != 0;
                PersistentChangeLocked();
            }
            return;
        case 0x0D:
            if (n == 2 && config_.tec) {
                config_.tec->fanOn = command[1] != 0;
                PersistentChangeLocked();
            }
            return;
        default:
            return;
    }
}

}  // namespace spindle::sim
