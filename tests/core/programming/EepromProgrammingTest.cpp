// The device side of an EEPROM job, on the simulated bench's emulated chips.
#include <gtest/gtest.h>

#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "programming/EepromImage.h"
#include "programming/EepromProgramming.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"
#include "support/TempFolder.h"

namespace spindle::test {
namespace {

struct BenchRig {
    std::unique_ptr<sim::SimBench> bench = sim::LoadBench("demo");
    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform{*bench, clock, trace, ui};
    TempFolder folder;
    JobEntry entry;

    JobResult Program(std::uint32_t index, std::uint32_t family, const std::string& bytes) {
        return ProgramEepromImage(platform, {index, family, "image.iic", std::make_shared<const std::string>(bytes), true, ""},
                                  entry);
    }
};

TEST(EepromProgramming, AnImageIsSentInBlocksOfTheFileAndTheLastOneIsShort) {
    BenchRig rig;
    std::string bytes(5000, '\x11');
    bytes[4999] = '\x77';
    ASSERT_TRUE(rig.Program(3, 4, bytes).verified);
    std::vector<std::pair<std::uint16_t, std::uint32_t>> writes;
    for (const auto& request : rig.bench->Device(3)->VendorRequests()) {
        if (request.request == 0xA2 && request.direction == 0) writes.emplace_back(request.value, request.length);
    }
    EXPECT_EQ(writes, (std::vector<std::pair<std::uint16_t, std::uint32_t>>{{0x0000, 4096}, {0x1000, 904}}));
    EXPECT_EQ(rig.bench->Device(3)->Eeprom(4999, 2), (std::vector<std::uint8_t>{0x77, 0xFF}));
    EXPECT_TRUE(rig.ui.Messages().empty()) << "a worker shows nothing itself";
}

TEST(EepromProgramming, OversizedImagesReachNoDevice) {
    BenchRig rig;
    EXPECT_NE(rig.Program(3, 4, std::string(65537, '\xB2')).outcome.failed.at(0).find("larger than 65536 bytes"), std::string::npos);
    EXPECT_TRUE(rig.bench->Device(3)->VendorRequests().empty());
    EXPECT_TRUE(rig.bench->Device(3)->ResetRequests().empty());
    // Exactly 65536 bytes fill the address range and are written.
    EXPECT_TRUE(rig.Program(3, 4, std::string(65536, '\xB2')).Ok());
}

TEST(EepromProgramming, ADumpReadsWhatIsThereAndRefusesMoreThanTheAddressReaches) {
    BenchRig rig;
    ASSERT_TRUE(rig.Program(6, 10, std::string(3000, '\xC2')).Ok());
    std::vector<std::uint8_t> expected(3001, 0xC2);
    expected.back() = 0xFF;
    EXPECT_EQ(ReadEepromImage(rig.platform, 6, 10, 3001).bytes, expected);
    EXPECT_FALSE(ReadEepromImage(rig.platform, 6, 10, 65537).outcome.Ok());
    // An EEPROM smaller than the length asked for gives its start again:
    // the dump keeps its real size and fails.
    std::vector<std::uint8_t> small(256, 0x00), wrapped;
    for (std::size_t i = 0; i < small.size(); ++i) small[i] = static_cast<std::uint8_t>(i * 7);
    for (int copy = 0; copy < 3; ++copy) wrapped.insert(wrapped.end(), small.begin(), small.end());
    EXPECT_EQ(EepromWrapSize(std::vector<std::uint8_t>(4096, 0xFF).data(), 4096), 0u) << "an erased EEPROM";
    rig.bench->Device(6)->SetEeprom(0, wrapped);
    const EepromReadResult repeats = ReadEepromImage(rig.platform, 6, 10, 700);
    EXPECT_FALSE(repeats.outcome.Ok());
    EXPECT_EQ(repeats.bytes, small);
    // A job asked to stop sends no further request and says how far it got.
    rig.entry.stop.store(true);
    rig.bench->Device(6)->ClearLogs();
    EXPECT_NE(rig.Program(6, 10, std::string(5000, '\xC2')).outcome.failed.at(0).find("stopped on request after 0 of the image's 5000 bytes"), std::string::npos);
    for (const auto& request : rig.bench->Device(6)->VendorRequests()) EXPECT_NE(request.request, 0xA2);
    rig.entry.stop.store(false);
    // An empty image writes nothing, not even the loader.
    rig.bench->Device(6)->ClearLogs();
    EXPECT_FALSE(rig.Program(6, 10, "").Ok());
    EXPECT_TRUE(rig.bench->Device(6)->ResetRequests().empty());
    EXPECT_EQ(ReadEepromImage(rig.platform, 99, 10, 16).outcome.failed, std::vector<std::string>{"device 99 could not be opened"});
}

}  // namespace
}  // namespace spindle::test
