#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/chip/EepromModel.h"
#include "sim/chip/JtagChain.h"

namespace spindle::sim {

// One stored value as it travels on the wire: exactly 15 bytes.
inline constexpr std::size_t kSlotBytes = 15;
using SlotBytes = std::array<std::uint8_t, kSlotBytes>;

// The text's bytes, cut at 15 and padded with zeros.
SlotBytes SlotFromText(std::string_view text);
// The bytes up to the first zero (all 15 when there is none).
std::string TextOfSlot(const SlotBytes& bytes);

enum class ChipKind { Ezusb, Fx2 };

// Chip generation a vendor/product pair stands for: the FX2 rows of the
// classification table, everything else the older EZ-USB.
ChipKind ChipKindFor(std::uint16_t vendorId, std::uint16_t productId);
std::uint16_t CpucsAddressOf(ChipKind chip);

// Request kinds by name, as bench files and tests give them: "descriptor",
// "reset", "string", "bulkin", "bulkout", "vendor", "anchor"; an ioctl code
// in decimal or 0x-hex is accepted too.
std::optional<std::uint32_t> RequestCodeFromName(std::string_view name);
std::string RequestName(std::uint32_t code);

// Forever, for FaultSettings::invalidTemperatureReads.
inline constexpr int kForever = -1;

struct FaultSettings {
    bool failOpen = false;                        // every open of the device fails
    std::set<std::uint32_t> failingRequests;      // ioctl codes that always fail
    std::optional<std::uint64_t> unplugAfterRequests;  // request N+1 and all later ones fail
    int invalidTemperatureReads = 0;              // first K temperature reads invalid; kForever
    std::uint32_t invalidTemperatureValue = 0x0000FFFF;  // Lantern reading given while invalid
    // Real time every vendor request to the device waits before it is
    // handled, outside the bench's lock (slows jobs down so a window shows
    // them running; tests leave it at 0).
    int vendorRequestDelayMs = 0;

    bool operator==(const FaultSettings&) const = default;
};

// The Falcon-style PSOC: version and ADC through 0x69 ... then 0x68, the DAC
// through the 7-byte 0x69, and the board temperature sensor (0x6C).
struct PsocModel {
    std::uint16_t version = 0x0104;
    std::uint16_t adc = 0x1000;
    std::uint16_t dac = 0x0200;
    std::uint16_t boardTemperatureRaw = 6400;  // x 0.003906 degrees Celsius
};

// The Ibis TEC controller (0x3F status, 0x3E setpoint, 0x0B TEC, 0x0D fan).
// Temperatures and setpoint are in tenths of a degree.
struct TecModel {
    std::uint16_t statusBits = 0;  // reported with bit 0 = TEC on, bit 1 = fan on added
    std::int16_t boardTemperature = 265;
    std::int16_t temperature = 215;
    std::int16_t setpoint = -50;
    std::int16_t pidControl = 0;
    std::uint16_t version = 0x0103;
    bool tecOn = false;
    bool fanOn = false;
};

// The Lantern light source behind a Kestrel.
struct LanternModel {
    std::map<int, SlotBytes> slots;   // committed (non-volatile) accessory slots
    std::uint32_t temperatureRaw = 1000;
    // Scripted readings: each entry gives `count` readings of `raw`, in
    // order; once they are used up every reading is temperatureRaw.
    std::vector<std::pair<int, std::uint32_t>> temperatureSequence;
    bool lightOn = false;
    bool lightPulsed = false;
    std::uint16_t dac = 0;
};

// Everything a bench file says about one device.
struct JtagBenchConfig {
    JtagDeviceConfig device;
    JtagConfigState state;
};

// What the FPGA player left in its status block (firmware/common/
// player_status.h), read from the device's RAM.
struct PlayerStatus {
    int state = 0;  // 0 streaming, 1 complete, 2 failed
    int error = 0;  // PLAYER_ERR_...
    std::uint8_t command = 0;  // the failing command's opcode
    std::uint32_t offset = 0;  // its offset in the stream
    std::uint32_t received = 0;
    std::uint32_t executed = 0;
    int opens = 0, starts = 0, fullMarks = 0, lowMarks = 0;
    std::uint16_t bufferSize = 0;
};

struct DeviceConfig {
    int index = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0x0001;
    std::uint8_t iProduct = 0;
    std::optional<ChipKind> chip;           // default: from the vendor/product pair
    std::optional<bool> instrument;         // default: vendor 0xFA57 runs instrument firmware
    std::map<int, std::string> strings;     // string descriptors by index
    std::map<int, SlotBytes> slots;         // information slots
    std::optional<std::map<std::uint8_t, std::uint16_t>> fpgaRegisters;  // 0x6B, by address
    std::optional<PsocModel> psoc;
    std::optional<std::map<std::uint8_t, std::uint16_t>> psocRegisters;  // Condor 0x68, by code
    std::optional<TecModel> tec;
    std::optional<LanternModel> lantern;
    FaultSettings faults;
    // The boot EEPROM (a 64 KiB two-byte part with 128-byte pages by
    // default) and its contents (unset bytes read 0xFF).
    std::optional<EepromConfig> eeprom;
    std::vector<std::uint8_t> eepromContents;
    // A JTAG chain on the FX2's port A (one programmable-logic device) and
    // its configured state, which is saved back like the slots.
    std::optional<JtagBenchConfig> jtag;
    // When the device is on the bench's bus, in ms of the bench's clock since
    // it was set (SimBench::SetClock): absent before arrivesAfterMs, gone
    // from leavesAfterMs on. Unset: there from the start, for good.
    std::optional<std::uint64_t> arrivesAfterMs;
    std::optional<std::uint64_t> leavesAfterMs;
    // How long the device is away after a job rewrote its EEPROM or its
    // logic (the bench's reconnectMs when unset); kForever: it stays away.
    std::optional<std::int64_t> reconnectMs;
};

// One vendor request with a data stage (0x222059) as the device saw it.
struct VendorRequestRecord {
    std::uint8_t request = 0;
    std::uint8_t direction = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint32_t length = 0;
    bool accepted = false;
    bool timedOut = false;  // the running program did not finish it in time
};

// One CPUCS-style reset request (0x222014) as the device saw it.
struct ResetRecord {
    std::uint16_t address = 0;
    std::uint8_t data = 0;
    bool tookEffect = false;  // false when the address is not this chip's CPUCS
};

class SimBench;
class EzusbChip;

// A simulated EZ-USB device: descriptors, the 8051 side (RAM, CPUCS, the
// loader's 0xA2/0xA3 requests, a boot EEPROM) and, for programmed
// instruments, the bulk command set on pipes 0 (commands) and 3 (replies).
//
// Each device has a lock of its own over its chip, EEPROM, chain and logs:
// requests to different devices never wait on each other. Every public call
// takes it, so tests may inspect and change a device while worker threads
// drive it through the bench. The request logs keep the last kLogBound
// entries each (the counts keep counting), so a long session stays small.
class SimDevice {
public:
    // Extra command handling for tests: called with each command written to
    // pipe 0 before the instrument model; return true when handled, after
    // appending any replies.
    using CommandHook = std::function<bool(const std::vector<std::uint8_t>& command,
                                           std::vector<std::vector<std::uint8_t>>& replies)>;

    static constexpr std::size_t kLogBound = 4096;

    explicit SimDevice(DeviceConfig config);
    ~SimDevice();

    int Index() const;
    // The identity the device enumerates with: the bench file's, until a
    // boot image in its EEPROM gives another at a reconnection.
    std::uint16_t VendorId() const;
    std::uint16_t ProductId() const;
    ChipKind Chip() const;
    bool RunsInstrumentFirmware() const;
    DeviceConfig Config() const;  // the live state in bench-file form

    // Information slots (unset slots read as 15 zero bytes).
    SlotBytes Slot(int slot) const;
    std::string SlotText(int slot) const;
    void SetSlot(int slot, const SlotBytes& bytes);
    void SetSlotText(int slot, std::string_view text);
    void SetString(int index, const std::string& text);

    // Lantern accessory. Writes (0x24) change the live values at once; the
    // commit (0x27) makes them non-volatile (and saves a file-backed bench).
    bool HasLantern() const;
    SlotBytes AccessorySlot(int slot) const;           // live value
    SlotBytes CommittedAccessorySlot(int slot) const;  // non-volatile value
    void SetAccessorySlot(int slot, const SlotBytes& bytes);  // live and committed
    int CommitCount() const;
    std::optional<LanternModel> Lantern() const;  // committed slots and light state
    void SetLanternTemperatureRaw(std::uint32_t raw);

    // FPGA registers, PSOC, TEC.
    std::uint16_t FpgaRegister(std::uint8_t address) const;
    void SetFpgaRegister(std::uint8_t address, std::uint16_t value);
    std::optional<PsocModel> Psoc() const;
    void SetPsoc(const PsocModel& psoc);
    std::uint16_t PsocRegister(std::uint8_t code) const;
    void SetPsocRegister(std::uint8_t code, std::uint16_t value);
    std::optional<TecModel> Tec() const;
    void SetTec(const TecModel& tec);

    // The 8051 side.
    bool CpuHeld() const;
    bool ProgramRunning() const;   // a downloaded program was released and runs
    std::vector<std::uint8_t> Ram(std::uint32_t address, std::uint32_t length) const;
    std::vector<std::uint8_t> Eeprom(std::uint32_t address, std::uint32_t length) const;
    void SetEeprom(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    int AnchorDownloadsWhileRunning() const;
    // The JTAG chain, when the device has one: its configured state, and
    // the TAP clocks it has seen since the bench was loaded.
    std::optional<JtagConfigState> JtagState() const;
    std::uint64_t JtagClocks() const;
    // The FPGA player's status block, when a player runs (or ran) in RAM.
    std::optional<PlayerStatus> FpgaPlayerStatus() const;
    std::vector<ResetRecord> ResetRequests() const;
    std::vector<VendorRequestRecord> VendorRequests() const;

    // Bulk traffic: every command written to pipe 0, in order, and the
    // replies not read yet.
    std::vector<std::vector<std::uint8_t>> BulkCommands() const;
    std::size_t PendingReplies() const;
    void QueueReply(const std::vector<std::uint8_t>& reply);
    void SetCommandHook(CommandHook hook);

    // Counts of requests that reached the device (failed ones included).
    std::uint64_t RequestCount(std::uint32_t code) const;
    std::uint64_t TotalRequests() const;
    std::uint64_t OpenCount() const;
    void ClearLogs();  // counts, bulk, vendor and reset logs

    // Fault injection.
    FaultSettings Faults() const;
    void SetFaults(const FaultSettings& faults);  // also restarts the counters the faults use
    void SetFailOpen(bool fail);
    void SetRequestFails(std::uint32_t code, bool fail);
    void UnplugAfterRequests(std::optional<std::uint64_t> count);
    void SetInvalidTemperatureReads(int count);  // kForever for always

    // Pulling the cable: every request and open fails until Reconnect, which
    // re-enumerates the chip (8051 released, RAM program gone, replies
    // dropped, uncommitted accessory writes lost, request counter restarted).
    void Unplug();
    void Reconnect();
    bool IsUnplugged() const;
    // Powers the chip up as it comes onto the bus again: Reconnect, then the
    // boot code reads the EEPROM's first bytes. A boot image of the chip's
    // generation (0xB0/0xB2 EZ-USB, 0xC0/0xC2 FX2) gives the vendor, product
    // and device release it enumerates with; a 0xB2/0xC2 image with the
    // maker's vendor boots instrument firmware, a 0xB0/0xC0 image none.
    // Any other contents leave the identity as it was.
    void PowerUp();

private:
    friend class SimBench;

    // Called by the bench with the device's lock held.
    bool TryOpenLocked();
    // True once after a running program changed the EEPROM or the logic's
    // configuration since the device last powered up, and no request to it
    // failed meanwhile (the job that rewrote it worked).
    bool TakeRewrittenLocked();
    // How long the host must wait for the answer of the request just
    // handled: the chip's time it took, less the host's time that passed.
    // 0 when no downloaded program keeps time with the host.
    std::uint64_t PacingWaitLocked(std::uint64_t hostNowMs) const;
    // The time of the chip's clock since a program was released, in ms.
    std::uint64_t ChipMsLocked() const;
    // The chip of a running program against the host's clock: CatchUpLocked
    // runs it for the host time that passed since they were last level (at
    // most kCatchUpBoundMs); MarkHostTimeLocked starts the reckoning for a
    // program just released and ends it for one held or gone.
    static constexpr std::uint64_t kCatchUpBoundMs = 10'000;
    void CatchUpLocked(std::uint64_t hostNowMs);
    void MarkHostTimeLocked(std::uint64_t hostNowMs);
    // The detector's temperature against the host's clock: a TEC that is on
    // moves it toward the setpoint by a tenth of a degree every
    // kCoolingMsPerTenth. Once the bench keeps time this replaces the step
    // per reading the bench takes without a clock.
    static constexpr std::uint64_t kCoolingMsPerTenth = 100;
    void AdvanceThermalLocked(std::uint64_t hostNowMs);
    bool HandleLocked(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out,
                      std::uint32_t outLength, std::uint32_t* returned);
    // Called after every change of non-volatile state (an information slot,
    // committed accessory slots, EEPROM, chain, TEC), with the device's lock
    // released: changes made under the lock only mark the device, and
    // whoever made them calls SavePendingChange once the lock is let go.
    void SetPersistenceCallback(std::function<void(SimDevice&)> callback);
    void PersistentChangeLocked() { persistPending_ = true; }
    void SavePendingChange();

    bool DeviceDescriptor(std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) const;
    bool StringDescriptor(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out, std::uint32_t outLength,
                          std::uint32_t* returned) const;
    bool ResetRequest(const std::uint8_t* in, std::uint32_t inLength);
    bool AnchorDownload(const std::uint8_t* in, std::uint32_t inLength, const std::uint8_t* data,
                        std::uint32_t length, std::uint32_t* returned);
    bool VendorRequest(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* data, std::uint32_t length,
                       std::uint32_t* returned);
    bool BulkWrite(const std::uint8_t* in, std::uint32_t inLength, const std::uint8_t* data, std::uint32_t length,
                   std::uint32_t* returned);
    bool BulkRead(const std::uint8_t* in, std::uint32_t inLength, std::uint8_t* out, std::uint32_t outLength,
                  std::uint32_t* returned);
    void Command(const std::vector<std::uint8_t>& command);
    // After the running program ran: saves what it changed (EEPROM, chain).
    void ProgramRanLocked();
    void Reply(std::vector<std::uint8_t> reply);
    bool TemperatureReadInvalid();
    void ReconnectLocked();
    std::vector<std::uint8_t> EepromContentsLocked() const;

    mutable std::mutex lock_;
    DeviceConfig config_;
    ChipKind chip_;
    bool instrument_;

    // Live accessory slots (what 0x23 reads); config_.lantern->slots holds
    // the committed ones.
    std::map<int, SlotBytes> liveAccessorySlots_;
    int commits_ = 0;
    std::optional<std::uint8_t> pendingPsocRead_;

    std::vector<std::uint8_t> ram_;
    std::vector<std::uint8_t> eeprom_;
    std::unique_ptr<EzusbChip> cpu_;  // runs a released downloaded program
    bool cpuHeld_ = false;
    bool ramLoaded_ = false;
    bool programRunning_ = false;
    bool hostTimeKept_ = false;
    bool thermalTimeKept_ = false;
    std::uint64_t thermalMs_ = 0;
    std::uint64_t syncHostMs_ = 0;
    std::uint64_t syncCycles_ = 0;
    int downloadsWhileRunning_ = 0;
    std::unique_ptr<JtagChain> jtag_;

    std::deque<std::vector<std::uint8_t>> replies_;
    std::deque<std::vector<std::uint8_t>> bulkLog_;
    std::deque<VendorRequestRecord> vendorLog_;
    std::deque<ResetRecord> resetLog_;
    std::map<std::uint32_t, std::uint64_t> requestCounts_;
    std::uint64_t totalRequests_ = 0;
    std::uint64_t opens_ = 0;
    std::uint64_t requestsSinceConnect_ = 0;
    std::uint64_t temperatureReads_ = 0;
    bool unplugged_ = false;
    bool rewritten_ = false;
    bool requestFailed_ = false;  // since the device last powered up
    std::function<void(SimDevice&)> onPersistentChange_;
    bool persistPending_ = false;
    CommandHook hook_;
};

}  // namespace spindle::sim
