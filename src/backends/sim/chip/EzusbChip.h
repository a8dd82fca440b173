#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/chip/EepromModel.h"
#include "sim/chip/JtagChain.h"
#include "sim/chip/Mcs51Core.h"

namespace spindle::sim {

// The 8051 side of an EZ-USB (AN21xx) or EZ-USB FX2 chip running a
// downloaded program: the MCS-51 core on the chip's RAM, the endpoint-0
// registers a program uses to serve vendor requests, and the I2C
// controller with the boot EEPROM behind it.
//
// Registers modelled (external data space; see also the bench README):
//   FX2:    SETUPDAT 0xE6B8-0xE6BF, USBIRQ 0xE65D (bit 0 SUDAV, write 1 to
//           clear), USBCS 0xE680, EP0BUF 0xE740-0xE77F, EP0BCH 0xE68A,
//           EP0BCL 0xE68B (a write arms OUT / commits IN), EP0CS 0xE6A0
//           (STALL b0, BUSY b1, HSNAK b7 write 1 to clear), I2CS 0xE678,
//           I2DAT 0xE679; MOVX @Ri pages through MPAGE (SFR 0x92).
//   EZ-USB: SETUPDAT 0x7FE8-0x7FEF, USBIRQ 0x7FAB, USBCS 0x7FD6, OUT0BUF
//           0x7EC0, IN0BUF 0x7F00, OUT0BC 0x7FC5 (a write arms), IN0BC
//           0x7FB5 (a write commits), EP0CS 0x7FB4 (STALL b0, HSNAK b1,
//           IN0BSY b2, OUT0BSY b3), I2CS 0x7FA5, I2DAT 0x7FA6.
//   FX2 endpoint 1 (bulk, the host's pipes 0 and 3): EP1OUTBUF 0xE780 and
//           EP1INBUF 0xE7C0 (64 bytes each), EP1OUTBC 0xE68D (a write arms
//           OUT; once a packet came it holds its length), EP1INBC 0xE68F (a
//           write commits that many IN bytes), EP1OUTCS 0xE6A1 and EP1INCS
//           0xE6A2 (BUSY b1: armed / committed and not taken yet), EP01STAT
//           (SFR 0xBA: EP1OUTBSY b1, EP1INBSY b2).
//   FX2 port A (IOA, SFR 0x80; OEA, SFR 0xB2): a JTAG chain may hang on the
//           pins jtag_pins.h names; undriven, TMS and TDI read high (their
//           pull-ups) and TCK low.
//   I2CS on both: START b7, STOP b6, LASTRD b5, ID b4:b3 (b4: a two-byte
//   EEPROM at 0x51, b3: a one-byte one at 0x50), BERR b2, ACK b1, DONE b0.
// Every other address is plain RAM. A machine cycle is what each chip's
// clock makes it: 12 clocks at 12 MHz on the EZ-USB (1000 per millisecond),
// 4 clocks at 48 MHz on the FX2 (12000 per millisecond).
//
// A program that polls a busy EEPROM (its address is not acknowledged
// during a write cycle) would spin until the cycle ends: the chip's clock
// moves to the end of the cycle at the first such refusal instead of
// running the spin instruction by instruction.
//
// The core runs while a request is in progress, and for the host's time
// between requests when the owner asks (Run); on a virtual clock the chip
// stays deterministic.
//
// A program waiting for the host spins: it comes back to an instruction in
// the state it left it, having touched nothing outside the core (no MOVX
// write, no JTAG pin, no I2C byte taken). Without interrupts or timers it
// would go round like that until the host acts, so the chip's clock moves
// on to the end of the run at once; a request it waits on that way times
// out at once, at its bound.
class EzusbChip final : private IMcs51Bus {
public:
    static constexpr std::uint64_t kEzusbCyclesPerMs = 1000;
    static constexpr std::uint64_t kFx2CyclesPerMs = 12000;
    // A request the program has not finished within this much of the
    // chip's time fails as a USB time-out.
    static constexpr std::uint64_t kRequestBoundMs = 10'000;
    // Chip time after each bulk write: the host's pause.
    static constexpr std::uint64_t kBulkWritePauseMs = 10;

    // `memory`: the chip's 64 KiB (code and external data). `eeprom`: the
    // EEPROM's bytes, kept by the owner.
    EzusbChip(bool fx2, std::vector<std::uint8_t>& memory, EepromConfig eeprom, std::vector<std::uint8_t>& eepromBytes);

    // The 8051 leaves reset: the program starts at 0x0000.
    void Start();

    enum class Result { Completed, Stalled, TimedOut };
    // One control transfer to the running program: the setup packet (8
    // bytes), then the data stage of `length` bytes (host to device: taken
    // from `data`; device to host: put into `data`, `*returned` set).
    Result ControlTransfer(const std::uint8_t setup[8], std::uint8_t* data, std::uint32_t length,
                           std::uint32_t* returned);

    // Endpoint 1 of an FX2. BulkOut: the host's bytes in packets of up to 64
    // bytes, each waiting until the program has armed EP1 OUT. BulkIn: waits
    // until the program commits an EP1 IN packet and takes it (at most
    // `length` bytes). The same bound as a control transfer applies to each
    // wait; an EZ-USB has no endpoint 1 here and times out. The host's
    // driver layer pauses 10 ms after every bulk write; the program runs on
    // for that long after a BulkOut, as a real chip would meanwhile.
    Result BulkOut(const std::uint8_t* data, std::uint32_t length);
    Result BulkIn(std::uint8_t* data, std::uint32_t length, std::uint32_t* returned);

    // The chain on port A (nullptr: nothing attached). The chain must
    // outlive the chip or be detached first.
    void AttachJtag(JtagChain* chain);

    // Runs the program for `cycles` with no host request in progress (the
    // host busy elsewhere).
    void Run(std::uint64_t cycles);

    // A shorter bound than kRequestCycleBound, for callers that feed the
    // chip programs that may never answer (the fuzzer).
    void SetRequestCycleBound(std::uint64_t cycles) { requestCycleBound_ = cycles; }

    std::uint64_t Cycles() const { return core_.Cycles(); }
    std::uint64_t CyclesPerMs() const { return cyclesPerMs_; }
    std::uint64_t RequestCycleBound() const { return requestCycleBound_; }
    // The cycle count at which the last request's answer reached the host
    // (for a bulk write: before the pause the program runs on for).
    std::uint64_t RequestEndCycles() const { return requestEnd_; }
    EepromModel& Eeprom() { return eeprom_; }
    const Mcs51Core& Core() const { return core_; }

private:
    std::uint8_t ReadXdata(std::uint16_t address) override;
    void WriteXdata(std::uint16_t address, std::uint8_t value) override;
    std::uint8_t ReadSfr(std::uint8_t address, std::uint8_t stored) override;
    void WriteSfr(std::uint8_t address, std::uint8_t value) override;
    void DrivePins();
    // Runs the program for `cycles`; true when it was found spinning, the
    // rest of the time then passing without running it.
    bool RunOrSkip(std::uint64_t cycles);
    // Runs the program in slices of `slice` until `done` holds or the bound
    // passes.
    template <typename Done>
    bool RunUntil(Done done, std::uint64_t slice);

    struct Map {
        std::uint16_t setupdat, usbirq, usbcs, outBuffer, inBuffer, outCount, inCount, ep0cs, i2cs,
            i2dat;
        std::uint8_t stall, hsnak, inBusy, outBusy;
    };

    void I2cControl(std::uint8_t value);
    void I2cData(std::uint8_t value);
    std::uint8_t I2cReadData();

    Map map_;
    std::vector<std::uint8_t>& memory_;
    Mcs51Core core_;
    EepromModel eeprom_;

    // Endpoint 0 during a transfer.
    bool active_ = false;
    bool toHost_ = false;
    bool stalled_ = false;
    bool statusDone_ = false;
    const std::uint8_t* outData_ = nullptr;
    std::uint32_t outRemaining_ = 0;
    std::uint8_t* inData_ = nullptr;
    std::uint32_t inLength_ = 0;
    std::uint32_t inCollected_ = 0;
    std::uint8_t ep0cs_ = 0;

    // Endpoint 1 (FX2).
    bool fx2_ = false;
    bool ep1OutArmed_ = false;
    bool ep1InCommitted_ = false;
    std::uint8_t ep1InCount_ = 0;

    JtagChain* jtag_ = nullptr;
    std::uint64_t cyclesPerMs_;
    std::uint64_t requestCycleBound_;
    std::uint64_t requestEnd_ = 0;
    // What the program did outside the core, counted: a spin has none.
    std::uint64_t effects_ = 0;

    // I2C controller.
    std::uint8_t i2cs_ = 0;
    bool startPending_ = false;
    bool reading_ = false;
    bool readLast_ = false;  // the byte being received is the last (LASTRD)
    std::uint8_t received_ = 0;
};

}  // namespace spindle::sim
