#include "device/EzusbDevice.h"

#include <gtest/gtest.h>

#include "core/device/RecordingDriver.h"
#include "device/EzusbRequests.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

class EzusbDeviceTest : public ::testing::Test {
protected:
    test::RecordingDriver driver;
    VirtualClock clock;
    MemoryDebugTrace trace;
    test::ScriptedUserInterface ui;
    Platform platform{driver, clock, trace, ui};
};

TEST_F(EzusbDeviceTest, OpenBuildsThePathAndReportsFailureAsAllOnes) {
    driver.failOpen.insert("\\\\.\\Ezusb-7");
    DeviceHandle handle = 0;
    EXPECT_TRUE(OpenDeviceByIndex(platform, 3, handle));
    EXPECT_NE(handle, kInvalidHandle);
    EXPECT_FALSE(OpenDeviceByIndex(platform, 7, handle));
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(driver.opened, (std::vector<std::string>{"\\\\.\\Ezusb-3", "\\\\.\\Ezusb-7"}));

    CloseDevice(platform, handle);       // all ones: harmless, nothing closed
    CloseDevice(platform, kNullHandle);  // zero: nothing closed
    EXPECT_TRUE(driver.closed.empty());
}

TEST_F(EzusbDeviceTest, DescriptorFieldsAndTheirNoDeviceValues) {
    std::vector<std::uint8_t> descriptor(18, 0);
    descriptor[8] = 0x57; descriptor[9] = 0xFA;    // idVendor
    descriptor[10] = 0x02; descriptor[11] = 0x10;  // idProduct
    descriptor[15] = 0x02;                         // iProduct
    driver.replies[ioctl::kGetDeviceDescriptor] = descriptor;

    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::VendorId), 0xFA57);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::ProductId), 0x1002);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::ProductStringIndex), 2);
    EXPECT_EQ(driver.requests.size(), 3u);  // one request per field

    EXPECT_EQ(ReadDeviceDescriptor(platform, kNullHandle, DescriptorField::VendorId), 0);
    EXPECT_EQ(ReadDeviceDescriptor(platform, kInvalidHandle, DescriptorField::VendorId), 0);
    EXPECT_EQ(driver.requests.size(), 3u);  // no request for no device

    driver.failCodes.insert(ioctl::kGetDeviceDescriptor);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::VendorId), 0xFFFF);
}

TEST_F(EzusbDeviceTest, BulkTransfersOnNoDeviceHandles) {
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(BulkOut(platform, kNullHandle, 0, data, 4, true));
    EXPECT_FALSE(BulkIn(platform, kNullHandle, 3, data, 4, true));
    EXPECT_TRUE(ui.Messages().empty());  // handle 0 is silent even when asked to report

    EXPECT_FALSE(BulkOut(platform, kInvalidHandle, 0, data, 4, false));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_FALSE(BulkOut(platform, kInvalidHandle, 0, data, 4, true));
    EXPECT_FALSE(BulkIn(platform, kInvalidHandle, 3, data, 4, true));
    const auto messages = ui.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "BULK_OUT failed.");
    EXPECT_EQ(messages[1].text, "BULK_IN failed.");
    EXPECT_EQ(messages[0].title, "USB Warning!");
    EXPECT_EQ(messages[0].style, 0x2010u);
    EXPECT_TRUE(driver.requests.empty());
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(EzusbDeviceTest, BulkRequestLayoutLengthAndPause) {
    std::vector<std::uint8_t> data(65536 + 5, 0xAB);
    EXPECT_TRUE(BulkOut(platform, 0x100, 0, data.data(), 65536 + 5, true));
    ASSERT_EQ(driver.requests.size(), 1u);
    EXPECT_EQ(driver.requests[0].code, ioctl::kBulkWrite);
    EXPECT_EQ(driver.requests[0].in, (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(driver.requests[0].outLength, 5u);  // only the low 16 bits count
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10}));

    std::uint8_t reply[17] = {};
    EXPECT_TRUE(BulkIn(platform, 0x100, 3, reply, 17, true));
    EXPECT_EQ(driver.requests[1].code, ioctl::kBulkRead);
    EXPECT_EQ(driver.requests[1].in, (std::vector<std::uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(clock.Sleeps().size(), 1u);  // reads do not pause
}

TEST_F(EzusbDeviceTest, FailedBulkWriteStillPausesAndWarnsOnlyWhenAsked) {
    driver.failCodes.insert(ioctl::kBulkWrite);
    driver.failCodes.insert(ioctl::kBulkRead);
    std::uint8_t data[3] = {5, 0, 1};
    EXPECT_FALSE(BulkOut(platform, 0x100, 0, data, 3, false));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10}));
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_FALSE(BulkOut(platform, 0x100, 0, data, 3, true));
    EXPECT_FALSE(BulkIn(platform, 0x100, 3, data, 3, true));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"BULK_OUT failed.", "BULK_IN failed."}));
}

std::vector<std::uint8_t> StringDescriptor(std::uint8_t bLength, const std::string& text) {
    std::vector<std::uint8_t> bytes{bLength, 3};
    for (char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

TEST_F(EzusbDeviceTest, StringDescriptorRequestAndLengths) {
    std::string text = "unchanged";
    driver.replies[ioctl::kGetStringDescriptor] = StringDescriptor(14, "Kestrel");
    ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text, "Kestre");  // bLength 14 gives 14/2 - 1 = 6 characters
    EXPECT_EQ(driver.requests[0].in, (std::vector<std::uint8_t>{1, 0, 0x1B, 0x00}));
    EXPECT_EQ(driver.requests[0].outLength, 400u);

    for (std::uint8_t length : {0, 1, 2, 3}) {
        driver.replies[ioctl::kGetStringDescriptor] = StringDescriptor(length, "abc");
        text = "x";
        ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
        EXPECT_EQ(text, "") << "bLength " << int(length);
    }

    driver.replies[ioctl::kGetStringDescriptor] = StringDescriptor(255, std::string(130, 'v'));
    ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text.size(), 126u);

    driver.failCodes.insert(ioctl::kGetStringDescriptor);
    text = "kept";
    EXPECT_FALSE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text, "kept");
}

TEST_F(EzusbDeviceTest, StringDescriptorNeverReadsPastTheReply) {
    // bLength claims 40 bytes but the driver delivered only 8 (3 characters).
    driver.replies[ioctl::kGetStringDescriptor] = StringDescriptor(40, "abc");
    std::string text;
    ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text, "abc");
}

TEST_F(EzusbDeviceTest, ReportErrorTracesThenShows) {
    ReportError(platform, "Reset Failed");
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"Reset Failed"}));
    const auto messages = ui.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Error in CAnchor");
    EXPECT_EQ(messages[0].style, 0u);
    TraceLine(platform, "only traced");
    EXPECT_EQ(ui.Messages().size(), 1u);
}

}  // namespace
}  // namespace spindle
