// The libusb back end request by request, through the real libusb, against
// the simulated bench's devices on emulated USB buses.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>

#include "EmulatedUsbRig.h"
#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "platform/Format.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "programming/EepromProgramming.h"
#include "protocol/InstrumentProtocol.h"
#include "support/LoaderDownload.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

sim::DeviceConfig Config(int index, std::uint16_t vendor, std::uint16_t product, const std::string& serial = "") {
    sim::DeviceConfig config;
    config.index = index;
    config.vendorId = vendor;
    config.productId = product;
    if (!serial.empty()) {
        config.iProduct = 2;
        config.strings = {{1, "Maker"}, {2, "Kestrel " + serial}};
        config.slots[0] = sim::SlotFromText(serial);
    }
    return config;
}

// The product identifier (or, at offset 12, the release number) of Ezusb-N.
std::uint16_t ProductOf(IEzusbDriver& driver, int index, int offset = 10) {
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(index)));
    if (handle == kInvalidHandle) return 0;
    std::array<std::uint8_t, 18> descriptor{};
    const bool read = driver.IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, descriptor.data(), 18, nullptr);
    driver.Close(handle);
    return read ? DecodeLe16(&descriptor[static_cast<std::size_t>(offset)]) : 0;
}

// The setup packets of the control transfers since the last ClearTransfers, in hex.
std::vector<std::string> Setups(usbemu::CUsbEmulation& emulation) {
    std::vector<std::string> setups;
    for (const auto& transfer : emulation.Transfers()) {
        if (!transfer.control) continue;
        std::string text;
        for (const std::uint8_t byte : transfer.setup) text += StrPrintf("%02X", byte);
        setups.push_back(text);
    }
    emulation.ClearTransfers();
    return setups;
}

// One Kestrel on the bus, opened through libusb, and the protocol over it.
class OneKestrel : public ::testing::Test {
protected:
    struct Protocol {
        explicit Protocol(IEzusbDriver& driver) : platform{driver, clock, trace, ui}, protocol(platform) {}
        VirtualClock clock;
        NullDebugTrace trace;
        ScriptedUserInterface ui;
        Platform platform;
        CSpecProtocol protocol;
    };

    void SetUp() override {
        usb.bench->AddDevice(Config(0, 0xFA57, 0x1002, "KS-0042"));
        usb.emulation.AddAllDevices();
        driver = &usb.Start();
        rig = std::make_unique<Protocol>(*driver);
        handle = driver->Open(DevicePath(DeviceName(0)));
        ASSERT_NE(handle, kInvalidHandle);
    }
    // The serial number slot, or "" when the read fails.
    std::string Serial(DeviceHandle on) {
        SlotReadValue value{};
        return rig->protocol.QueryInfoSlot(on, 0, value) ? SlotText(value) : "";
    }

    EmulatedUsb usb;
    usb::CLibusbDriver* driver = nullptr;
    std::unique_ptr<Protocol> rig;
    DeviceHandle handle = kInvalidHandle;
};

TEST(LibusbOverEmulation, DevicesAreNumberedByBusThenPortAndKeepTheirNumbers) {
    EmulatedUsb usb;
    usb.bench->AddDevice(Config(0, 0xFA57, 0x1002, "K1"));  // bus 2, port 1
    usb.bench->AddDevice(Config(1, 0xFA57, 0x1004));        // bus 1, port 3
    usb.bench->AddDevice(Config(2, 0x04B4, 0x8613));        // bus 1, port 1.4 behind a hub
    usb.bench->AddDevice(Config(3, 0xFA57, 0x1008));        // a product this tool does not know
    usb.emulation.AddDevice(0, {2, {1}});
    usb.emulation.AddDevice(1, {1, {3}});
    usb.emulation.AddForeignDevice(0x05E3, 0x0608, {1, {1}});  // the hub
    usb.emulation.AddDevice(2, {1, {1, 4}});
    usb.emulation.AddDevice(3, {1, {2}});
    usb::CLibusbDriver& driver = usb.Start();
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(ProductOf(driver, 0), 0x8613) << "pass " << pass;
        EXPECT_EQ(ProductOf(driver, 1), 0x1004) << "pass " << pass;
        EXPECT_EQ(ProductOf(driver, 2), 0x1002) << "pass " << pass;
        EXPECT_EQ(driver.Open(DevicePath(DeviceName(3))), kInvalidHandle);
    }
    EXPECT_TRUE(usb.TraceHas("no device \\\\.\\Ezusb-3 (3 EZ-USB devices attached)"));
    EXPECT_EQ(driver.Open("Ezusb-0"), kInvalidHandle);  // a name, not a path
    EXPECT_EQ(driver.OpenHandleCount(), 0);
}

TEST_F(OneKestrel, DescriptorsStringsAndPipesAreTheDevicesOwn) {
    const DeviceHandle simHandle = usb.bench->Open(DevicePath(DeviceName(0)));
    std::array<std::uint8_t, 18> viaUsb{}, viaBench{};
    ASSERT_TRUE(driver->IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, viaUsb.data(), 18, nullptr));
    ASSERT_TRUE(usb.bench->IoControl(simHandle, ioctl::kGetDeviceDescriptor, nullptr, 0, viaBench.data(), 18, nullptr));
    EXPECT_EQ(viaUsb, viaBench);
    const auto request = EncodeStringDescriptorRequest(2);
    std::array<std::uint8_t, 400> text{}, expected{};
    std::uint32_t length = 0, expectedLength = 0;
    usb.emulation.ClearTransfers();
    ASSERT_TRUE(driver->IoControl(handle, ioctl::kGetStringDescriptor, request.data(), 4, text.data(), 400, &length));
    ASSERT_TRUE(usb.bench->IoControl(simHandle, ioctl::kGetStringDescriptor, request.data(), 4, expected.data(), 400,
                                     &expectedLength));
    usb.bench->Close(simHandle);
    EXPECT_EQ(length, expectedLength);
    EXPECT_EQ(text, expected);
    // GET_DESCRIPTOR(STRING, 2) in the request's language, 0x001B, at most 255 bytes.
    EXPECT_EQ(Setups(usb.emulation), std::vector<std::string>{"800602031B00FF00"});

    // A command goes out on pipe 0 (endpoint 0x01), its reply comes back on
    // pipe 3 (endpoint 0x82).
    EXPECT_EQ(Serial(handle), "KS-0042");
    std::vector<std::uint8_t> endpoints;
    for (const auto& transfer : usb.emulation.Transfers()) {
        if (!transfer.control) endpoints.push_back(transfer.endpoint);
    }
    EXPECT_EQ(endpoints, (std::vector<std::uint8_t>{0x01, 0x82}));
}

TEST(LibusbOverEmulation, LoaderSessionHoldsDownloadsInPiecesAndReleases) {
    EmulatedUsb usb;
    usb.bench->AddDevice(Config(0, 0x04B4, 0x8613));  // an unprogrammed FX2
    usb.emulation.AddAllDevices();
    usb::CLibusbDriver& driver = usb.Start();
    sim::SimDevice& chip = *usb.bench->Device(0);
    const DeviceHandle handle = driver.Open(DevicePath(DeviceName(0)));
    ASSERT_NE(handle, kInvalidHandle);
    const auto reset = [&](std::uint8_t hold) {
        ResetRequestBlock block;
        block.value = kCpucsFx2;
        block.data = hold;
        const auto bytes = block.Encode();
        return driver.IoControl(handle, ioctl::kVendorRequest, bytes.data(), bytes.size(), nullptr, 0, nullptr);
    };

    // Request 0xA0 writes one byte to CPUCS: the 8051 is held.
    ASSERT_TRUE(reset(1));
    EXPECT_TRUE(chip.CpuHeld());
    EXPECT_EQ(Setups(usb.emulation), std::vector<std::string>{"40A000E600000100"});
    // A download larger than 4096 bytes goes in pieces at rising addresses.
    std::vector<std::uint8_t> program(10000);
    std::iota(program.begin(), program.end(), std::uint8_t{7});
    const std::uint8_t address[2] = {0x00, 0x00};
    std::uint32_t returned = 0;
    ASSERT_TRUE(driver.IoControl(handle, ioctl::kAnchorDownload, address, 2, program.data(), 10000, &returned));
    EXPECT_EQ(returned, 10000u);
    EXPECT_EQ(Setups(usb.emulation),
              (std::vector<std::string>{"40A0000000000010", "40A0001000000010", "40A0002000001007"}));
    EXPECT_EQ(chip.Ram(0, 10000), program);
    // Then our loader over it (the command line's download drives it); released, it runs.
    ASSERT_TRUE(DownloadLoaderRecords(driver, handle, true));
    ASSERT_TRUE(reset(0));
    EXPECT_TRUE(chip.ProgramRunning());
    driver.Close(handle);
}

TEST_F(OneKestrel, HandlesToOneDeviceShareOneClaimOfInterfaceZero) {
    // A programming job holds a handle while each of its steps opens another.
    const DeviceHandle step = driver->Open(DevicePath(DeviceName(0)));
    ASSERT_NE(step, kInvalidHandle);
    EXPECT_NE(handle, step);
    EXPECT_EQ(usb.emulation.Claims(0), 1);
    // Closing one leaves the other working, the claim held, until the last goes.
    driver->Close(step);
    EXPECT_EQ(Serial(handle), "KS-0042");
    EXPECT_EQ(usb.emulation.Releases(0), 0);
    driver->Close(handle);
    EXPECT_EQ(usb.emulation.Releases(0), 1);
    handle = driver->Open(DevicePath(DeviceName(0)));
    EXPECT_EQ(Serial(handle), "KS-0042");
    EXPECT_EQ(usb.emulation.Claims(0), 2);
    driver->Close(handle);
    std::uint8_t descriptor[18];
    EXPECT_FALSE(driver->IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, descriptor, 18, nullptr));
}

TEST_F(OneKestrel, StalledShortAndVanishedTransfersAreFailures) {
    // The instrument firmware answers no vendor request: the device stalls.
    VendorRequestControl request;
    request.request = 0xA3;
    request.direction = 1;
    std::uint8_t data[8] = {};
    const auto block = request.Encode();
    EXPECT_FALSE(driver->IoControl(handle, ioctl::kVendorOrClassRequest, block.data(), 10, data, 8, nullptr));
    EXPECT_TRUE(usb.TraceHas("vendor request 0xA3 (value 0x0000, index 0x0000, 8 bytes) failed: LIBUSB_ERROR_PIPE"));
    // A reply one byte short is a failed read, not a shorter value; the
    // device itself is fine.
    usb.emulation.ShortenBulkReads(0, 1, 1);
    EXPECT_EQ(Serial(handle), "");
    EXPECT_TRUE(usb.TraceHas("short transfer"));
    EXPECT_EQ(Serial(handle), "KS-0042");
    // The cable comes out after the command went out: the read fails, it does not hang.
    usb.emulation.VanishAfter(0, 1);
    EXPECT_EQ(Serial(handle), "");
    EXPECT_TRUE(usb.TraceHas("LIBUSB_ERROR_NO_DEVICE"));
    driver->Close(handle);
    EXPECT_EQ(driver->OpenHandleCount(), 0);
}

// EEPROM jobs through one libusb context, a worker per device as the frame
// runs them, on paced bench devices (the virtual clock keeps it quick).
TEST(LibusbOverEmulation, PlugsMoveTheBusGenerationAndADeviceKeepsItsPlaceNotItsNumber) {
    EmulatedUsb usb;
    usb.bench->AddDevice(Config(0, 0xFA57, 0x1002, "K1"));
    usb.bench->AddDevice(Config(1, 0xFA57, 0x1004));
    usb.emulation.AddDevice(0, {1, {1}});
    usb::CLibusbDriver& driver = usb.Start();
    const std::uint64_t before = driver.BusGeneration();
    // libusb hears of plugs on a thread of its own: each is awaited.
    const auto moved = [&](std::uint64_t generation) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (driver.BusGeneration() < generation && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        return driver.BusGeneration() >= generation;
    };
    usb.emulation.AddDevice(1, {1, {4}});
    ASSERT_TRUE(moved(before + 1));
    EXPECT_EQ(ProductOf(driver, 1), 0x1004);
    EXPECT_EQ(driver.PlaceOf(0), "1-1");
    EXPECT_EQ(driver.PlaceOf(1), "1-4");
    EXPECT_EQ(driver.PlaceOf(2), "");
    usb.emulation.Unplug(0);
    ASSERT_TRUE(moved(before + 2));
    EXPECT_EQ(driver.PlaceOf(0), "1-4");
}

TEST(LibusbOverEmulation, JobsOnEightDevicesRunSideBySideAndAnUnplugFailsOnlyItsOwn) {
    constexpr int kDevices = 8;
    constexpr int kUnplugged = 3;
    std::string image;
    for (int i = 0; i < 1024; ++i) image.push_back(static_cast<char>(i * 37 + 11));
    const auto bytes = std::make_shared<const std::string>(image);
    const auto program = [&](int index, usb::CLibusbDriver& driver, VirtualClock& clock) {
        NullDebugTrace trace;
        ScriptedUserInterface ui;
        Platform platform{driver, clock, trace, ui};
        JobEntry entry;
        return ProgramEepromImage(
            platform, {static_cast<std::uint32_t>(index), family::kUnprogrammedFx2, "image.iic", bytes, true, ""}, entry);
    };
    const auto rig = [](EmulatedUsb& usb, VirtualClock& clock, int devices) {
        for (int i = 0; i < devices; ++i) {
            sim::DeviceConfig config = Config(i, 0x04B4, 0x8613);
            config.bcdDevice = static_cast<std::uint16_t>(i);
            config.eeprom = sim::EepromConfig{0x10000, 2, 64, 5};
            usb.bench->AddDevice(config);
        }
        usb.bench->SetClock(&clock);
        usb.emulation.AddAllDevices();
        return &usb.Start();
    };
    // How many transfers one whole job makes: the cable comes out halfway.
    int transfersPerJob = 0;
    {
        VirtualClock clock;  // outlives the bench that keeps its time
        EmulatedUsb usb;
        ASSERT_TRUE(program(0, *rig(usb, clock, 1), clock).verified);
        transfersPerJob = static_cast<int>(usb.emulation.Transfers().size());
    }
    VirtualClock clock;
    EmulatedUsb usb;
    usb::CLibusbDriver& driver = *rig(usb, clock, kDevices);
    usb.emulation.VanishAfter(kUnplugged, transfersPerJob / 2);
    // Open devices keep their numbers when one before them leaves; the
    // others close up around them.
    const DeviceHandle held = driver.Open(DevicePath(DeviceName(5)));
    std::vector<std::future<JobResult>> jobs;
    for (int i = 0; i < kDevices; ++i) {
        jobs.push_back(std::async(std::launch::async, [&, i] { return program(i, driver, clock); }));
    }
    // The device leaves the bus while the others still program.
    EXPECT_FALSE(jobs[kUnplugged].get().Ok());
    usb.emulation.Unplug(kUnplugged);
    for (int i = 0; i < kDevices; ++i) {
        if (i == kUnplugged) continue;
        const JobResult result = jobs[static_cast<std::size_t>(i)].get();
        EXPECT_TRUE(result.Ok() && result.verified) << i;
        const std::vector<std::uint8_t> written = usb.bench->Device(i)->Eeprom(0, 1024);
        EXPECT_TRUE(std::string(written.begin(), written.end()) == image) << "device " << i << " holds another image";
    }
    // libusb hears of the removal on a thread of its own: until then the
    // gone device still holds number 3 and answers nothing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ProductOf(driver, 3, 12) == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_EQ((std::vector<int>{ProductOf(driver, 3, 12), ProductOf(driver, 4, 12), ProductOf(driver, 5, 12)}),
              (std::vector<int>{4, 6, 5}));
    driver.Close(held);
    EXPECT_EQ(driver.OpenHandleCount(), 0);
}

}  // namespace
}  // namespace spindle::test
