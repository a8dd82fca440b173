#include "device/UsbTrace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "device/Anchor.h"
#include "device/EzusbDevice.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

// Every kind of request through the simulated bench, checked line by line.
TEST(UsbTrace, EveryRequestKindByteForByte) {
    auto bench = sim::LoadBench("demo");
    CUsbTrace trace;
    CTracingDriver driver(*bench, trace);
    VirtualClock virtualClock;
    CTracingClock clock(virtualClock, trace);
    MemoryDebugTrace debug;
    test::ScriptedUserInterface ui;
    Platform platform{driver, clock, debug, ui};

    DeviceHandle handle = kNullHandle;
    ASSERT_TRUE(OpenDeviceByIndex(platform, 0, handle));
    EXPECT_EQ(ReadDeviceDescriptor(platform, handle, DescriptorField::VendorId), 0xFA57);
    std::string firmware;
    ASSERT_TRUE(ReadStringDescriptor(platform, handle, 1, firmware));
    const std::uint8_t query[3] = {0x05, 0x00, 0x01};
    ASSERT_TRUE(BulkOut(platform, handle, 0, query, 3, true));
    std::uint8_t reply[17] = {};
    ASSERT_TRUE(BulkIn(platform, handle, 3, reply, 17, true));
    EXPECT_FALSE(BulkIn(platform, handle, 3, reply, 17, false));  // nothing pending
    CloseDevice(platform, handle);
    DeviceHandle missing = kNullHandle;
    EXPECT_FALSE(OpenDeviceByIndex(platform, 99, missing));

    CAnchor anchor(platform);
    anchor.chipMode = 7;
    anchor.deviceName = "Ezusb-14";  // the unprogrammed EZ-USB chip
    anchor.RunOperation(anchorop::kResetHold);
    // A program that stops at once (0xA5): the vendor request finds no one
    // to answer it and fails, as on a chip whose program ignores it.
    anchor.downloadBuffer.fill(0xA5);
    anchor.downloadAddress = 0x0000;
    anchor.downloadLength = 4;
    anchor.RunOperation(anchorop::kAnchorDownload);
    anchor.RunOperation(anchorop::kResetRelease);
    anchor.requestNumber = 0xA2;
    anchor.requestValue = 0x0010;
    anchor.requestLength = 8;
    anchor.RunOperation(anchorop::kVendorRequest);

    std::string serialHex;
    for (int i = 0; i < 17; ++i) serialHex += (i ? " " : "") + HexBytes(&reply[i], 1);
    const std::vector<std::string> expected = {
        "OPEN Ezusb-0 ok",
        "DEVDESC Ezusb-0 ok",
        "STRDESC Ezusb-0 index=1 lang=0x001b ok",
        "BULKOUT Ezusb-0 pipe=0 len=3 ok : 05 00 01",
        "SLEEP 10",
        "BULKIN Ezusb-0 pipe=3 len=17 ok : " + serialHex,
        "BULKIN Ezusb-0 pipe=3 len=17 fail :",
        "CLOSE Ezusb-0",
        "OPEN Ezusb-99 fail",
        "OPEN Ezusb-14 ok",
        "RESET Ezusb-14 cpucs=0x7f92 data=1 ok",
        "CLOSE Ezusb-14",
        "OPEN Ezusb-14 ok",
        "ANCHOR Ezusb-14 addr=0x0000 len=4 ok",
        "CLOSE Ezusb-14",
        "OPEN Ezusb-14 ok",
        "RESET Ezusb-14 cpucs=0x7f92 data=0 ok",
        "CLOSE Ezusb-14",
        "OPEN Ezusb-14 ok",
        "VENDOR Ezusb-14 dir=0 req=0xa2 value=0x0010 index=0xbeef len=8 fail",
        "CLOSE Ezusb-14",
    };
    EXPECT_EQ(trace.Lines(), expected);
}

TEST(UsbTrace, SetupWritesToTheFileNamedInTheEnvironment) {
    const auto path = std::filesystem::temp_directory_path() / "spindle-usb-trace-test.txt";
    std::filesystem::remove(path);
    sim::SimBench bench;
    VirtualClock virtualClock;
    {
        CUsbTraceSetup setup(bench, virtualClock, path.string());
        ASSERT_NE(setup.trace(), nullptr);
        EXPECT_TRUE(setup.error().empty());
        EXPECT_EQ(setup.driver().Open("\\\\.\\Ezusb-5"), kInvalidHandle);
        setup.clock().Sleep(200);
    }
    std::ifstream file(path);
    std::string a, b;
    std::getline(file, a);
    std::getline(file, b);
    EXPECT_EQ(a, "OPEN Ezusb-5 fail");
    EXPECT_EQ(b, "SLEEP 200");
    std::filesystem::remove(path);

    CUsbTraceSetup bad(bench, virtualClock, "/nonexistent-folder/trace.txt");
    EXPECT_FALSE(bad.error().empty());
    EXPECT_EQ(&bad.driver(), static_cast<IEzusbDriver*>(&bench));
}

}  // namespace
}  // namespace spindle
