#include <gtest/gtest.h>

#include <algorithm>

#include "backends/sim/SimTestRig.h"
#include "device/Anchor.h"
#include "device/EzusbRequests.h"
#include "support/LoaderDownload.h"

namespace spindle::sim {
namespace {

using test::SimRig;
using Bytes = std::vector<std::uint8_t>;

class SimBenchTest : public ::testing::Test {
protected:
    SimRig rig{LoadBench("demo")};
    SimBench& bench = *rig.bench;
};

// ---- the command set ---------------------------------------------------------

TEST_F(SimBenchTest, TecAndLanternCommands) {
    const DeviceHandle gannet = rig.Open(9);
    ASSERT_TRUE(rig.Send(gannet, {0x0D, 0x01}));
    ASSERT_TRUE(rig.Send(gannet, {0x0B, 0x01}));
    ASSERT_TRUE(rig.Send(gannet, {0x3E, 0x00, 0x00, 0x7D, 0x00, 0x00}));  // 12.5 degrees
    ASSERT_TRUE(rig.Send(gannet, {0x3F}));
    const auto status = rig.Read(gannet, 14);
    ASSERT_TRUE(status);
    const auto value = [&](int i) { return static_cast<std::int16_t>(((*status)[2 * i] << 8) | (*status)[2 * i + 1]); };
    EXPECT_EQ(value(0) & 0x03, 0x03);  // TEC and fan on
    EXPECT_EQ(value(4), 125);
    EXPECT_EQ(value(2), 205);          // one step from 21.5 towards 12.5
    EXPECT_EQ(value(3), 125 - 205);
    CloseDevice(rig.platform, gannet);

    const DeviceHandle kestrel = rig.Open(0);
    ASSERT_TRUE(rig.Send(kestrel, {0x03, 0x01, 0x00}));
    ASSERT_TRUE(rig.Send(kestrel, {0x21, 0x01, 0x00}));
    ASSERT_TRUE(rig.Send(kestrel, {0x25, 0x00, 0x7D}));
    const auto lantern = bench.Device(0)->Lantern();
    EXPECT_TRUE(lantern->lightOn);
    EXPECT_TRUE(lantern->lightPulsed);
    EXPECT_EQ(lantern->dac, 0x7D00);
    bench.Device(0)->SetLanternTemperatureRaw(0x01020304);
    ASSERT_TRUE(rig.Send(kestrel, {0x20}));
    EXPECT_EQ(rig.Read(kestrel, 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
    CloseDevice(rig.platform, kestrel);
}

TEST_F(SimBenchTest, AccessoryWritesBecomeNonVolatileOnlyWithTheCommit) {
    const auto device = bench.Device(0);
    const DeviceHandle handle = rig.Open(0);
    ASSERT_TRUE(rig.WriteSlot(handle, 1, SlotFromText("1.500000e-02"), 0x24));
    EXPECT_EQ(TextOfSlot(*rig.QuerySlot(handle, 1, 0x23)), "1.500000e-02");
    EXPECT_EQ(TextOfSlot(device->CommittedAccessorySlot(1)), "2.000000e-02");
    device->Reconnect();  // power lost before the commit
    EXPECT_EQ(TextOfSlot(device->AccessorySlot(1)), "2.000000e-02");

    ASSERT_TRUE(rig.WriteSlot(handle, 1, SlotFromText("1.500000e-02"), 0x24));
    ASSERT_TRUE(rig.Send(handle, {0x27, 0x00}));
    EXPECT_EQ(TextOfSlot(device->CommittedAccessorySlot(1)), "1.500000e-02");
    EXPECT_EQ(device->CommitCount(), 1);
    CloseDevice(rig.platform, handle);
}

// ---- faults ------------------------------------------------------------------

TEST_F(SimBenchTest, InvalidTemperatureReadingsForTheFirstReadsOrForever) {
    const auto kestrel = bench.Device(0);
    const DeviceHandle handle = rig.Open(0);
    const auto reading = [&] {
        EXPECT_TRUE(rig.Send(handle, {0x20}));
        const auto reply = rig.Read(handle, 4);
        return reply ? DecodeLe32(reply->data()) : 0xDEADu;
    };
    kestrel->SetInvalidTemperatureReads(2);
    EXPECT_EQ(reading(), 0xFFFFu);
    EXPECT_EQ(reading(), 0xFFFFu);
    EXPECT_EQ(reading(), 1000u);

    FaultSettings faults;
    faults.invalidTemperatureReads = kForever;
    faults.invalidTemperatureValue = 0;
    kestrel->SetFaults(faults);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(reading(), 0u);
    CloseDevice(rig.platform, handle);
}

// ---- the 8051 side -------------------------------------------------------------

TEST_F(SimBenchTest, LoaderRequestsWorkOnlyAfterADownloadedProgramIsReleased) {
    const auto chip = bench.Device(15);  // unprogrammed FX2
    CAnchor anchor(rig.platform);
    anchor.deviceName = "Ezusb-15";
    anchor.chipMode = 12;
    const auto vendorRequest = [&](std::uint8_t request, std::uint16_t value, const Bytes& data) {
        std::copy(data.begin(), data.end(), anchor.requestBuffer.begin());
        anchor.requestNumber = request;
        anchor.requestValue = value;
        anchor.requestLength = static_cast<std::uint32_t>(data.size());
        rig.ui.ClearMessages();
        return anchor.RunOperation(anchorop::kVendorRequest).Ok();
    };
    EXPECT_FALSE(vendorRequest(0xA2, 0x0000, {0xC2, 0x47}));  // no program runs
    EXPECT_EQ(chip->Eeprom(0, 2), (Bytes{0xFF, 0xFF}));

    // A wrong CPUCS address (the older chip's) leaves the 8051 running.
    anchor.chipMode = 2;
    anchor.RunOperation(anchorop::kResetHold);
    EXPECT_FALSE(chip->CpuHeld());
    anchor.chipMode = 12;
    anchor.RunOperation(anchorop::kResetHold);
    EXPECT_TRUE(chip->CpuHeld());
    {
        const DeviceHandle handle = rig.Open(15);
        ASSERT_TRUE(spindle::test::DownloadLoaderRecords(*rig.bench, handle, true));
        CloseDevice(rig.platform, handle);
    }
    EXPECT_FALSE(vendorRequest(0xA2, 0x0000, {0xC2}));  // held: nothing serves it
    anchor.RunOperation(anchorop::kResetRelease);
    EXPECT_TRUE(chip->ProgramRunning());
    EXPECT_EQ(chip->AnchorDownloadsWhileRunning(), 0);
    EXPECT_TRUE(vendorRequest(0xA2, 0x0010, {0xC2, 0x47, 0x05}));
    EXPECT_TRUE(vendorRequest(0xA3, 0x3000, {0xAA, 0xBB}));
    EXPECT_EQ(chip->Eeprom(0x10, 3), (Bytes{0xC2, 0x47, 0x05}));
    EXPECT_EQ(chip->Ram(0x3000, 2), (Bytes{0xAA, 0xBB}));

    // Reconnecting the cable restarts the chip without the program.
    chip->Reconnect();
    EXPECT_FALSE(vendorRequest(0xA3, 0x3000, {0x01}));
    EXPECT_EQ(chip->Eeprom(0x10, 1), (Bytes{0xC2}));  // the EEPROM keeps its contents

    // A program that never finishes the request fails it as a USB time-out
    // would, and the bench's trace says why.
    bench.SetDebugTrace(&rig.trace);
    anchor.RunOperation(anchorop::kResetHold);
    anchor.downloadBuffer[0] = 0x80;  // SJMP $
    anchor.downloadBuffer[1] = 0xFE;
    anchor.downloadAddress = 0;
    anchor.downloadLength = 2;
    anchor.RunOperation(anchorop::kAnchorDownload);
    anchor.RunOperation(anchorop::kResetRelease);
    EXPECT_FALSE(vendorRequest(0xA3, 0x3000, {0x01}));
    EXPECT_TRUE(chip->VendorRequests().back().timedOut);
    const std::vector<std::string> lines = rig.trace.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("Ezusb-15: vendor request 0xA3 (value 0x3000) timed out", 0) == 0;
                            }),
              1);
    bench.SetDebugTrace(nullptr);
}

}  // namespace
}  // namespace spindle::sim
