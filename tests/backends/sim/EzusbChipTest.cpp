// The emulated chips: our EEPROM loaders on both, and a program's waits.
#include "sim/chip/EzusbChip.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/LoaderImages.h"
#include "platform/Format.h"

namespace spindle::sim {
namespace {

struct LoaderRig {
    LoaderRig(bool fx2, EepromConfig config) : eeprom(config.size, 0xFF), chip(fx2, memory, config, eeprom) {
        for (const LoaderRecord* r = fx2 ? Fx2EepromLoader : FxEepromLoader; r->type == 0; ++r) {
            std::copy(r->data, r->data + r->length, memory.begin() + r->address);
        }
        chip.Start();
    }
    EzusbChip::Result Request(bool toHost, std::uint8_t request, std::uint16_t value, std::uint8_t* data,
                              std::uint32_t length, std::uint32_t* returned = nullptr) {
        const std::uint8_t setup[8] = {static_cast<std::uint8_t>(toHost ? 0xC0 : 0x40), request,
                                       static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                       0xEF, 0xBE, static_cast<std::uint8_t>(length),
                                       static_cast<std::uint8_t>(length >> 8)};
        std::uint32_t got = 0;
        const auto result = chip.ControlTransfer(setup, data, length, returned != nullptr ? returned : &got);
        return result;
    }

    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(65536, 0);
    std::vector<std::uint8_t> eeprom;
    EzusbChip chip;
};

std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((i * 37 + (i >> 8) * 11 + 5) & 0xFF);
    return bytes;
}

class EachLoader : public ::testing::TestWithParam<bool> {};

TEST_P(EachLoader, WritesAndReadsBackAnImageAcrossPagesAndPackets) {
    const bool fx2 = GetParam();
    LoaderRig rig(fx2, EepromConfig{0x4000, 2, 64, 5});
    const std::vector<std::uint8_t> image = Pattern(0x2100);
    // 4096-byte writes at the file offset, as the programming job sends them,
    // after an odd-sized first piece that leaves the rest off the page grid.
    std::vector<std::uint8_t> piece(image.begin(), image.begin() + 100);
    ASSERT_EQ(rig.Request(false, 0xA2, 0, piece.data(), 100), EzusbChip::Result::Completed);
    for (std::uint32_t at = 100; at < image.size(); at += 4096) {
        const std::uint32_t n = std::min<std::uint32_t>(4096, static_cast<std::uint32_t>(image.size()) - at);
        piece.assign(image.begin() + at, image.begin() + at + n);
        ASSERT_EQ(rig.Request(false, 0xA2, static_cast<std::uint16_t>(at), piece.data(), n),
                  EzusbChip::Result::Completed)
            << at;
    }
    EXPECT_EQ(std::vector<std::uint8_t>(rig.eeprom.begin(), rig.eeprom.begin() + image.size()), image);

    // Read back through the loader, 4096 bytes at a time, from an odd start.
    std::vector<std::uint8_t> back(image.size(), 0);
    std::uint32_t returned = 0;
    ASSERT_EQ(rig.Request(true, 0xA2, 0, back.data(), 33, &returned), EzusbChip::Result::Completed);
    EXPECT_EQ(returned, 33u);
    for (std::uint32_t at = 33; at < back.size(); at += 4096) {
        const std::uint32_t n = std::min<std::uint32_t>(4096, static_cast<std::uint32_t>(back.size()) - at);
        ASSERT_EQ(rig.Request(true, 0xA2, static_cast<std::uint16_t>(at), back.data() + at, n, &returned),
                  EzusbChip::Result::Completed);
        EXPECT_EQ(returned, n);
    }
    EXPECT_EQ(back, image);
}

TEST_P(EachLoader, ServesMemoryAndFindsAOneByteEeprom) {
    const bool fx2 = GetParam();
    LoaderRig rig(fx2, EepromConfig{256, 1, 8, 5});  // a 24C02 at 0x50
    std::vector<std::uint8_t> bytes = Pattern(200);
    ASSERT_EQ(rig.Request(false, 0xA2, 0x20, bytes.data(), 200), EzusbChip::Result::Completed);
    EXPECT_EQ(std::vector<std::uint8_t>(rig.eeprom.begin() + 0x20, rig.eeprom.begin() + 0x20 + 200), bytes);

    // 0xA3: 8051 memory at the value, both directions.
    const std::uint16_t where = fx2 ? 0x3000 : 0x1C00;
    ASSERT_EQ(rig.Request(false, 0xA3, where, bytes.data(), 130), EzusbChip::Result::Completed);
    EXPECT_EQ(std::vector<std::uint8_t>(rig.memory.begin() + where, rig.memory.begin() + where + 130),
              std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 130));
    std::vector<std::uint8_t> back(130, 0);
    ASSERT_EQ(rig.Request(true, 0xA3, where, back.data(), 130), EzusbChip::Result::Completed);
    EXPECT_EQ(back, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 130));

    // Requests it does not serve are stalled, not left hanging.
    EXPECT_EQ(rig.Request(true, 0x55, 0, back.data(), 4), EzusbChip::Result::Stalled);
}

// A wait for the host passes at once; a delay loop or a JTAG clock runs instruction by instruction.
TEST(EzusbChipTime, AWaitPassesAtOnceButWorkDoesNot) {
    std::vector<std::uint8_t> memory(65536, 0), eeprom(256, 0xFF);
    const std::vector<std::uint8_t> program = {
        0x75, 0x80, 0x00, 0x75, 0xB2, 0x07,  // MOV IOA,#0; MOV OEA,#7 (TCK, TMS, TDI driven low)
        0x90, 0x12, 0x34, 0xE0, 0x60, 0xFD,  // MOV DPTR,#0x1234; wait: MOVX A,@DPTR; JZ wait
        0x7E, 0x10, 0xDF, 0xFE, 0xDE, 0xFC,  // MOV R6,#16; d: DJNZ R7,d; DJNZ R6,d (16 x 514 cycles)
        0xD2, 0x80, 0xC2, 0x80, 0x80, 0xFA,  // t: SETB IOA.0 (TCK); CLR IOA.0; SJMP t (4 cycles a clock)
    };
    std::copy(program.begin(), program.end(), memory.begin());
    JtagChain chain(JtagDeviceConfig{0x0A001093, 6, 65536});
    EzusbChip chip(true, memory, EepromConfig{256, 1, 8, 5}, eeprom);
    chip.AttachJtag(&chain);
    chip.Start();
    chip.Run(1000 * chip.CyclesPerMs());
    EXPECT_GE(chip.Cycles(), 1000 * chip.CyclesPerMs());
    EXPECT_EQ(chain.Clocks(), 0u);
    memory[0x1234] = 1;
    chip.Run(12'000);
    EXPECT_NEAR(static_cast<double>(chain.Clocks()), (12'000 - 5 - 16 * 514) / 4.0, 2);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, EachLoader, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Fx2" : "Ezusb"; });

}  // namespace
}  // namespace spindle::sim
