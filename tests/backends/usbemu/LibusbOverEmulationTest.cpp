// The libusb back end request by request, through the real libusb, against
// the simulated bench's devices on emulated USB buses.
#include <gtest/gtest.h>

#include "support/LoaderDownload.h"

#include <array>
#include <numeric>

#include "EmulatedUsbRig.h"
#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "platform/Format.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "protocol/InstrumentProtocol.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

using Transfer = usbemu::CUsbEmulation::Transfer;

sim::DeviceConfig Config(int index, std::uint16_t vendor, std::uint16_t product) {
    sim::DeviceConfig config;
    config.index = index;
    config.vendorId = vendor;
    config.productId = product;
    return config;
}

sim::DeviceConfig Kestrel(int index, const std::string& serial) {
    sim::DeviceConfig config = Config(index, 0xFA57, 0x1002);
    config.iProduct = 2;
    config.strings = {{1, "Maker"}, {2, "Kestrel " + serial}};
    config.slots[0] = sim::SlotFromText(serial);
    return config;
}

std::uint16_t ProductOf(IEzusbDriver& driver, int index) {
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(index)));
    if (handle == kInvalidHandle) return 0;
    std::array<std::uint8_t, 18> descriptor{};
    std::uint32_t returned = 0;
    const bool read = driver.IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, descriptor.data(),
                                       descriptor.size(), &returned);
    driver.Close(handle);
    return read ? DecodeLe16(&descriptor[10]) : 0;
}

std::string SetupHex(const Transfer& transfer) {
    std::string text;
    for (const std::uint8_t byte : transfer.setup) text += StrPrintf("%02X", byte);
    return text;
}

// The protocol over the driver, as the application runs it.
struct Protocol {
    explicit Protocol(IEzusbDriver& driver) : platform{driver, clock, trace, ui}, protocol(platform) {}
    VirtualClock clock;
    NullDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform;
    CSpecProtocol protocol;
};

// One Kestrel on the bus, opened through libusb.
class OneKestrel : public ::testing::Test {
protected:
    static constexpr const char* kSerial = "KS-0042";

    void SetUp() override {
        usb.bench->AddDevice(Kestrel(0, kSerial));
        usb.emulation.AddAllDevices();
        driver = &usb.Start();
        rig = std::make_unique<Protocol>(*driver);
        handle = driver->Open(DevicePath(DeviceName(0)));
        ASSERT_NE(handle, kInvalidHandle);
    }
    void TearDown() override {
        if (handle != kInvalidHandle) driver->Close(handle);
    }

    EmulatedUsb usb;
    usb::CLibusbDriver* driver = nullptr;
    std::unique_ptr<Protocol> rig;
    DeviceHandle handle = kInvalidHandle;
};

TEST(LibusbOverEmulation, DevicesAreNumberedByBusThenPortAndKeepTheirNumbers) {
    EmulatedUsb usb;
    usb.bench->AddDevice(Kestrel(0, "K1"));                 // bus 2, port 1
    usb.bench->AddDevice(Config(1, 0xFA57, 0x1004));        // bus 1, port 3
    usb.bench->AddDevice(Config(2, 0x04B4, 0x8613));        // bus 1, port 1.4 behind a hub
    usb.bench->AddDevice(Config(3, 0xFA57, 0x1008));        // a product this tool does not know
    usb.emulation.AddDevice(0, {2, {1}});
    usb.emulation.AddDevice(1, {1, {3}});
    usb.emulation.AddForeignDevice(0x05E3, 0x0608, {1, {1}});  // the hub
    usb.emulation.AddDevice(2, {1, {1, 4}});
    usb.emulation.AddDevice(3, {1, {2}});
    usb.emulation.AddForeignDevice(0x046D, 0xC077, {1, {5}});  // a mouse
    usb::CLibusbDriver& driver = usb.Start();

    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(ProductOf(driver, 0), 0x8613) << "pass " << pass;
        EXPECT_EQ(ProductOf(driver, 1), 0x1004) << "pass " << pass;
        EXPECT_EQ(ProductOf(driver, 2), 0x1002) << "pass " << pass;
        EXPECT_EQ(driver.Open(DevicePath(DeviceName(3))), kInvalidHandle);
    }
    EXPECT_TRUE(usb.TraceHas("no device \\\\.\\Ezusb-3 (3 EZ-USB devices attached)"));
    EXPECT_EQ(driver.OpenHandleCount(), 0);
}

TEST_F(OneKestrel, DescriptorsAndStringsAreTheDevicesOwn) {
    usb::CLibusbDriver& driver = *this->driver;
    const DeviceHandle simHandle = usb.bench->Open(DevicePath(DeviceName(0)));

    std::array<std::uint8_t, 18> viaUsb{}, viaBench{};
    std::uint32_t returned = 0;
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, viaUsb.data(), 18, &returned));
    EXPECT_EQ(returned, 18u);
    ASSERT_TRUE(usb.bench->IoControl(simHandle, ioctl::kGetDeviceDescriptor, nullptr, 0, viaBench.data(), 18, nullptr));
    EXPECT_EQ(viaUsb, viaBench);

    for (const std::uint8_t index : {1, 2}) {
        const auto request = EncodeStringDescriptorRequest(index);
        std::array<std::uint8_t, 400> text{}, expected{};
        std::uint32_t expectedLength = 0;
        usb.emulation.ClearTransfers();
        ASSERT_TRUE(driver.IoControl(handle, ioctl::kGetStringDescriptor, request.data(), 4, text.data(), 400,
                                     &returned));
        ASSERT_TRUE(usb.bench->IoControl(simHandle, ioctl::kGetStringDescriptor, request.data(), 4, expected.data(),
                                         400, &expectedLength));
        EXPECT_EQ(returned, expectedLength);
        EXPECT_EQ(text, expected) << "string " << int{index};
        // GET_DESCRIPTOR(STRING, index) in the request's language, 0x001B.
        const std::vector<Transfer> transfers = usb.emulation.Transfers();
        ASSERT_EQ(transfers.size(), 1u);
        EXPECT_EQ(SetupHex(transfers[0]), StrPrintf("8006%02X031B00FF00", index));
    }
    usb.bench->Close(simHandle);
}

TEST_F(OneKestrel, PipeNIsTheNthEndpointOfInterfaceZero) {
    usb::CLibusbDriver& driver = *this->driver;
    Protocol& rig = *this->rig;

    // The command goes out on pipe 0 (endpoint 0x01), the reply comes back
    // on pipe 3 (endpoint 0x82).
    SlotReadValue serial{};
    ASSERT_TRUE(rig.protocol.QueryInfoSlot(handle, 0, serial));
    EXPECT_EQ(SlotText(serial), kSerial);
    std::vector<std::uint8_t> endpoints;
    for (const Transfer& transfer : usb.emulation.Transfers()) {
        if (!transfer.control) endpoints.push_back(transfer.endpoint);
    }
    EXPECT_EQ(endpoints, (std::vector<std::uint8_t>{0x01, 0x82}));

    // A pipe of the other direction, or no pipe at all, never reaches the bus.
    usb.emulation.ClearTransfers();
    std::uint8_t data[4] = {0x05, 0x00, 0x00, 0x00};
    const auto pipe1 = EncodePipeNumber(1);  // endpoint 0x81: device to host
    const auto pipe4 = EncodePipeNumber(4);
    EXPECT_FALSE(driver.IoControl(handle, ioctl::kBulkWrite, pipe1.data(), 4, data, 3, nullptr));
    EXPECT_FALSE(driver.IoControl(handle, ioctl::kBulkRead, pipe4.data(), 4, data, 4, nullptr));
    EXPECT_TRUE(usb.emulation.Transfers().empty());
}

TEST(LibusbOverEmulation, LoaderSessionHoldsDownloadsReleasesAndUsesVendorRequestsBothWays) {
    EmulatedUsb usb;
    usb.bench->AddDevice(Config(0, 0x04B4, 0x8613));  // an unprogrammed FX2
    usb.emulation.AddAllDevices();
    usb::CLibusbDriver& driver = usb.Start();
    sim::SimDevice& chip = *usb.bench->Device(0);
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(0)));
    ASSERT_NE(handle, kInvalidHandle);

    // Hold the 8051: request 0xA0 writes one byte to CPUCS.
    ResetRequestBlock hold;
    hold.value = kCpucsFx2;
    hold.data = 1;
    auto block = hold.Encode();
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kVendorRequest, block.data(), block.size(), nullptr, 0, nullptr));
    EXPECT_TRUE(chip.CpuHeld());
    ASSERT_EQ(usb.emulation.Transfers().size(), 1u);
    EXPECT_EQ(SetupHex(usb.emulation.Transfers()[0]), "40A000E600000100");

    // A download larger than one piece goes out in pieces of 4096 bytes at
    // rising addresses, and lands whole.
    usb.emulation.ClearTransfers();
    std::vector<std::uint8_t> program(10000);
    std::iota(program.begin(), program.end(), std::uint8_t{7});
    const std::uint8_t address[2] = {0x00, 0x00};
    std::uint32_t returned = 0;
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kAnchorDownload, address, 2, program.data(),
                                 static_cast<std::uint32_t>(program.size()), &returned));
    EXPECT_EQ(returned, program.size());
    std::vector<std::string> pieces;
    for (const Transfer& transfer : usb.emulation.Transfers()) pieces.push_back(SetupHex(transfer));
    EXPECT_EQ(pieces, (std::vector<std::string>{"40A0000000000010", "40A0001000000010", "40A0002000001007"}));
    EXPECT_EQ(chip.Ram(0, 10000), program);
    // Then our loader over it, which serves the vendor requests below.
    ASSERT_TRUE(test::DownloadLoaderRecords(driver, handle, true));

    // Release: the downloaded program (the loader) runs.
    hold.data = 0;
    block = hold.Encode();
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kVendorRequest, block.data(), block.size(), nullptr, 0, nullptr));
    EXPECT_TRUE(chip.ProgramRunning());

    // The loader's 0xA3 writes RAM and, device to host, reads it back.
    VendorRequestControl write;
    write.request = 0xA3;
    write.value = 0x3000;
    auto writeBlock = write.Encode();
    std::uint8_t bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    usb.emulation.ClearTransfers();
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kVendorOrClassRequest, writeBlock.data(), 10, bytes, 16, &returned));
    EXPECT_EQ(returned, 16u);
    VendorRequestControl read = write;
    read.direction = 1;
    auto readBlock = read.Encode();
    std::uint8_t back[16] = {};
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kVendorOrClassRequest, readBlock.data(), 10, back, 16, &returned));
    EXPECT_EQ(returned, 16u);
    EXPECT_TRUE(std::equal(std::begin(bytes), std::end(bytes), back));
    ASSERT_EQ(usb.emulation.Transfers().size(), 2u);
    EXPECT_EQ(SetupHex(usb.emulation.Transfers()[0]), "40A3003000001000");
    EXPECT_EQ(SetupHex(usb.emulation.Transfers()[1]), "C0A3003000001000");
    driver.Close(handle);
}

TEST_F(OneKestrel, HandlesToOneDeviceShareOneClaimOfInterfaceZero) {
    usb::CLibusbDriver& driver = *this->driver;
    Protocol& rig = *this->rig;
    // A programming job holds a handle while each of its steps opens another.
    const DeviceHandle step = driver.Open(DevicePath(DeviceName(0)));
    ASSERT_NE(step, kInvalidHandle);
    EXPECT_NE(handle, step);
    EXPECT_EQ(driver.OpenHandleCount(), 2);
    EXPECT_EQ(usb.emulation.Claims(0), 1);

    // Closing one handle leaves the other working, the claim held.
    driver.Close(step);
    SlotReadValue serial{};
    EXPECT_TRUE(rig.protocol.QueryInfoSlot(handle, 0, serial));
    EXPECT_EQ(usb.emulation.Releases(0), 0);
    driver.Close(handle);
    handle = kInvalidHandle;
    EXPECT_EQ(usb.emulation.Releases(0), 1);

    // Opened again later: claimed again.
    handle = driver.Open(DevicePath(DeviceName(0)));
    EXPECT_TRUE(rig.protocol.QueryInfoSlot(handle, 0, serial));
    EXPECT_EQ(usb.emulation.Claims(0), 2);
}

TEST_F(OneKestrel, StalledAndShortTransfersAreFailures) {
    usb::CLibusbDriver& driver = *this->driver;
    Protocol& rig = *this->rig;

    // The instrument firmware answers no vendor request: the device stalls.
    VendorRequestControl request;
    request.request = 0xA3;
    request.direction = 1;
    const auto block = request.Encode();
    std::uint8_t data[8] = {};
    EXPECT_FALSE(driver.IoControl(handle, ioctl::kVendorOrClassRequest, block.data(), 10, data, 8, nullptr));
    EXPECT_TRUE(usb.TraceHas("vendor request 0xA3 (value 0x0000, index 0x0000, 8 bytes) failed: LIBUSB_ERROR_PIPE"));

    // A reply one byte short is a failed read, not a shorter value.
    usb.emulation.ShortenBulkReads(0, 1, 1);
    SlotReadValue serial{};
    EXPECT_FALSE(rig.protocol.QueryInfoSlot(handle, 0, serial));
    EXPECT_TRUE(usb.TraceHas("short transfer"));
    // The device itself is fine: the next read works.
    EXPECT_TRUE(rig.protocol.QueryInfoSlot(handle, 0, serial));
    EXPECT_EQ(SlotText(serial), kSerial);
}

TEST(LibusbOverEmulation, ADeviceUnpluggedMidCommandFailsWithoutHanging) {
    EmulatedUsb usb;
    usb.bench->AddDevice(Kestrel(0, "KS-2"));
    usb.bench->AddDevice(Kestrel(1, "KS-3"));
    usb.emulation.AddAllDevices();
    usb::CLibusbDriver& driver = usb.Start();
    Protocol rig(driver);
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(0)));
    const DeviceHandle second = driver.Open(DevicePath(DeviceName(0)));  // shares the device
    ASSERT_NE(handle, kInvalidHandle);
    ASSERT_NE(second, kInvalidHandle);

    // The command goes out; the cable comes out before the reply.
    usb.emulation.VanishAfter(0, 1);
    SlotReadValue serial{};
    EXPECT_FALSE(rig.protocol.QueryInfoSlot(handle, 0, serial));
    EXPECT_TRUE(usb.TraceHas("LIBUSB_ERROR_NO_DEVICE"));
    EXPECT_FALSE(rig.protocol.QueryInfoSlot(second, 0, serial));
    usb.emulation.Unplug(0);
    driver.Close(handle);
    driver.Close(second);
    EXPECT_EQ(driver.OpenHandleCount(), 0);

    // The other device works on.
    const DeviceHandle other = driver.Open(DevicePath(DeviceName(1)));
    ASSERT_NE(other, kInvalidHandle);
    EXPECT_TRUE(rig.protocol.QueryInfoSlot(other, 0, serial));
    EXPECT_EQ(SlotText(serial), "KS-3");
    driver.Close(other);
}

}  // namespace
}  // namespace spindle::test
