#include "protocol/AutoNullingInfo.h"

#include <array>
#include <cstdint>

#include <gtest/gtest.h>

namespace spindle {
namespace {

TEST(AutoNullingInfoTest, SlotBytesDecodeAndEncodeLittleEndian) {
    const std::array<std::uint8_t, 8> slot = {3, 1, 0x34, 0x12, 0xFE, 0xFF, 0x77, 0x88};
    CAutoNullingInfo info;
    info.Decode(slot.data());
    EXPECT_EQ(info.autoNullingMode, 3);
    EXPECT_EQ(info.temperatureCompensation, 1);
    EXPECT_EQ(info.darkValue, 0x1234);
    EXPECT_EQ(info.saturationValue, 0xFFFE);
    EXPECT_EQ(info.DisplayText(), "Enabled,Enabled,4660,65534");

    std::array<std::uint8_t, 8> out = {9, 9, 9, 9, 9, 9, 0x77, 0x88};
    info.Encode(out.data());
    EXPECT_EQ(out, slot);  // bytes past the sixth are left alone
}

TEST(AutoNullingInfoTest, OnlyModeThreeAndCompensationOneShowEnabled) {
    CAutoNullingInfo info;
    info.darkValue = 70;
    info.saturationValue = 60000;
    info.autoNullingMode = 1;
    info.temperatureCompensation = 2;
    EXPECT_EQ(info.DisplayText(), "Disabled,Disabled,70,60000");
    info.autoNullingMode = 3;
    EXPECT_EQ(info.DisplayText(), "Enabled,Disabled,70,60000");
    info.autoNullingMode = 0;
    info.temperatureCompensation = 1;
    EXPECT_EQ(info.DisplayText(), "Disabled,Enabled,70,60000");
}

}  // namespace
}  // namespace spindle
