#include "tools/FalconExtrasPage.h"

#include <cctype>

#include "platform/Format.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

// The single-precision 0.1 the ADC offset was written as, widened.
constexpr double kAdcOffset = static_cast<double>(0.1f);

}  // namespace

double CFalconExtrasPage::AdcVolts(std::uint16_t count) { return count * (5.1 / 8192) + kAdcOffset; }

double CFalconExtrasPage::DacVolts(std::uint16_t count) { return count * (5.1 / 512); }

std::uint16_t CFalconExtrasPage::DacCountFromVolts(double volts) {
    return static_cast<std::uint16_t>(static_cast<long long>(volts / (5.1 / 512)));
}

void CFalconExtrasPage::ReadFirmware() {
    std::string version;
    Exchanged(CSpecProtocol(platform_).ReadPsocVersion(handle_, version));
    firmwareText = StrPrintf("Firmware Version %s \r\n ADC 13-Bit DAC 9-Bit", version.substr(0, 10).c_str());
}

void CFalconExtrasPage::ReadOnly() {
    ReadFirmware();
    ReadAdcOnce();
    OnReadTemp();
}

void CFalconExtrasPage::OnInitDialog() {
    CSpecProtocol protocol(platform_);
    ReadFirmware();
    ReadAdcOnce();
    dacVolts = "5.10";
    const std::uint16_t dac = DacCountFromVolts(std::strtod(dacVolts.c_str(), nullptr));
    rawDacCounts = StrPrintf("%#X", dac);
    startDacWritten_ = Exchanged(protocol.WritePsocDac(handle_, dac));
    OnReadTemp();
}

std::string CFalconExtrasPage::StartEffect() const {
    return startDacWritten_ ? "the DAC was set to 512 (5.10 V)" : "setting the DAC to 512 (5.10 V) failed";
}

void CFalconExtrasPage::ReadAdcOnce() {
    CSpecProtocol protocol(platform_);
    std::uint16_t count = 0;
    Exchanged(protocol.ReadPsocAdc(handle_, count));
    rawAdcCounts = StrPrintf("%#X", count);
    adcVolts = StrPrintf("%.3f", AdcVolts(count));
}

void CFalconExtrasPage::OnReadAdc() {
    ReadAdcOnce();
    continuous_ = readContinuous == 1;
}

void CFalconExtrasPage::OnContinuousTick() {
    if (!ContinuousReading()) {
        continuous_ = false;
        return;
    }
    ReadAdcOnce();
}

std::string CFalconExtrasPage::OnWriteDac() {
    if (rawDacCounts.size() > kRawDacChars) return FieldTooLong("Raw DAC Counts", kRawDacChars);
    std::size_t at = 0;
    if (rawDacCounts.size() > 2 && rawDacCounts[0] == '0' && (rawDacCounts[1] == 'x' || rawDacCounts[1] == 'X')) at = 2;
    if (at == rawDacCounts.size()) return "\"Raw DAC Counts\" must be a hexadecimal number.";
    unsigned long value = 0;
    for (; at < rawDacCounts.size(); ++at) {
        const char c = rawDacCounts[at];
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return "\"Raw DAC Counts\" must be a hexadecimal number.";
        value = value * 16 + static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(c)) != 0
                                                            ? c - '0'
                                                            : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    const auto count = static_cast<std::uint16_t>(value & 0xFFFF);
    dacVolts = StrPrintf("%f", DacVolts(count));
    CSpecProtocol protocol(platform_);
    Exchanged(protocol.WritePsocDac(handle_, count));
    return {};
}

void CFalconExtrasPage::OnReadTemp() {
    CSpecProtocol protocol(platform_);
    float celsius = -999.0f;
    temperatureRetries = kTemperatureAttempts;
    bool read = false;
    while (temperatureRetries > 0 && !read) {
        --temperatureRetries;
        read = protocol.ReadBoardTemperature(handle_, celsius);
    }
    Exchanged(read);  // five attempts without a reading count as one failure
    boardTemperature = StrPrintf("%.3f", static_cast<double>(celsius));
}

}  // namespace spindle
