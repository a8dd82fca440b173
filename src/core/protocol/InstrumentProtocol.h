#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/EzusbDevice.h"
#include "device/EzusbDriver.h"
#include "platform/Platform.h"
#include "platform/UserInterface.h"
#include "protocol/FpgaRegisters.h"

namespace spindle {

// Information and accessory slot values. A slot holds at most 15 bytes of
// text. A read hands the caller 18 bytes: the 15 value bytes and three zeros,
// so the text is always terminated. A write takes 16 bytes of the caller's
// buffer of which the first 15 go to the device (a 15-character value is
// stored without terminator).
inline constexpr std::size_t kSlotValueLength = 15;
using SlotReadValue = std::array<char, 18>;
using SlotWriteValue = std::array<char, 16>;

// A write buffer holding the first 15 characters of `text`, zero-padded, so
// that nothing but the text (and its terminator when shorter) is stored.
SlotWriteValue MakeSlotWriteValue(std::string_view text);
// The text of a read value (up to its first zero byte).
std::string SlotText(const SlotReadValue& value);

// The reply of the accessory query (0x0C): byte 0 is 2 when a Lantern light
// source is attached.
using AccessoryInfo = std::array<std::uint8_t, 7>;
bool IsLanternAttached(const AccessoryInfo& info);

// Seven TEC status values, in reply order (each sent high byte first).
using TecStatus = std::array<std::uint16_t, 7>;
// A PSOC register exchange: byte 0 carries the register code in, the 4-byte
// reply comes back over the whole buffer.
using PsocRegisterBuffer = std::array<std::uint8_t, 4>;

// The text of a 16-bit version value: "%d.%d%d.%d" from its four nibbles,
// most significant first (0x0102 gives "0.10.2").
std::string FormatVersionText(std::uint16_t value);

// The spectrometer command layer: short bulk exchanges, a request written to
// pipe 0 and a fixed-length reply read from pipe 3. It keeps no device state;
// a feature makes one per operation, calls its commands one after another on
// a handle it opened, and closes the handle itself.
//
// Commands return true on success. "Quiet" commands (the slot commands) pass
// report=false to BulkOut/BulkIn and report nothing; all others are "warned":
// a failed transfer shows the USB warning box before the command fails.
class CSpecProtocol {
public:
    explicit CSpecProtocol(Platform& platform) : platform_(platform) {}

    // Pipes of every request and reply.
    static constexpr std::uint32_t kRequestPipe = 0;
    static constexpr std::uint32_t kReplyPipe = 3;
    // Protocol pauses in milliseconds.
    static constexpr std::uint32_t kSlotWritePauseMs = 200;
    static constexpr std::uint32_t kCommitPauseMs = 3500;
    static constexpr std::uint32_t kAccessoryTemperaturePauseMs = 150;
    // Invalid Lantern temperature readings are retried in groups of three
    // requests 150 ms apart; after this many groups (about 9 s) the sensor is
    // taken to give no valid reading.
    static constexpr int kTemperatureRetryGroups = 20;

    // --- Stored values -------------------------------------------------
    // 0x05 slot 0x01, 17-byte reply. `value` is cleared first, so a failed
    // read always leaves zeros. Quiet.
    bool QueryInfoSlot(DeviceHandle handle, std::uint8_t slot, SlotReadValue& value);
    // 0x06 slot value[0..14]; 200 ms pause after success. Quiet.
    bool WriteInfoSlot(DeviceHandle handle, std::uint8_t slot, const SlotWriteValue& value);
    // The same on the Lantern accessory (0x23 / 0x24).
    bool QueryAccessorySlot(DeviceHandle handle, std::uint8_t slot, SlotReadValue& value);
    bool WriteAccessorySlot(DeviceHandle handle, std::uint8_t slot, const SlotWriteValue& value);
    // 0x27 0x00: stores the accessory slots; 3500 ms pause after success. Warned.
    bool CommitAccessorySlots(DeviceHandle handle);
    // 0x0C 0x00, 7-byte reply. `info` is cleared first. Warned.
    bool QueryAccessoryInfo(DeviceHandle handle, AccessoryInfo& info);

    // --- FPGA and versions ---------------------------------------------
    // 0x6B address-of(index); value = byte 1 + 256 * byte 2, stored in
    // `registers` by index. An index outside the table fails without I/O.
    bool ReadFpgaRegister(DeviceHandle handle, FpgaRegisters& registers, int index);
    // Falcon PSOC version (0x69 ... 0x03, then 0x68, 3-byte reply).
    bool ReadPsocVersion(DeviceHandle handle, std::string& text);
    // Condor PSOC version (0x68 0x41 0 0 0 twice, 4-byte replies; the
    // second reply gives the version).
    bool ReadCondorPsocVersion(DeviceHandle handle, std::string& text);
    // USB string descriptor 1. `text` is cleared first.
    bool ReadFirmwareVersionText(DeviceHandle handle, std::string& text);

    // --- PSOC, TEC and board temperature ---------------------------------
    bool ReadPsocAdc(DeviceHandle handle, std::uint16_t& value);
    bool WritePsocDac(DeviceHandle handle, std::uint16_t value);
    // 0x6C; the reply must start with 0x08, otherwise false and `celsius`
    // is left unchanged.
    bool ReadBoardTemperature(DeviceHandle handle, float& celsius);
    // 0x68 buffer[0] 0 0 0; the 4-byte reply overwrites `buffer`.
    bool ReadPsocRegister(DeviceHandle handle, PsocRegisterBuffer& buffer);
    // 0x68 reg high low 0; the device answers with 4 bytes, delivered to
    // `reply` when given (the value itself is never overwritten).
    bool WritePsocRegister(DeviceHandle handle, std::uint8_t reg, std::uint16_t value,
                           PsocRegisterBuffer* reply = nullptr);
    bool ReadTecStatus(DeviceHandle handle, TecStatus& status);
    // Selector 0 setpoint (0x3E), 1 TEC on/off (0x0B), 2 fan on/off (0x0D);
    // any other selector sends nothing and succeeds.
    bool SetTecControl(DeviceHandle handle, int selector, std::uint16_t value);

    // --- Lantern light source --------------------------------------------
    bool SetLightOn(DeviceHandle handle, std::uint8_t on);
    bool SetLightPulsed(DeviceHandle handle, std::uint8_t on);
    bool SetLightDac(DeviceHandle handle, std::uint16_t value);
    // The raw 32-bit reading (0x20, 4-byte little-endian reply), asking again
    // while it is invalid (0, or low 16 bits all ones). Returns 0 when a
    // transfer fails or no valid reading came within the retry bound; 0 is
    // never a valid reading.
    std::uint32_t ReadAccessoryTemperature(DeviceHandle handle);
    // Mean of `count` readings converted with the slope (accessory slot 1)
    // and intercept (slot 2), 150 ms after each reading. False (and
    // `average` unchanged) when count < 1, a slot read fails or a reading
    // fails.
    bool AverageAccessoryTemperature(DeviceHandle handle, int count, float& average);

    // --- Device descriptor -----------------------------------------------
    // The descriptor field; 0 with "Invalid handle in product ID" shown for
    // the invalid-handle value, 0xFFFF when the query fails.
    std::uint16_t GetProductId(DeviceHandle handle);
    std::uint16_t GetVendorId(DeviceHandle handle);
    std::uint16_t GetProductStringIndex(DeviceHandle handle);

private:
    bool QuerySlot(std::uint8_t opcode, DeviceHandle handle, std::uint8_t slot, SlotReadValue& value);
    bool WriteSlot(std::uint8_t opcode, DeviceHandle handle, std::uint8_t slot, const SlotWriteValue& value);
    bool SendWarned(DeviceHandle handle, const std::uint8_t* request, std::uint32_t length);
    bool ReceiveWarned(DeviceHandle handle, std::uint8_t* reply, std::uint32_t length);
    bool SendLightCommand(DeviceHandle handle, std::uint8_t opcode, std::uint8_t first, std::uint8_t second);
    bool ReadPsocItem(DeviceHandle handle, std::uint8_t item, std::uint16_t& value);
    std::uint16_t DescriptorWrapper(DeviceHandle handle, DescriptorField field);

    Platform& platform_;
};

inline constexpr const char* kInvalidHandleMessage = "Invalid handle in product ID";
// The box shows under the application title.
inline constexpr const char* kInvalidHandleTitle = kAppTitle;

}  // namespace spindle
