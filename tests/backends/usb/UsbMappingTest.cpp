// The mapping of driver paths and request blocks onto USB transfers, checked
// without any device.
#include <gtest/gtest.h>
#include <libusb.h>

#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "usb/UsbMapping.h"

namespace spindle::usb {
namespace {

TEST(UsbMapping, PathsNameOneDeviceIndexExactly) {
    EXPECT_EQ(ParseEzusbPath("\\\\.\\Ezusb-0"), 0);
    EXPECT_EQ(ParseEzusbPath("\\\\.\\Ezusb-127"), 127);
    EXPECT_EQ(ParseEzusbPath(DevicePath(DeviceName(42))), 42);
    for (const char* path : {"Ezusb-3", "\\\\.\\Ezusb-", "\\\\.\\Ezusb-03", "\\\\.\\Ezusb--1", "\\\\.\\Ezusb-3x",
                             "\\\\.\\ezusb-3", "\\\\.\\Ezusb-3 ", ""}) {
        EXPECT_FALSE(ParseEzusbPath(path).has_value()) << path;
    }
}

TEST(UsbMapping, OnlyClassifiedDevicesAreNumberedInBusThenPortOrder) {
    const std::vector<UsbLocation> attached = {
        {2, {1}, 9, 0xFA57, 0x1002},        // 0: a Kestrel
        {1, {3}, 4, 0x046D, 0xC077},        // 1: a mouse, not numbered
        {1, {1, 4}, 7, 0x04B4, 0x8613},     // 2: an unprogrammed FX2
        {1, {1, 2}, 12, 0x0547, 0x2131},    // 3: lower port than 2 despite its address
        {1, {1}, 2, 0x1D6B, 0x0002},        // 4: a hub
        {1, {1, 2, 1}, 3, 0xFA57, 0x1022},  // 5: behind the hub on port 1.2
        {1, {5}, 5, 0x04B4, 0x0008},        // 6: another Cypress product, not an EZ-USB chip
        {1, {6}, 6, 0xFA57, 0x7777},        // 7: a product of the maker this tool does not know
    };
    EXPECT_EQ(OrderEzusbDevices(attached), (std::vector<std::size_t>{3, 5, 2, 0}));

    // The listing order libusb happens to give does not change the numbering.
    std::vector<UsbLocation> reversed(attached.rbegin(), attached.rend());
    std::vector<std::size_t> order = OrderEzusbDevices(reversed);
    for (std::size_t& position : order) position = attached.size() - 1 - position;
    EXPECT_EQ(order, (std::vector<std::size_t>{3, 5, 2, 0}));

    EXPECT_TRUE(OrderEzusbDevices({{1, {}, 1, 0x1D6B, 0x0002}}).empty());
}

TEST(UsbMapping, VendorRequestBlockBecomesAVendorControlSetup) {
    VendorRequestControl block;
    block.request = 0xA2;
    block.value = 0x1234;
    block.index = 0xBEEF;
    const auto bytes = block.Encode();

    const auto write = VendorRequestSetup(bytes.data(), 10, 4096);
    ASSERT_TRUE(write.has_value());
    EXPECT_EQ(write->requestType, 0x40);
    EXPECT_EQ(write->request, 0xA2);
    EXPECT_EQ(write->value, 0x1234);
    EXPECT_EQ(write->index, 0xBEEF);
    EXPECT_EQ(write->length, 4096);
    EXPECT_FALSE(write->IsIn());

    block.direction = 1;
    const auto readBytes = block.Encode();
    const auto read = VendorRequestSetup(readBytes.data(), 10, 16);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->requestType, 0xC0);
    EXPECT_TRUE(read->IsIn());

    // Refused: a short block, a data stage a setup cannot express, a
    // reserved request type.
    EXPECT_FALSE(VendorRequestSetup(bytes.data(), 9, 16).has_value());
    EXPECT_FALSE(VendorRequestSetup(bytes.data(), 10, 0x10000).has_value());
    EXPECT_TRUE(VendorRequestSetup(bytes.data(), 10, 0xFFFF).has_value());
    block.direction = 0;
    block.requestType = 3;
    const auto reserved = block.Encode();
    EXPECT_FALSE(VendorRequestSetup(reserved.data(), 10, 16).has_value());
}

TEST(UsbMapping, ResetBlockWritesItsOneDataByteToCpucs) {
    for (const std::uint16_t cpucs : {kCpucsFx2, kCpucsEzusb}) {
        for (const std::uint8_t hold : {1, 0}) {
            ResetRequestBlock block;
            block.value = cpucs;
            block.data = hold;
            const auto bytes = block.Encode();
            const auto write = ResetRequestSetup(bytes.data(), 10);
            ASSERT_TRUE(write.has_value());
            EXPECT_EQ(write->setup.requestType, 0x40);
            EXPECT_EQ(write->setup.request, 0xA0);
            EXPECT_EQ(write->setup.value, cpucs);
            EXPECT_EQ(write->setup.index, 0);
            EXPECT_EQ(write->setup.length, 1);
            EXPECT_EQ(write->data, hold);
        }
    }
    ResetRequestBlock tooLong;
    tooLong.length = 2;  // the block carries one data byte only
    EXPECT_FALSE(ResetRequestSetup(tooLong.Encode().data(), 10).has_value());
    ResetRequestBlock reading;
    reading.direction = 1;  // nowhere to put a byte read back
    EXPECT_FALSE(ResetRequestSetup(reading.Encode().data(), 10).has_value());
    EXPECT_FALSE(ResetRequestSetup(ResetRequestBlock{}.Encode().data(), 9).has_value());
}

TEST(UsbMapping, StringDescriptorKeepsTheRequestedLanguage) {
    const auto request = EncodeStringDescriptorRequest(1);
    const auto setup = StringDescriptorSetup(request.data(), 4, 400);
    ASSERT_TRUE(setup.has_value());
    EXPECT_EQ(setup->requestType, 0x80);
    EXPECT_EQ(setup->request, 0x06);
    EXPECT_EQ(setup->value, 0x0301);
    EXPECT_EQ(setup->index, kStringDescriptorLanguage);
    EXPECT_EQ(setup->length, 255);  // a descriptor is at most 255 bytes
    EXPECT_EQ(StringDescriptorSetup(request.data(), 4, 10)->length, 10);
    EXPECT_FALSE(StringDescriptorSetup(request.data(), 3, 400).has_value());
    EXPECT_FALSE(StringDescriptorSetup(request.data(), 4, 0).has_value());
}

TEST(UsbMapping, AnchorDownloadGoesIn4096ByteChunksWithTheAddressAdvancing) {
    const std::uint8_t at100[] = {0x00, 0x01};
    const auto chunks = SplitAnchorDownload(at100, 2, 8192 + 5);
    ASSERT_TRUE(chunks.has_value());
    ASSERT_EQ(chunks->size(), 3u);
    const std::uint16_t addresses[] = {0x0100, 0x1100, 0x2100};
    const std::uint16_t lengths[] = {4096, 4096, 5};
    for (std::size_t i = 0; i < 3; ++i) {
        const AnchorChunk& chunk = (*chunks)[i];
        EXPECT_EQ(chunk.setup.requestType, 0x40);
        EXPECT_EQ(chunk.setup.request, 0xA0);
        EXPECT_EQ(chunk.setup.value, addresses[i]);
        EXPECT_EQ(chunk.setup.index, 0);
        EXPECT_EQ(chunk.setup.length, lengths[i]);
        EXPECT_EQ(chunk.offset, i * 4096);
    }
    EXPECT_EQ(SplitAnchorDownload(at100, 2, 4096)->size(), 1u);
    EXPECT_TRUE(SplitAnchorDownload(at100, 2, 0)->empty());

    // Up to the last byte of 8051 memory, never around to address 0.
    const std::uint8_t nearTop[] = {0x00, 0xF0};
    EXPECT_EQ(SplitAnchorDownload(nearTop, 2, 0x1000)->size(), 1u);
    EXPECT_FALSE(SplitAnchorDownload(nearTop, 2, 0x1001).has_value());
    EXPECT_FALSE(SplitAnchorDownload(at100, 1, 16).has_value());
}

TEST(UsbMapping, PipesAreInterfaceEndpointsInDescriptorOrder) {
    // The instruments' interface: pipe 0 writes requests, pipe 3 reads replies.
    const std::vector<EndpointInfo> endpoints = {
        {0x02, LIBUSB_TRANSFER_TYPE_BULK},
        {0x86, LIBUSB_TRANSFER_TYPE_BULK},
        {0x81, LIBUSB_TRANSFER_TYPE_INTERRUPT},
        {0x88, LIBUSB_TRANSFER_TYPE_BULK},
        {0x84, LIBUSB_TRANSFER_TYPE_ISOCHRONOUS},
    };
    EXPECT_EQ(EndpointForPipe(endpoints, 0, false), 0x02);
    EXPECT_EQ(EndpointForPipe(endpoints, 3, true), 0x88);
    EXPECT_EQ(EndpointForPipe(endpoints, 2, true), 0x81);

    std::string reason;
    EXPECT_FALSE(EndpointForPipe(endpoints, 0, true, &reason).has_value());
    EXPECT_NE(reason.find("host to device"), std::string::npos);
    EXPECT_FALSE(EndpointForPipe(endpoints, 3, false, &reason).has_value());
    EXPECT_FALSE(EndpointForPipe(endpoints, 4, true, &reason).has_value());
    EXPECT_FALSE(EndpointForPipe(endpoints, 5, true, &reason).has_value());
    EXPECT_NE(reason.find("no pipe 5"), std::string::npos);
    EXPECT_FALSE(EndpointForPipe({}, 0, false).has_value());
}

TEST(UsbMapping, DeviceDescriptorIsLittleEndianAtTheStandardOffsets) {
    libusb_device_descriptor descriptor{};
    descriptor.bLength = 18;
    descriptor.bDescriptorType = 1;
    descriptor.bcdUSB = 0x0200;
    descriptor.bMaxPacketSize0 = 64;
    descriptor.idVendor = 0xFA57;
    descriptor.idProduct = 0x1012;
    descriptor.bcdDevice = 0xA001;
    descriptor.iManufacturer = 1;
    descriptor.iProduct = 2;
    descriptor.iSerialNumber = 3;
    descriptor.bNumConfigurations = 1;
    const std::array<std::uint8_t, 18> expected = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x57, 0xFA,
                                                   0x12, 0x10, 0x01, 0xA0, 1, 2, 3, 1};
    EXPECT_EQ(EncodeDeviceDescriptor(descriptor), expected);
}

}  // namespace
}  // namespace spindle::usb
