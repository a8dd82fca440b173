// Programs loaded through CAnchor::DownloadFile into simulated chips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backends/sim/SimTestRig.h"
#include "device/Anchor.h"
#include "device/LoaderImages.h"
#include "platform/Format.h"
#include "support/HexRecord.h"
#include "support/TempFolder.h"

namespace spindle::sim {
namespace {

std::string Record(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    return spindle::test::HexRecord(address, bytes, 0, "\n");
}

TEST(DownloadOnBench, AProgramAboveAndBelow0x2000LandsExactlyInAnUnprogrammedFx2) {
    test::SimRig rig{LoadBench("demo")};
    spindle::test::TempFolder folder;
    const std::vector<std::uint8_t> low = {0x02, 0x00, 0x10, 0xAA, 0x55};
    std::vector<std::uint8_t> high(40);
    for (std::size_t i = 0; i < high.size(); ++i) high[i] = static_cast<std::uint8_t>(0xC0 + i);
    const std::string path = folder.File("prog.hex");
    spindle::test::WriteWholeFile(path, Record(0x3000, std::vector<std::uint8_t>(high.begin(), high.begin() + 16)) +
                                   Record(0x3010, std::vector<std::uint8_t>(high.begin() + 16, high.end())) +
                                   Record(0x0000, low) + ":00000001FF\n");

    CAnchor anchor(rig.platform);
    anchor.deviceName = "Ezusb-15";  // unprogrammed FX2, 04B4/8613
    anchor.chipMode = 10;
    anchor.highMemoryLoader = Fx2EepromLoader;
    const DownloadResult download = anchor.DownloadFile(path);
    ASSERT_EQ(download.result, 1);
    EXPECT_TRUE(download.outcome.Ok());
    const SimDevice& chip = *rig.bench->Device(15);
    EXPECT_EQ(chip.Ram(0x3000, 40), high);
    EXPECT_EQ(chip.Ram(0x0000, 5), low);
}

TEST(DownloadOnBench, TheBuiltInLoadersFitBelowTheRamTheChipsLoad) {
    // The EZ-USB's own download reaches 0x1B3F, the FX2's 0x1FFF; each
    // table is data records then the end record.
    EXPECT_LE(FxEepromLoaderEnd, 0x1B40u);
    EXPECT_LE(Fx2EepromLoaderEnd, 0x2000u);
    for (const LoaderRecord* table : {FxEepromLoader, Fx2EepromLoader}) {
        std::size_t bytes = 0;
        const LoaderRecord* record = table;
        for (; record->type == 0; ++record) {
            EXPECT_LE(record->address + record->length, 0x2000);
            bytes += record->length;
        }
        EXPECT_EQ(record->type, 1);
        EXPECT_GT(bytes, 256u);
    }
}

}  // namespace
}  // namespace spindle::sim
