#include "protocol/AutoNullingInfo.h"

#include <array>
#include <cstdint>

#include <gtest/gtest.h>

namespace spindle {
namespace {

TEST(AutoNullingInfoTest, SlotBytesAndDisplayText) {
    const std::array<std::uint8_t, 8> slot = {3, 1, 0x34, 0x12, 0xFE, 0xFF, 0x77, 0x88};
    CAutoNullingInfo info;
    info.Decode(slot.data());
    EXPECT_EQ(info.DisplayText(), "Enabled,Enabled,4660,65534");
    std::array<std::uint8_t, 8> out = {9, 9, 9, 9, 9, 9, 0x77, 0x88};
    info.Encode(out.data());
    EXPECT_EQ(out, slot);  // bytes past the sixth are left alone

    // Only mode 3 and compensation 1 count as enabled.
    info.autoNullingMode = 1;
    info.temperatureCompensation = 2;
    EXPECT_EQ(info.DisplayText(), "Disabled,Disabled,4660,65534");
}

}  // namespace
}  // namespace spindle
