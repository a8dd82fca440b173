// The mapping of driver paths and request blocks onto USB transfers, checked
// without any device. What the emulated buses show byte for byte (setups,
// descriptors) is checked there; these are the refusals and the numbering.
#include <gtest/gtest.h>
#include <libusb.h>

#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "usb/UsbMapping.h"

namespace spindle::usb {
namespace {

TEST(UsbMapping, OnlyExactPathsAndClassifiedDevicesAreNumberedInBusThenPortOrder) {
    EXPECT_EQ(ParseEzusbPath(DevicePath(DeviceName(42))), 42);
    for (const char* path : {"Ezusb-3", "\\\\.\\Ezusb-", "\\\\.\\Ezusb-03", "\\\\.\\Ezusb--1", "\\\\.\\ezusb-3", ""}) {
        EXPECT_FALSE(ParseEzusbPath(path).has_value()) << path;
    }
    const std::vector<UsbLocation> attached = {
        {2, {1}, 9, 0xFA57, 0x1002},        // 0: a Kestrel
        {1, {3}, 4, 0x046D, 0xC077},        // 1: a mouse, not numbered
        {1, {1, 4}, 7, 0x04B4, 0x8613},     // 2: an unprogrammed FX2
        {1, {1, 2}, 12, 0x0547, 0x2131},    // 3: lower port than 2 despite its address
        {1, {1, 2, 1}, 3, 0xFA57, 0x1022},  // 4: behind a hub on port 1.2
        {1, {5}, 5, 0x04B4, 0x0008},        // 5: another Cypress product, not an EZ-USB chip
        {1, {6}, 6, 0xFA57, 0x7777},        // 6: a product of the maker this tool does not know
    };
    EXPECT_EQ(OrderEzusbDevices(attached), (std::vector<std::size_t>{3, 4, 2, 0}));
    // The order libusb happens to list them in does not change the numbering.
    std::vector<std::size_t> order = OrderEzusbDevices(std::vector<UsbLocation>(attached.rbegin(), attached.rend()));
    for (std::size_t& position : order) position = attached.size() - 1 - position;
    EXPECT_EQ(order, (std::vector<std::size_t>{3, 4, 2, 0}));
}

TEST(UsbMapping, RequestBlocksThatNoSetupCanCarryAreRefused) {
    VendorRequestControl block;
    block.request = 0xA2;
    block.direction = 1;
    const auto bytes = block.Encode();
    EXPECT_EQ(VendorRequestSetup(bytes.data(), 10, 0xFFFF).value().requestType, 0xC0);
    EXPECT_FALSE(VendorRequestSetup(bytes.data(), 9, 16).has_value());        // a short block
    EXPECT_FALSE(VendorRequestSetup(bytes.data(), 10, 0x10000).has_value());  // a data stage too long
    block.requestType = 3;                                                    // reserved
    EXPECT_FALSE(VendorRequestSetup(block.Encode().data(), 10, 16).has_value());

    ResetRequestBlock reset;
    reset.value = kCpucsFx2;
    reset.data = 1;
    const ShortVendorWrite write = ResetRequestSetup(reset.Encode().data(), 10).value();
    EXPECT_EQ(write.setup.length, 1);
    EXPECT_EQ(write.data, 1);
    reset.length = 2;  // the block carries one data byte only
    EXPECT_FALSE(ResetRequestSetup(reset.Encode().data(), 10).has_value());
    ResetRequestBlock reading;
    reading.direction = 1;  // nowhere to put a byte read back
    EXPECT_FALSE(ResetRequestSetup(reading.Encode().data(), 10).has_value());

    const auto string = EncodeStringDescriptorRequest(1);
    EXPECT_EQ(StringDescriptorSetup(string.data(), 4, 10)->length, 10);
    EXPECT_FALSE(StringDescriptorSetup(string.data(), 3, 400).has_value());
    EXPECT_FALSE(StringDescriptorSetup(string.data(), 4, 0).has_value());
}

TEST(UsbMapping, AnchorDownloadsStopAtTheTopOfMemory) {  // the pieces: see LibusbOverEmulation
    const std::uint8_t at100[] = {0x00, 0x01};
    EXPECT_TRUE(SplitAnchorDownload(at100, 2, 0)->empty());
    // Up to the last byte of 8051 memory, never around to address 0.
    const std::uint8_t nearTop[] = {0x00, 0xF0};
    EXPECT_EQ(SplitAnchorDownload(nearTop, 2, 0x1000)->size(), 1u);
    EXPECT_FALSE(SplitAnchorDownload(nearTop, 2, 0x1001).has_value());
    EXPECT_FALSE(SplitAnchorDownload(at100, 1, 16).has_value());
}

TEST(UsbMapping, PipesAreBulkOrInterruptEndpointsOfTheirDirection) {
    const std::vector<EndpointInfo> endpoints = {
        {0x02, LIBUSB_TRANSFER_TYPE_BULK},      {0x86, LIBUSB_TRANSFER_TYPE_BULK},
        {0x81, LIBUSB_TRANSFER_TYPE_INTERRUPT}, {0x88, LIBUSB_TRANSFER_TYPE_BULK},
        {0x84, LIBUSB_TRANSFER_TYPE_ISOCHRONOUS},
    };
    EXPECT_EQ(EndpointForPipe(endpoints, 3, true), 0x88);
    EXPECT_EQ(EndpointForPipe(endpoints, 2, true), 0x81);
    std::string reason;
    EXPECT_FALSE(EndpointForPipe(endpoints, 0, true, &reason).has_value());
    EXPECT_NE(reason.find("host to device"), std::string::npos);
    EXPECT_FALSE(EndpointForPipe(endpoints, 4, true).has_value());  // isochronous
    EXPECT_FALSE(EndpointForPipe(endpoints, 5, true).has_value());
}

}  // namespace
}  // namespace spindle::usb
