#include "protocol/AutoNullingInfo.h"

#include "platform/Format.h"

namespace spindle {

void CAutoNullingInfo::Decode(const std::uint8_t* slot) {
    autoNullingMode = slot[0];
    temperatureCompensation = slot[1];
    darkValue = static_cast<std::uint16_t>(slot[2] | (slot[3] << 8));
    saturationValue = static_cast<std::uint16_t>(slot[4] | (slot[5] << 8));
}

void CAutoNullingInfo::Encode(std::uint8_t* slot) const {
    slot[0] = autoNullingMode;
    slot[1] = temperatureCompensation;
    slot[2] = static_cast<std::uint8_t>(darkValue & 0xFF);
    slot[3] = static_cast<std::uint8_t>(darkValue >> 8);
    slot[4] = static_cast<std::uint8_t>(saturationValue & 0xFF);
    slot[5] = static_cast<std::uint8_t>(saturationValue >> 8);
}

std::string CAutoNullingInfo::DisplayText() const {
    return StrPrintf("%s,%s,%hu,%hu", AutoNullingEnabled() ? "Enabled" : "Disabled",
                     CompensationEnabled() ? "Enabled" : "Disabled", darkValue, saturationValue);
}

}  // namespace spindle
