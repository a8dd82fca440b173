#pragma once
#include <cstdint>
#include <string>

namespace spindle {

// The auto-nulling settings of a Kestrel+ or Harrier, kept in information
// slot 17. Slot form (six bytes): byte 0 auto-nulling mode, byte 1
// temperature compensation, bytes 2-3 the dark value and bytes 4-5 the
// saturation value, both little-endian.
class CAutoNullingInfo {
public:
    static constexpr std::uint8_t kModeEnabled = 3;
    static constexpr std::uint8_t kCompensationEnabled = 1;
    static constexpr int kSlotBytes = 6;

    virtual ~CAutoNullingInfo() = default;

    std::uint16_t saturationValue = 0;
    std::uint16_t darkValue = 0;              // at 25 degrees Celsius
    std::uint8_t temperatureCompensation = 0; // 1 means enabled
    std::uint8_t autoNullingMode = 0;         // 3 means enabled

    // Only the exact values count as enabled.
    bool AutoNullingEnabled() const { return autoNullingMode == kModeEnabled; }
    bool CompensationEnabled() const { return temperatureCompensation == kCompensationEnabled; }

    // Sets the four fields from the first six bytes of a slot value.
    void Decode(const std::uint8_t* slot);
    // Writes the four fields into the first six bytes of a slot value.
    void Encode(std::uint8_t* slot) const;
    // "Enabled"/"Disabled" for the mode and for the compensation, then the
    // dark value and the saturation value: "%s,%s,%hu,%hu".
    std::string DisplayText() const;

    bool operator==(const CAutoNullingInfo& other) const {
        return saturationValue == other.saturationValue && darkValue == other.darkValue &&
               temperatureCompensation == other.temperatureCompensation &&
               autoNullingMode == other.autoNullingMode;
    }
};

}  // namespace spindle
