#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "backends/sim/SimTestRig.h"
#include "device/Anchor.h"
#include "device/EzusbRequests.h"
#include "device/LoaderImages.h"
#include "support/HexRecord.h"
#include "support/LoaderDownload.h"
#include "support/TempFolder.h"

namespace spindle::sim {
namespace {

using test::SimRig;
using Bytes = std::vector<std::uint8_t>;

class SimBenchTest : public ::testing::Test {
protected:
    SimRig rig{LoadBench("demo")};
    SimBench& bench = *rig.bench;
};

// ---- descriptors and handles -----------------------------------------------

TEST_F(SimBenchTest, DescriptorsAndHandles) {
    DeviceHandle first = rig.Open(0);
    DeviceHandle second = rig.Open(0);
    ASSERT_NE(first, kInvalidHandle);
    ASSERT_NE(second, kInvalidHandle);
    EXPECT_NE(first, second);
    EXPECT_EQ(bench.OpenHandleCount(0), 2);
    EXPECT_EQ(ReadDeviceDescriptor(rig.platform, first, DescriptorField::ProductStringIndex), 2);
    CloseDevice(rig.platform, first);
    std::string text;
    EXPECT_TRUE(ReadStringDescriptor(rig.platform, second, 2, text));
    EXPECT_EQ(text, "Kestrel");
    EXPECT_FALSE(ReadStringDescriptor(rig.platform, second, 9, text));  // the device stalls
    CloseDevice(rig.platform, second);

    DeviceHandle none = kNullHandle;
    EXPECT_FALSE(OpenDeviceByIndex(rig.platform, 99, none));
    EXPECT_EQ(none, kInvalidHandle);
    EXPECT_EQ(bench.Open("Ezusb-0"), kInvalidHandle);        // the path prefix is required
    EXPECT_EQ(bench.Open("\\\\.\\Ezusb-00"), kInvalidHandle);  // no other spelling of the index
}

// ---- the command set ---------------------------------------------------------

TEST_F(SimBenchTest, SlotWritesStoreExactlyTheFifteenBytesSent) {
    const DeviceHandle handle = rig.Open(3);
    const SlotBytes fifteen = SlotFromText("ABCDEFGHIJKLMNO");
    ASSERT_TRUE(rig.WriteSlot(handle, 15, fifteen));
    const auto back = rig.QuerySlot(handle, 15);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, fifteen);
    EXPECT_EQ(bench.Device(3)->SlotText(15), "ABCDEFGHIJKLMNO");

    // A shorter text keeps its terminator and whatever followed it.
    SlotBytes withTail = SlotFromText("AB");
    withTail[5] = 0x7F;
    ASSERT_TRUE(rig.WriteSlot(handle, 16, withTail));
    EXPECT_EQ(bench.Device(3)->Slot(16), withTail);

    // A write of the wrong length is ignored by the firmware.
    ASSERT_TRUE(rig.Send(handle, {0x06, 16, 'X'}));
    EXPECT_EQ(bench.Device(3)->Slot(16), withTail);

    // Each reply is read once; a read with nothing pending fails.
    EXPECT_FALSE(rig.Read(handle, 17));
    EXPECT_EQ(bench.Device(3)->PendingReplies(), 0u);
    CloseDevice(rig.platform, handle);
}

TEST_F(SimBenchTest, FpgaAndPsocCommands) {
    const DeviceHandle falcon = rig.Open(6);
    ASSERT_TRUE(rig.Send(falcon, {0x6B, 0x04}));
    EXPECT_EQ(rig.Read(falcon, 3), (Bytes{0x6B, 0x01, 0x03}));  // 0x0301, little-endian
    ASSERT_TRUE(rig.Send(falcon, {0x69, 0x10, 0x02, 0x01, 0x03}));
    ASSERT_TRUE(rig.Send(falcon, {0x68}));
    EXPECT_EQ(rig.Read(falcon, 3), (Bytes{0x01, 0x04, 0x00}));  // version 0x0104, big-endian
    ASSERT_TRUE(rig.Send(falcon, {0x68}));                       // no read selected: no reply
    EXPECT_FALSE(rig.Read(falcon, 3));
    ASSERT_TRUE(rig.Send(falcon, {0x69, 0x10, 0x02, 0x03, 0x02, 0x01, 0xFF}));
    EXPECT_EQ(bench.Device(6)->Psoc()->dac, 0x01FF);
    ASSERT_TRUE(rig.Send(falcon, {0x6C}));
    EXPECT_EQ(rig.Read(falcon, 3), (Bytes{0x08, 0x00, 0x19}));  // 6400 raw
    CloseDevice(rig.platform, falcon);

    const DeviceHandle condor = rig.Open(8);
    ASSERT_TRUE(rig.Send(condor, {0x68, 0x80, 0xFF, 0xBA, 0}));  // setpoint -7.0
    ASSERT_TRUE(rig.Read(condor, 4));
    ASSERT_TRUE(rig.Send(condor, {0x68, 0x40, 0, 0, 0}));
    EXPECT_EQ(rig.Read(condor, 4), (Bytes{0xFF, 0xBA, 0, 0}));
    CloseDevice(rig.platform, condor);

    // A Kestrel has no FPGA: the command goes unanswered.
    const DeviceHandle kestrel = rig.Open(1);
    ASSERT_TRUE(rig.Send(kestrel, {0x6B, 0x04}));
    EXPECT_FALSE(rig.Read(kestrel, 3));
    CloseDevice(rig.platform, kestrel);
}

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

TEST_F(SimBenchTest, FaultInjection) {
    const auto osprey = bench.Device(3);
    osprey->SetFailOpen(true);
    EXPECT_EQ(rig.Open(3), kInvalidHandle);
    osprey->SetFailOpen(false);

    DeviceHandle handle = rig.Open(3);
    osprey->SetRequestFails(*RequestCodeFromName("bulkin"), true);
    EXPECT_TRUE(rig.Send(handle, {0x05, 0x00, 0x01}));
    EXPECT_FALSE(rig.Read(handle, 17));
    osprey->SetRequestFails(ioctl::kBulkRead, false);
    EXPECT_TRUE(rig.Read(handle, 17));  // the reply waited in the endpoint

    // Unplugged after three requests: the fourth fails, and so does all else.
    osprey->UnplugAfterRequests(3);
    EXPECT_NE(ReadDeviceDescriptor(rig.platform, handle, DescriptorField::VendorId), 0xFFFF);
    EXPECT_TRUE(rig.QuerySlot(handle, 0));
    EXPECT_EQ(ReadDeviceDescriptor(rig.platform, handle, DescriptorField::VendorId), 0xFFFF);
    EXPECT_TRUE(osprey->IsUnplugged());
    EXPECT_FALSE(rig.Send(handle, {0x05, 0x00, 0x01}));
    EXPECT_EQ(rig.Open(3), kInvalidHandle);
    CloseDevice(rig.platform, handle);
    osprey->UnplugAfterRequests(std::nullopt);
    osprey->Reconnect();
    handle = rig.Open(3);
    EXPECT_TRUE(rig.QuerySlot(handle, 0));
    CloseDevice(rig.platform, handle);
}

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

TEST_F(SimBenchTest, AProgramAboveAndBelow0x2000LandsExactlyInAnUnprogrammedFx2) {
    spindle::test::TempFolder folder;
    const Bytes low = {0x02, 0x00, 0x10, 0xAA, 0x55};
    Bytes high(40);
    for (std::size_t i = 0; i < high.size(); ++i) high[i] = static_cast<std::uint8_t>(0xC0 + i);
    const std::string path = folder.File("prog.hex");
    spindle::test::WriteWholeFile(path, spindle::test::HexRecord(0x3000, Bytes(high.begin(), high.begin() + 16)) +
                                            spindle::test::HexRecord(0x3010, Bytes(high.begin() + 16, high.end())) +
                                            spindle::test::HexRecord(0x0000, low) + ":00000001FF\n");
    CAnchor anchor(rig.platform);
    anchor.deviceName = "Ezusb-15";
    anchor.chipMode = 10;
    anchor.highMemoryLoader = Fx2EepromLoader;
    const DownloadResult download = anchor.DownloadFile(path);
    ASSERT_EQ(download.result, 1);
    EXPECT_TRUE(download.outcome.Ok());
    EXPECT_EQ(bench.Device(15)->Ram(0x3000, 40), high);
    EXPECT_EQ(bench.Device(15)->Ram(0x0000, 5), low);
    // The EZ-USB's own download reaches 0x1B3F, the FX2's 0x1FFF.
    EXPECT_LE(FxEepromLoaderEnd, 0x1B40u);
    EXPECT_LE(Fx2EepromLoaderEnd, 0x2000u);
}

TEST_F(SimBenchTest, InstrumentStopsAnsweringWhileTheCpuIsHeld) {
    CAnchor anchor(rig.platform);
    anchor.deviceName = "Ezusb-4";
    anchor.chipMode = 14;
    anchor.RunOperation(anchorop::kResetHold);
    const DeviceHandle handle = rig.Open(4);
    EXPECT_FALSE(rig.QuerySlot(handle, 0));
    anchor.RunOperation(anchorop::kResetRelease);
    EXPECT_TRUE(rig.QuerySlot(handle, 0));
    CloseDevice(rig.platform, handle);
}

}  // namespace
}  // namespace spindle::sim
