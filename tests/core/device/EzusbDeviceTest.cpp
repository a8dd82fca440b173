#include "device/EzusbDevice.h"

#include <gtest/gtest.h>

#include "core/device/AnchorRig.h"
#include "device/EzusbRequests.h"

namespace spindle {
namespace {

using Bytes = std::vector<std::uint8_t>;

class EzusbDeviceTest : public ::testing::Test, protected test::AnchorRig {};

TEST_F(EzusbDeviceTest, OpenBuildsThePathAndReportsFailureAsAllOnes) {
    driver.unopenablePaths.insert("\\\\.\\Ezusb-7");
    DeviceHandle handle = 0;
    EXPECT_TRUE(OpenDeviceByIndex(platform, 3, handle));
    EXPECT_NE(handle, kInvalidHandle);
    EXPECT_FALSE(OpenDeviceByIndex(platform, 7, handle));
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(driver.openedPaths, (std::vector<std::string>{"\\\\.\\Ezusb-3", "\\\\.\\Ezusb-7"}));
    CloseDevice(platform, handle);       // all ones: harmless, nothing closed
    CloseDevice(platform, kNullHandle);  // zero: nothing closed
    EXPECT_TRUE(driver.closedHandles.empty());
}

TEST_F(EzusbDeviceTest, DescriptorFieldsAndTheirNoDeviceValues) {
    driver.SetDeviceIds(0xFA57, 0x1002, 2);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::VendorId), 0xFA57);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::ProductId), 0x1002);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::ProductStringIndex), 2);
    EXPECT_EQ(ReadDeviceDescriptor(platform, kNullHandle, DescriptorField::VendorId), 0);
    EXPECT_EQ(ReadDeviceDescriptor(platform, kInvalidHandle, DescriptorField::VendorId), 0);
    EXPECT_EQ(driver.Requests().size(), 3u);  // one request per field, none for no device
    FailCode(ioctl::kGetDeviceDescriptor);
    EXPECT_EQ(ReadDeviceDescriptor(platform, 0x100, DescriptorField::VendorId), 0xFFFF);
}

TEST_F(EzusbDeviceTest, BulkTransfersOnNoDeviceHandles) {
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_FALSE(BulkOut(platform, kNullHandle, 0, data, 4, true));
    EXPECT_FALSE(BulkIn(platform, kNullHandle, 3, data, 4, true));
    EXPECT_FALSE(BulkOut(platform, kInvalidHandle, 0, data, 4, false));
    EXPECT_TRUE(ui.Messages().empty());  // handle 0 is silent even when asked to report
    EXPECT_FALSE(BulkOut(platform, kInvalidHandle, 0, data, 4, true));
    EXPECT_FALSE(BulkIn(platform, kInvalidHandle, 3, data, 4, true));
    const auto messages = ui.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "BULK_OUT failed.");
    EXPECT_EQ(messages[1].text, "BULK_IN failed.");
    EXPECT_EQ(messages[0].title, "USB Warning!");
    EXPECT_EQ(messages[0].style, 0x2010u);
    EXPECT_TRUE(driver.Requests().empty());
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(EzusbDeviceTest, BulkRequestLayoutLengthAndPause) {
    Bytes data(65536 + 5, 0xAB);
    EXPECT_TRUE(BulkOut(platform, 0x100, 0, data.data(), 65536 + 5, true));
    std::uint8_t reply[17] = {};
    EXPECT_TRUE(BulkIn(platform, 0x100, 3, reply, 17, true));
    const auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, ioctl::kBulkWrite);
    EXPECT_EQ(requests[0].in, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(requests[0].outLength, 5u);  // only the low 16 bits count
    EXPECT_EQ(requests[1].code, ioctl::kBulkRead);
    EXPECT_EQ(requests[1].in, (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{10}));  // writes pause, reads do not

    // A failed write still pauses; the warning only when asked for.
    FailCode(ioctl::kBulkWrite);
    FailCode(ioctl::kBulkRead);
    EXPECT_FALSE(BulkOut(platform, 0x100, 0, data.data(), 3, false));
    EXPECT_EQ(clock.Sleeps().size(), 2u);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_FALSE(BulkOut(platform, 0x100, 0, data.data(), 3, true));
    EXPECT_FALSE(BulkIn(platform, 0x100, 3, reply, 3, true));
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"BULK_OUT failed.", "BULK_IN failed."}));
}

Bytes StringDescriptor(std::uint8_t bLength, const std::string& text) {
    Bytes bytes{bLength, 3};
    for (char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

TEST_F(EzusbDeviceTest, StringDescriptorLengthsAndNeverReadingPastTheReply) {
    std::string text = "unchanged";
    driver.rawStringDescriptors[1] = StringDescriptor(14, "Kestrel");
    ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text, "Kestre");  // bLength 14 gives 14/2 - 1 = 6 characters
    EXPECT_EQ(driver.Requests()[0].in, (Bytes{1, 0, 0x1B, 0x00}));
    EXPECT_EQ(driver.Requests()[0].outLength, 400u);

    for (std::uint8_t length : {0, 1, 2, 3}) {
        driver.rawStringDescriptors[1] = StringDescriptor(length, "abc");
        text = "x";
        ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
        EXPECT_EQ(text, "") << "bLength " << int(length);
    }
    driver.rawStringDescriptors[1] = StringDescriptor(255, std::string(130, 'v'));
    ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text.size(), 126u);
    // bLength claims 40 bytes but the driver delivered only 8 (3 characters).
    driver.rawStringDescriptors[1] = StringDescriptor(40, "abc");
    ASSERT_TRUE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text, "abc");

    FailCode(ioctl::kGetStringDescriptor);
    text = "kept";
    EXPECT_FALSE(ReadStringDescriptor(platform, 0x100, 1, text));
    EXPECT_EQ(text, "kept");
}

}  // namespace
}  // namespace spindle
