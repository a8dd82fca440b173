#include "protocol/InstrumentProtocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "device/EzusbRequests.h"
#include "platform/Clock.h"
#include "platform/Format.h"
#include "platform/SlotJournal.h"
#include "platform/UserInterface.h"

namespace spindle {

namespace {

// Every request is built in a zeroed buffer of this size; only the command's
// own length is sent.
constexpr std::size_t kRequestBufferSize = 20;
using RequestBuffer = std::array<std::uint8_t, kRequestBufferSize>;

constexpr std::uint32_t kSlotReplyLength = 17;
constexpr std::size_t kSlotValueOffset = 2;     // two leading reply bytes
constexpr std::uint32_t kSlotWriteLength = 17;  // opcode, slot, 15 value bytes

constexpr std::uint8_t kOpQueryInfoSlot = 0x05;
constexpr std::uint8_t kOpWriteInfoSlot = 0x06;
constexpr std::uint8_t kOpQueryAccessorySlot = 0x23;
constexpr std::uint8_t kOpWriteAccessorySlot = 0x24;
constexpr std::uint8_t kOpCommitAccessorySlots = 0x27;
constexpr std::uint8_t kOpQueryAccessoryInfo = 0x0C;
constexpr std::uint8_t kOpReadFpgaRegister = 0x6B;
constexpr std::uint8_t kOpPsocCommand = 0x69;
constexpr std::uint8_t kOpPsocRegister = 0x68;
constexpr std::uint8_t kOpBoardTemperature = 0x6C;
constexpr std::uint8_t kOpTecStatus = 0x3F;
constexpr std::uint8_t kOpTecSetpoint = 0x3E;
constexpr std::uint8_t kOpTecOnOff = 0x0B;
constexpr std::uint8_t kOpFanOnOff = 0x0D;
constexpr std::uint8_t kOpLightOn = 0x03;
constexpr std::uint8_t kOpLightPulsed = 0x21;
constexpr std::uint8_t kOpLightDac = 0x25;
constexpr std::uint8_t kOpAccessoryTemperature = 0x20;

constexpr std::uint8_t kBoardTemperatureTag = 0x08;
// Degrees Celsius per count of the board temperature sensor, as the
// instruments were calibrated against (deliberately not 1/256).
constexpr float kBoardTemperatureFactor = 0.003906f;

constexpr std::uint8_t kLanternAccessoryId = 2;
constexpr std::uint8_t kSlopeSlot = 1;
constexpr std::uint8_t kInterceptSlot = 2;
constexpr int kTemperatureReadingsPerGroup = 3;

std::uint16_t BigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] * 256 + bytes[1]);
}
std::uint8_t High(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }
std::uint8_t Low(std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

bool IsNull(DeviceHandle handle) { return handle == kNullHandle; }

bool IsValidTemperatureReading(std::uint32_t raw) { return raw != 0 && (raw & 0xFFFF) != 0xFFFF; }

}  // namespace

SlotWriteValue MakeSlotWriteValue(std::string_view text) {
    SlotWriteValue value{};
    std::copy_n(text.begin(), std::min(text.size(), kSlotValueLength), value.begin());
    return value;
}

std::string SlotText(const SlotReadValue& value) {
    const auto end = std::find(value.begin(), value.end(), '\0');
    return std::string(value.begin(), end);
}

bool IsLanternAttached(const AccessoryInfo& info) { return info[0] == kLanternAccessoryId; }

std::string FormatVersionText(std::uint16_t value) {
    return StrPrintf("%d.%d%d.%d", (value >> 12) & 0xF, (value >> 8) & 0xF, (value >> 4) & 0xF, value & 0xF);
}

// --- Transfers --------------------------------------------------------------

bool CSpecProtocol::SendWarned(DeviceHandle handle, const std::uint8_t* request, std::uint32_t length) {
    return BulkOut(platform_, handle, kRequestPipe, request, length, true);
}

bool CSpecProtocol::ReceiveWarned(DeviceHandle handle, std::uint8_t* reply, std::uint32_t length) {
    return BulkIn(platform_, handle, kReplyPipe, reply, length, true);
}

// --- Stored values ------------------------------------------------------------

bool CSpecProtocol::QuerySlot(std::uint8_t opcode, DeviceHandle handle, std::uint8_t slot, SlotReadValue& value) {
    // Cleared before anything else, so that no failure path can leave the
    // caller holding an earlier slot's (or device's) bytes.
    value.fill('\0');
    if (IsNull(handle)) return false;
    RequestBuffer buffer{};
    buffer[0] = opcode;
    buffer[1] = slot;
    buffer[2] = 0x01;
    if (!BulkOut(platform_, handle, kRequestPipe, buffer.data(), 3, false)) return false;
    buffer.fill(0);
    if (!BulkIn(platform_, handle, kReplyPipe, buffer.data(), kSlotReplyLength, false)) return false;
    // Reply bytes 2..16 are the value; bytes 17..19 of the cleared buffer
    // give the three terminating zeros.
    std::copy_n(buffer.begin() + kSlotValueOffset, value.size(), reinterpret_cast<std::uint8_t*>(value.data()));
    if (platform_.slotJournal != nullptr) {
        platform_.slotJournal->SlotRead(opcode == kOpQueryAccessorySlot, slot,
                                        reinterpret_cast<const std::uint8_t*>(value.data()));
    }
    return true;
}

bool CSpecProtocol::WriteSlot(std::uint8_t opcode, DeviceHandle handle, std::uint8_t slot,
                              const SlotWriteValue& value) {
    if (IsNull(handle)) return false;
    RequestBuffer buffer{};
    buffer[0] = opcode;
    buffer[1] = slot;
    // 16 bytes of the value go into the request; only 15 of them are sent.
    std::copy_n(reinterpret_cast<const std::uint8_t*>(value.data()), value.size(), buffer.begin() + 2);
    ISlotJournal* journal = platform_.slotJournal;
    const bool accessory = opcode == kOpWriteAccessorySlot;
    if (journal != nullptr) journal->SlotWriting(accessory, slot, buffer.data() + 2);
    if (!BulkOut(platform_, handle, kRequestPipe, buffer.data(), kSlotWriteLength, false)) {
        if (journal != nullptr) journal->SlotWritten(accessory, slot, false);
        return false;
    }
    // The device needs this long to store the value before the next command.
    platform_.clock.Sleep(kSlotWritePauseMs);
    if (journal != nullptr) journal->SlotWritten(accessory, slot, true);
    return true;
}

bool CSpecProtocol::QueryInfoSlot(DeviceHandle handle, std::uint8_t slot, SlotReadValue& value) {
    return QuerySlot(kOpQueryInfoSlot, handle, slot, value);
}

bool CSpecProtocol::WriteInfoSlot(DeviceHandle handle, std::uint8_t slot, const SlotWriteValue& value) {
    return WriteSlot(kOpWriteInfoSlot, handle, slot, value);
}

bool CSpecProtocol::QueryAccessorySlot(DeviceHandle handle, std::uint8_t slot, SlotReadValue& value) {
    return QuerySlot(kOpQueryAccessorySlot, handle, slot, value);
}

bool CSpecProtocol::WriteAccessorySlot(DeviceHandle handle, std::uint8_t slot, const SlotWriteValue& value) {
    return WriteSlot(kOpWriteAccessorySlot, handle, slot, value);
}

bool CSpecProtocol::CommitAccessorySlots(DeviceHandle handle) {
    RequestBuffer buffer{};
    buffer[0] = kOpCommitAccessorySlots;
    if (!SendWarned(handle, buffer.data(), 2)) return false;
    // The accessory writes its non-volatile memory meanwhile.
    platform_.clock.Sleep(kCommitPauseMs);
    return true;
}

bool CSpecProtocol::QueryAccessoryInfo(DeviceHandle handle, AccessoryInfo& info) {
    // A failed query must never read as "Lantern attached".
    info.fill(0);
    if (IsNull(handle)) return false;
    RequestBuffer buffer{};
    buffer[0] = kOpQueryAccessoryInfo;
    if (!SendWarned(handle, buffer.data(), 2)) return false;
    return ReceiveWarned(handle, info.data(), static_cast<std::uint32_t>(info.size()));
}

// --- FPGA and versions ----------------------------------------------------------

bool CSpecProtocol::ReadFpgaRegister(DeviceHandle handle, FpgaRegisters& registers, int index) {
    if (IsNull(handle)) return false;
    if (index < 0 || index >= static_cast<int>(kFpgaRegisterCount)) return false;
    RequestBuffer buffer{};
    buffer[0] = kOpReadFpgaRegister;
    buffer[1] = kFpgaRegisterAddresses[static_cast<std::size_t>(index)];
    if (!SendWarned(handle, buffer.data(), 2)) return false;
    // The reply lands in the request buffer; its byte 0 is not used.
    if (!ReceiveWarned(handle, buffer.data(), 3)) return false;
    const std::uint16_t value = static_cast<std::uint16_t>(buffer[1] + 256 * buffer[2]);
    if (index == 0) {
        registers.register0 = value;
    } else if (index == 1) {
        const std::string text = FormatVersionText(value);
        registers.versionText.fill('\0');
        std::copy_n(text.begin(), std::min(text.size(), registers.versionText.size() - 1),
                    registers.versionText.begin());
    } else {
        registers.values[static_cast<std::size_t>(index - 2)] = value;
    }
    return true;
}

// The PSOC answers an item request (0x69 ..., item) through the next 0x68
// read: three bytes, the value big-endian first.
bool CSpecProtocol::ReadPsocItem(DeviceHandle handle, std::uint8_t item, std::uint16_t& value) {
    if (IsNull(handle)) return false;
    RequestBuffer buffer{};
    const std::uint8_t request[] = {kOpPsocCommand, 0x10, 0x02, 0x01, item};
    std::copy(std::begin(request), std::end(request), buffer.begin());
    if (!SendWarned(handle, buffer.data(), 5)) return false;
    buffer.fill(0);
    buffer[0] = kOpPsocRegister;
    if (!SendWarned(handle, buffer.data(), 1)) return false;
    if (!ReceiveWarned(handle, buffer.data(), 3)) return false;
    value = BigEndian16(buffer.data());
    return true;
}

bool CSpecProtocol::ReadPsocVersion(DeviceHandle handle, std::string& text) {
    std::uint16_t version = 0;
    if (!ReadPsocItem(handle, 0x03, version)) return false;
    text = FormatVersionText(version);
    return true;
}

bool CSpecProtocol::ReadCondorPsocVersion(DeviceHandle handle, std::string& text) {
    if (IsNull(handle)) return false;
    std::array<std::uint8_t, 4> reply{};
    // The first answer after the request can be stale, so the version is
    // asked twice and the second answer is used.
    for (int attempt = 0; attempt < 2; ++attempt) {
        RequestBuffer buffer{};
        buffer[0] = kOpPsocRegister;
        buffer[1] = 0x41;
        if (!SendWarned(handle, buffer.data(), 5)) return false;
        if (!ReceiveWarned(handle, reply.data(), static_cast<std::uint32_t>(reply.size()))) return false;
    }
    text = FormatVersionText(BigEndian16(reply.data()));
    return true;
}

bool CSpecProtocol::ReadFirmwareVersionText(DeviceHandle handle, std::string& text) {
    // A failed read leaves an empty text rather than an earlier device's.
    text.clear();
    if (IsNull(handle)) return false;
    return ReadStringDescriptor(platform_, handle, 1, text);
}

// --- PSOC, TEC and board temperature ------------------------------------------------

bool CSpecProtocol::ReadPsocAdc(DeviceHandle handle, std::uint16_t& value) {
    return ReadPsocItem(handle, 0x01, value);
}

bool CSpecProtocol::WritePsocDac(DeviceHandle handle, std::uint16_t value) {
    if (IsNull(handle)) return false;
    RequestBuffer buffer{};
    const std::uint8_t request[] = {kOpPsocCommand, 0x10, 0x02, 0x03, 0x02, High(value), Low(value)};
    std::copy(std::begin(request), std::end(request), buffer.begin());
    return SendWarned(handle, buffer.data(), 7);
}

bool CSpecProtocol::ReadBoardTemperature(DeviceHandle handle, float& celsius) {
    if (IsNull(handle)) return false;
    RequestBuffer buffer{};
    buffer[0] = kOpBoardTemperature;
    if (!SendWarned(handle, buffer.data(), 1)) return false;
    if (!ReceiveWarned(handle, buffer.data(), 3)) return false;
    if (buffer[0] != kBoardTemperatureTag) return false;
    const std::uint16_t raw = static_cast<std::uint16_t>(buffer[1] + 256 * buffer[2]);
    celsius = static_cast<float>(raw) * kBoardTemperatureFactor;
    return true;
}

bool CSpecProtocol::ReadPsocRegister(DeviceHandle handle, PsocRegisterBuffer& buffer) {
    if (IsNull(handle)) return false;
    RequestBuffer request{};
    request[0] = kOpPsocRegister;
    request[1] = buffer[0];
    if (!SendWarned(handle, request.data(), 5)) return false;
    return ReceiveWarned(handle, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
}

bool CSpecProtocol::WritePsocRegister(DeviceHandle handle, std::uint8_t reg, std::uint16_t value,
                                      PsocRegisterBuffer* reply) {
    if (IsNull(handle)) return false;
    RequestBuffer request{};
    request[0] = kOpPsocRegister;
    request[1] = reg;
    request[2] = High(value);
    request[3] = Low(value);
    if (!SendWarned(handle, request.data(), 5)) return false;
    // The device answers with 4 bytes; they are read into a buffer of their
    // own size, never over the 16-bit value.
    PsocRegisterBuffer answer{};
    if (!ReceiveWarned(handle, answer.data(), static_cast<std::uint32_t>(answer.size()))) return false;
    if (reply != nullptr) *reply = answer;
    return true;
}

bool CSpecProtocol::ReadTecStatus(DeviceHandle handle, TecStatus& status) {
    RequestBuffer buffer{};
    buffer[0] = kOpTecStatus;
    if (!SendWarned(handle, buffer.data(), 1)) return false;
    std::array<std::uint8_t, 2 * std::tuple_size_v<TecStatus>> reply{};
    if (!ReceiveWarned(handle, reply.data(), static_cast<std::uint32_t>(reply.size()))) return false;
    for (std::size_t i = 0; i < status.size(); ++i) status[i] = BigEndian16(&reply[2 * i]);
    return true;
}

bool CSpecProtocol::SetTecControl(DeviceHandle handle, int selector, std::uint16_t value) {
    RequestBuffer buffer{};
    std::uint32_t length = 0;
    switch (selector) {
        case 0:  // setpoint, in tenths of a degree
            buffer[0] = kOpTecSetpoint;
            buffer[2] = High(value);
            buffer[3] = Low(value);
            length = 6;
            break;
        case 1:  // TEC on/off
            buffer[0] = kOpTecOnOff;
            buffer[1] = Low(value);
            length = 2;
            break;
        case 2:  // fan on/off
            buffer[0] = kOpFanOnOff;
            buffer[1] = Low(value);
            length = 2;
            break;
        default:
            return true;
    }
    return SendWarned(handle, buffer.data(), length);
}

// --- Lantern light source -------------------------------------------------------

bool CSpecProtocol::SendLightCommand(DeviceHandle handle, std::uint8_t opcode, std::uint8_t first,
                                     std::uint8_t second) {
    // The three light commands give up on the invalid handle before any I/O.
    if (handle == kInvalidHandle) return false;
    RequestBuffer buffer{};
    buffer[0] = opcode;
    buffer[1] = first;
    buffer[2] = second;
    return SendWarned(handle, buffer.data(), 3);
}

bool CSpecProtocol::SetLightOn(DeviceHandle handle, std::uint8_t on) {
    return SendLightCommand(handle, kOpLightOn, on, 0);
}

bool CSpecProtocol::SetLightPulsed(DeviceHandle handle, std::uint8_t on) {
    return SendLightCommand(handle, kOpLightPulsed, on, 0);
}

bool CSpecProtocol::SetLightDac(DeviceHandle handle, std::uint16_t value) {
    return SendLightCommand(handle, kOpLightDac, Low(value), High(value));
}

std::uint32_t CSpecProtocol::ReadAccessoryTemperature(DeviceHandle handle) {
    RequestBuffer request{};
    request[0] = kOpAccessoryTemperature;
    std::array<std::uint8_t, 4> reply{};
    if (!SendWarned(handle, request.data(), 1)) return 0;
    if (!ReceiveWarned(handle, reply.data(), static_cast<std::uint32_t>(reply.size()))) return 0;
    std::uint32_t raw = DecodeLe32(reply.data());
    // While the sensor is busy it answers 0 or a reading whose low half is
    // all ones. Ask again in groups of three, 150 ms apart, and judge the
    // last answer of each group; give up after a bounded number of groups.
    for (int group = 0; !IsValidTemperatureReading(raw); ++group) {
        if (group == kTemperatureRetryGroups) return 0;
        for (int i = 0; i < kTemperatureReadingsPerGroup; ++i) {
            platform_.clock.Sleep(kAccessoryTemperaturePauseMs);
            // A transfer that fails ends the command: the device is gone,
            // and asking on would only repeat the warning.
            if (!SendWarned(handle, request.data(), 1)) return 0;
            if (!ReceiveWarned(handle, reply.data(), static_cast<std::uint32_t>(reply.size()))) return 0;
        }
        raw = DecodeLe32(reply.data());
    }
    return raw;
}

bool CSpecProtocol::AverageAccessoryTemperature(DeviceHandle handle, int count, float& average) {
    if (count < 1) return false;
    SlotReadValue slope{};
    SlotReadValue intercept{};
    // Without the calibration line the readings cannot be converted.
    if (!QueryAccessorySlot(handle, kSlopeSlot, slope)) return false;
    if (!QueryAccessorySlot(handle, kInterceptSlot, intercept)) return false;
    const float slopeValue = static_cast<float>(std::atof(slope.data()));
    const float interceptValue = static_cast<float>(std::atof(intercept.data()));
    float sum = 0.0f;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t raw = ReadAccessoryTemperature(handle);
        if (raw == 0) return false;
        sum = static_cast<float>(raw) * slopeValue + interceptValue + sum;
        platform_.clock.Sleep(kAccessoryTemperaturePauseMs);
    }
    average = sum / static_cast<float>(count);
    return true;
}

// --- Device descriptor ------------------------------------------------------------

std::uint16_t CSpecProtocol::DescriptorWrapper(DeviceHandle handle, DescriptorField field) {
    if (handle == kInvalidHandle) {
        platform_.ui.MessageBox(kInvalidHandleMessage, kInvalidHandleTitle, mb::kOk);
        return 0;
    }
    return ReadDeviceDescriptor(platform_, handle, field);
}

std::uint16_t CSpecProtocol::GetProductId(DeviceHandle handle) {
    return DescriptorWrapper(handle, DescriptorField::ProductId);
}

std::uint16_t CSpecProtocol::GetVendorId(DeviceHandle handle) {
    return DescriptorWrapper(handle, DescriptorField::VendorId);
}

std::uint16_t CSpecProtocol::GetProductStringIndex(DeviceHandle handle) {
    return DescriptorWrapper(handle, DescriptorField::ProductStringIndex);
}

}  // namespace spindle
