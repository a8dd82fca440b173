#pragma once
#include <cstdint>
#include <string>

#include "protocol/InstrumentProtocol.h"
#include "tools/PsocPage.h"

namespace spindle {

// "Condor PSOC": the TEC controller of a Condor (family 11). Polls one PSOC
// quantity at a time, shows the loop's status bits, switches the TEC and
// sets the temperature setpoint.
class CCondorPsocPage final : public CPsocPage {
public:
    using CPsocPage::CPsocPage;
    static constexpr int kTemplateId = 161;
    int TemplateId() const override { return kTemplateId; }
    std::string Caption() const override { return "Condor PSOC"; }

    // The quantities, in the order of their radio buttons.
    enum Quantity { kTemperature = 0, kAdcCounts, kSetpointCounts, kPidControl, kSetpointC, kSystemStatus };
    static std::uint8_t RegisterOf(int quantity);
    static constexpr std::uint8_t kFirmwareRegister = 0x41, kTecEnableRegister = 0x10, kSetpointRegister = 0x80;
    // One poll per 100 ticks; a 10 ms tick makes that about once a second.
    static constexpr std::uint32_t kPollDivisor = 100;
    std::uint32_t TickPeriodMs() const override { return 10; }

    void OnInitDialog() override;
    void OnTimer(int timerId) override;
    // "TEC ON/OFF".
    void OnTecClicked();
    // A radio button: the quantity read at the next poll.
    void OnSelectQuantity(int quantity) { selectedQuantity = quantity; }
    // The spin control reports a step with its position before the step:
    // that position is written as the setpoint, then the spin moves by
    // `delta` within its range.
    void OnSpinDelta(int positionBeforeStep, int delta);
    // Typing into the setpoint box sends nothing; it only delays the next poll.
    void OnSetpointTextChanged() { pollCounter = 1; }

    // Reads one quantity now, as a poll does (false when the exchange failed).
    bool ReadQuantity(int quantity);
    // The firmware text from the version register (read twice).
    bool ReadFirmware();
    // Switches the TEC to `on` and writes it (the page does not know the
    // device's state, so it is written either way).
    void SetTec(bool on) {
        tecState = on ? 0 : 1;
        OnTecClicked();
    }
    // Writes a setpoint in °C (tenths, truncated toward zero).
    bool WriteSetpoint(double celsius);

    // How the page shows a temperature (the window's float format).
    static std::string CelsiusText(float celsius);

    // A quantity whose last read did not work, or that was never read, shows
    // as not read: its value box (and the status boxes) hold no reading.
    static constexpr const char* kNotRead = "not read";
    bool IsRead(int quantity) const { return quantity >= 0 && quantity < 6 && read_[quantity]; }
    // The text of a value box (quantities up to kSetpointC), or kNotRead.
    std::string ValueText(int quantity) const;

    std::string firmwareText = "Firmware Version 1.00.0";
    std::string setpointText;
    int spinLower = -20, spinUpper = 25, spinPosition = 0;
    int tecState = 0;
    int selectedQuantity = kTemperature;
    float temperature = 0.0f;
    float setpointCelsius = 0.0f;
    std::string adcResult, setpointCounts, pidControlValue;
    bool tecOverCurrent = false, fanFail = false, railHigh = false, railLow = false;
    std::uint32_t pollCounter = 0;
    std::uint32_t pollDivisor = kPollDivisor;

private:
    bool Read(std::uint8_t code);
    void Store(int quantity);
    std::int16_t Value() const { return static_cast<std::int16_t>(reply_[0] << 8 | reply_[1]); }

    PsocRegisterBuffer reply_{};
    bool read_[6] = {};
};

}  // namespace spindle
