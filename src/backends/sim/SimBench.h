#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/EzusbDriver.h"
#include "platform/Clock.h"
#include "sim/SimDevice.h"

namespace spindle {
class IDebugTrace;
}

namespace spindle::sim {

// A bench file that cannot be read or does not follow the format.
class BenchFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A bench of simulated EZ-USB devices behind the driver port. Devices are
// reached as "\\.\Ezusb-N"; any number of handles to one device may be open
// at once. Each device has its own lock (SimDevice); the bench's lock guards
// only its list of devices and handles, and a second one the bench file's
// saving, so programming workers on different devices and the
// user-interface thread run side by side.
//
// With a clock (SetClock) a running downloaded program keeps the host's
// time, and with pacing on (the default) the host keeps the chip's: a
// request returns when the chip's time it took has passed on the host's
// clock (a 4096-byte EEPROM write waits out every page's write cycle). The
// wait happens outside every lock; on a virtual clock it advances the clock
// by exactly that time. A bench file's "pacing": false, or SetPacing(false),
// makes requests return as soon as they are emulated.
//
// A device with an open handle is held by this bench, as a real device is
// held by the program that opened it: while a bench loaded from a file
// holds a device, any other bench or process using the same file cannot
// open it, and DeviceBusy says why.
//
// The bench's bus follows its clock (SetClock). A device whose
// arrivesAfterMs the clock has not reached yet, or whose leavesAfterMs it
// has, is not there: opens fail and its handles fail from its departure on.
// When the last handle to a device closes after a running program rewrote
// its EEPROM or its logic's configuration (a programming job), the device
// leaves the bus and comes back reconnectMs later (at once on a bench without
// a clock), powered up afresh and running what its EEPROM now holds, as a
// real device does when its cable is replugged. Each arrival and departure
// moves BusGeneration.
//
// A bench loaded from a file saves every change of non-volatile state (an
// information slot write, an accessory commit, or the same changes made
// through the test accessors) back to that file at once, atomically. Only the
// changed values are written into the file's document; everything else in it
// (comments, faults, layout of the other members) stays as it was.
//
// Several processes may use one bench file at once (a window and the
// command-line tool, two tool runs). A save therefore takes an exclusive
// lock on the file, reads what is on disk now, puts into it only the values
// this bench changed since it last loaded or saved, and writes that: no
// process loses another's change. A read-only bench file is not replaced.
class SimBench final : public IEzusbDriver {
public:
    SimBench();  // empty, in memory
    ~SimBench() override;

    SimBench(const SimBench&) = delete;
    SimBench& operator=(const SimBench&) = delete;

    DeviceHandle Open(const std::string& path) override;
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override;
    void Close(DeviceHandle handle) override;
    bool DeviceBusy(const std::string& path) override;
    std::uint64_t BusGeneration() override;

    // Where the bench reports what a real device would only show as a USB
    // failure (a vendor request the running program never finished). The
    // trace must outlive the bench; nullptr (the default) traces nothing.
    void SetDebugTrace(IDebugTrace* trace);
    // The host's clock. With one, a running downloaded program also runs
    // while the host does something else (its pauses, its waits between
    // requests): at each request and close its chip is brought up to the
    // host's time, at most 10 s at once. Without one (the default) a chip
    // runs only during requests. The clock must outlive the bench.
    void SetClock(IClock* clock);
    void SetPacing(bool pace);
    bool Pacing() const;
    // How long a rewritten device is away before it comes back (default
    // 1500 ms; a device's own reconnectMs overrides it).
    void SetReconnectMs(std::int64_t ms);
    // Whether the device is on the bus now.
    bool Present(int index);

    // Devices. Device() gives nullptr for an index with no device.
    std::shared_ptr<SimDevice> Device(int index) const;
    std::vector<int> DeviceIndexes() const;
    // Adds a device (in memory only; it is not written into the bench file).
    // Throws BenchFileError when the index is taken.
    std::shared_ptr<SimDevice> AddDevice(const DeviceConfig& config);
    // Adding and removing move BusGeneration as a plug does.
    // Removes a device, as if it were unplugged for good; its open handles
    // fail from then on. False when there is none.
    bool RemoveDevice(int index);
    int OpenHandleCount() const;
    int OpenHandleCount(int index) const;

    // Persistence. The file path is empty for an in-memory bench.
    std::string FilePath() const;
    // Saves the whole bench now (file-backed benches only). False on failure,
    // with the reason in LastSaveError().
    bool Save();
    int SaveCount() const;
    std::string LastSaveError() const;

private:
    friend std::unique_ptr<SimBench> LoadBenchFromJson(const nlohmann::ordered_json& document,
                                                       const std::string& filePath);

    // The values a save writes when they differ from the last saved ones.
    struct PersistentState {
        int index = -1;
        bool hasLantern = false;
        bool hasPsocRegisters = false;
        std::uint32_t jtagIdcode = 0;
        std::map<int, SlotBytes> slots;
        std::map<int, SlotBytes> lanternSlots;
        std::vector<std::uint8_t> eeprom;  // without trailing erased bytes
        std::optional<JtagConfigState> jtag;
        // What a TEC keeps while the bench is powered: on, fan, setpoint and
        // the detector's temperature; and the Condor's PSOC registers.
        std::optional<std::array<int, 4>> tec;
        std::map<std::uint8_t, std::uint16_t> psocRegisters;
        PersistentState() = default;
        // Taken under the device's lock.
        explicit PersistentState(const SimDevice& device);
    };

    std::shared_ptr<SimDevice> AddDeviceLocked(const DeviceConfig& config);
    // Puts the values of `now` that changed since the last save into `document`.
    void PatchChangesLocked(nlohmann::ordered_json& document, const PersistentState& now) const;
    void DeviceChanged(SimDevice& device);
    // Every device's state as the saved one (both locks held).
    void MarkAllSavedLocked();
    bool SaveLocked();
    // The cross-process hold of one device (a byte of the hold file, locked
    // while this bench has a handle to the device). False when another
    // bench holds it.
    bool HoldLocked(int index);
    void ReleaseLocked(int index);
    int HoldFileLocked();
    // Brings every device's presence up to the clock: departures drop the
    // device's handles, arrivals power it up.
    void RefreshPresenceLocked();
    std::uint64_t BenchNowLocked() const;

    // A device's place on the bus: its schedule, and while it is away after
    // a job, when it comes back.
    struct Presence {
        std::optional<std::uint64_t> arrivesAfterMs;
        std::optional<std::uint64_t> leavesAfterMs;
        std::optional<std::int64_t> reconnectMs;
        std::optional<std::uint64_t> backAtMs;
        bool present = true;
        bool Scheduled(std::uint64_t nowMs, std::uint64_t originMs) const;
    };

    mutable std::mutex lock_;  // devices_, handles_, trace_, clock_, pacing_, the hold file, the bus
    IDebugTrace* trace_ = nullptr;
    IClock* clock_ = nullptr;
    bool pacing_ = true;
    std::map<int, std::shared_ptr<SimDevice>> devices_;
    std::map<DeviceHandle, std::shared_ptr<SimDevice>> handles_;
    DeviceHandle nextHandle_ = 0x100;
    int holdFd_ = -1;
    bool holdFileTried_ = false;
    std::map<int, Presence> presence_;
    std::uint64_t generation_ = 0;
    std::uint64_t originMs_ = 0;  // the clock's time when it was set
    std::int64_t reconnectMs_ = 1500;

    mutable std::mutex saveLock_;  // what follows
    std::string filePath_;
    nlohmann::ordered_json document_;
    int saves_ = 0;
    std::string lastSaveError_;
    std::map<int, PersistentState> saved_;  // by device index
    std::map<int, PersistentState> latest_;  // by device index, as of its last change
};

// "demo" gives the built-in demonstration bench (in memory only); anything
// else is taken as the path of a bench file. Throws BenchFileError.
std::unique_ptr<SimBench> LoadBench(const std::string& nameOrPath);
// A bench from a document; filePath non-empty makes it save there.
std::unique_ptr<SimBench> LoadBenchFromJson(const nlohmann::ordered_json& document, const std::string& filePath = {});
// The built-in demonstration bench as bench-file text.
std::string DemoBenchText();
// Reads and parses a bench file with the size and nesting bounds; throws
// BenchFileError naming the file.
nlohmann::ordered_json ReadBenchDocument(const std::string& path);

// The bench-file forms of single values, shared with the tests.
DeviceConfig DeviceConfigFromJson(const nlohmann::ordered_json& device);
nlohmann::ordered_json SlotToJson(const SlotBytes& bytes);
SlotBytes SlotFromJson(const nlohmann::ordered_json& value);
FaultSettings FaultsFromJson(const nlohmann::ordered_json& faults);
// EEPROM contents in their bench-file form: two hex digits per byte.
std::string EepromContentsText(const std::vector<std::uint8_t>& bytes);

}  // namespace spindle::sim
