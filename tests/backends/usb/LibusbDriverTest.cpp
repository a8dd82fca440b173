// The libusb back end on a machine with no instrument attached (as in CI):
// every open fails cleanly and says why in the debug trace.
#include <gtest/gtest.h>

#include "device/EzusbRequests.h"
#include "platform/DebugTrace.h"
#include "usb/LibusbDriver.h"

namespace spindle::usb {
namespace {

bool AnyLineHas(const MemoryDebugTrace& trace, const std::string& text) {
    for (const std::string& line : trace.Lines()) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(LibusbDriver, OpeningAMissingDeviceFailsQuietlyWithTheReasonTraced) {
    MemoryDebugTrace trace;
    CLibusbDriver driver(&trace);
    if (!driver.Ready()) GTEST_SKIP() << driver.InitError();

    // A machine with an instrument plugged in would open it; look far
    // beyond any real bench instead.
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(100000)));
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_TRUE(AnyLineHas(trace, "no device \\\\.\\Ezusb-100000")) << ::testing::PrintToString(trace.Lines());

    trace.Clear();
    EXPECT_EQ(driver.Open("Ezusb-0"), kInvalidHandle);  // a name is not a path
    EXPECT_TRUE(AnyLineHas(trace, "is not a device path"));
    EXPECT_EQ(driver.OpenHandleCount(), 0);
}

TEST(LibusbDriver, RequestsOnHandlesItNeverGaveFail) {
    MemoryDebugTrace trace;
    CLibusbDriver driver(&trace);
    if (!driver.Ready()) GTEST_SKIP() << driver.InitError();

    std::uint8_t descriptor[18] = {};
    std::uint32_t returned = 99;
    for (const DeviceHandle handle : {kNullHandle, kInvalidHandle, DeviceHandle{1}}) {
        EXPECT_FALSE(driver.IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, descriptor, 18, &returned));
        EXPECT_EQ(returned, 0u);
        driver.Close(handle);  // harmless
    }
}

TEST(LibusbDriver, SmokeOpenOfTheFirstDeviceOnABareMachine) {
    CLibusbDriver driver;
    if (!driver.Ready()) GTEST_SKIP() << driver.InitError();
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(0)));
    if (handle != kInvalidHandle) {
        // Someone runs the tests with an instrument plugged in: at least
        // the open must have given a usable handle.
        EXPECT_NE(handle, kNullHandle);
        EXPECT_EQ(driver.OpenHandleCount(), 1);
        driver.Close(handle);
    }
    EXPECT_EQ(driver.OpenHandleCount(), 0);
}

}  // namespace
}  // namespace spindle::usb
