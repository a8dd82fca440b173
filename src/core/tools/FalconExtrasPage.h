#pragma once
#include <cstdint>
#include <string>

#include "tools/PsocPage.h"

namespace spindle {

// "Falcon Extras": the PSOC of a Falcon or Osprey+ (family 10) with its
// 13-bit ADC, 9-bit DAC and board temperature sensor.
class CFalconExtrasPage final : public CPsocPage {
public:
    using CPsocPage::CPsocPage;
    static constexpr int kTemplateId = 156;
    int TemplateId() const override { return kTemplateId; }
    std::string Caption() const override { return "Falcon Extras"; }

    // The longest text each field takes.
    static constexpr std::size_t kFirmwareChars = 100, kAdcVoltsChars = 15, kDacVoltsChars = 15,
                                 kRawAdcChars = 6, kRawDacChars = 5, kTemperatureChars = 8;
    static constexpr int kTemperatureAttempts = 5;

    // Version, one ADC reading, the DAC set to "5.10" volts (count 512), the
    // board temperature.
    void OnInitDialog() override;
    std::string StartEffect() const override;
    // "Read ADC": one reading. With "Read ADC Continuous" pressed in, the
    // page keeps reading: ContinuousReading() holds and the front end calls
    // OnContinuousTick() on a timer until the box is released.
    void OnReadAdc();
    bool ContinuousReading() const { return continuous_ && readContinuous == 1; }
    void OnContinuousTick();
    static constexpr std::uint32_t kContinuousPeriodMs = 50;
    // "Write DAC": the hexadecimal "Raw DAC Counts" (0x or 0X allowed, low 16
    // bits kept), its volts into "DAC Volts", the count to the device. A text
    // that is not a hexadecimal number, or longer than its field, is refused
    // (the reason returned, nothing sent).
    std::string OnWriteDac();
    // "Read Temp": up to five attempts; -999.000 when every one failed.
    void OnReadTemp();
    // The page's readings without its start's DAC write: firmware, ADC and
    // board temperature (for showing a device's state and changing nothing).
    void ReadOnly();

    // Conversions, exactly as the page shows them.
    static double AdcVolts(std::uint16_t count);
    static double DacVolts(std::uint16_t count);
    static std::uint16_t DacCountFromVolts(double volts);

    std::string firmwareText;
    int readContinuous = 0;  // the push-like check box
    std::string adcVolts;
    std::string dacVolts;
    std::string rawAdcCounts;
    std::string rawDacCounts;
    std::string boardTemperature;
    std::uint32_t temperatureRetries = 0;

private:
    void ReadFirmware();
    void ReadAdcOnce();
    bool continuous_ = false;
    bool startDacWritten_ = false;
};

}  // namespace spindle
