#include "device/Anchor.h"

#include <gtest/gtest.h>

#include "core/device/AnchorRig.h"
#include "device/EzusbRequests.h"
#include "device/Families.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

class AnchorTest : public ::testing::Test, protected test::AnchorRig {};

TEST_F(AnchorTest, DefaultsFromConstruction) {
    EXPECT_EQ(anchor.deviceName, "Ezusb-0");
    EXPECT_EQ(anchor.requestNumber, 0xA2);
    EXPECT_EQ(anchor.requestLength, 16u);
    EXPECT_EQ(anchor.requestIndex, 0xBEEFu);
    EXPECT_EQ(anchor.requestValue, 0u);
    EXPECT_EQ(anchor.requestDirection, 0);
}

TEST_F(AnchorTest, OpenByNameKeepsTheOldNameOnFailure) {
    DeviceHandle handle = 0;
    ASSERT_TRUE(anchor.OpenByName(handle, "Ezusb-4"));
    EXPECT_EQ(anchor.deviceName, "Ezusb-4");
    EXPECT_FALSE(anchor.LastOpenFailed());
    driver.failOpen.insert("\\\\.\\Ezusb-9");
    EXPECT_FALSE(anchor.OpenByName(handle, "Ezusb-9"));
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(anchor.deviceName, "Ezusb-4");
    EXPECT_TRUE(anchor.LastOpenFailed());
}

TEST_F(AnchorTest, OperationsAfterAFailedOpenNeverReachTheStaleDevice) {
    DeviceHandle handle = 0;
    anchor.OpenByName(handle, "Ezusb-4");
    driver.failOpen.insert("\\\\.\\Ezusb-9");
    anchor.OpenByName(handle, "Ezusb-9");
    const auto opensBefore = driver.opened.size();
    anchor.RunOperation(anchorop::kVendorRequest);
    anchor.RunOperation(anchorop::kResetHold);
    EXPECT_EQ(driver.opened.size(), opensBefore);
    EXPECT_TRUE(driver.requests.empty());
    EXPECT_EQ(ui.MessageTexts(),
              (std::vector<std::string>{"Unable to open Device.", "Failed to Open Driver", "Reset Failed"}));
}

TEST_F(AnchorTest, VendorRequestBlockCarriesBeefAndLowBits) {
    anchor.requestNumber = 0x1A3;  // sent as 8 bits
    anchor.requestValue = 0x12345;  // sent as 16 bits
    anchor.requestLength = 64;
    anchor.requestDirection = 1;
    EXPECT_TRUE(anchor.RunOperation(anchorop::kVendorRequest).Ok());
    ASSERT_EQ(driver.requests.size(), 1u);
    const auto& r = driver.requests[0];
    EXPECT_EQ(r.code, ioctl::kVendorOrClassRequest);
    EXPECT_EQ(r.in, (std::vector<std::uint8_t>{1, 2, 0, 0, 0xA3, 0, 0x45, 0x23, 0xEF, 0xBE}));
    EXPECT_EQ(r.outLength, 64u);
    EXPECT_EQ(driver.opened, (std::vector<std::string>{"\\\\.\\Ezusb-0"}));
    EXPECT_EQ(driver.closed.size(), 1u);  // one open and one close per request
}

TEST_F(AnchorTest, AnchorDownloadBelowAndFrom0x2000) {
    anchor.downloadLength = 16;
    anchor.downloadAddress = 0x1FFF;
    anchor.RunOperation(anchorop::kAnchorDownload);
    anchor.downloadAddress = 0x2000;
    anchor.RunOperation(anchorop::kAnchorDownload);
    ASSERT_EQ(driver.requests.size(), 2u);
    EXPECT_EQ(driver.requests[0].code, ioctl::kAnchorDownload);
    EXPECT_EQ(driver.requests[0].in, (std::vector<std::uint8_t>{0xFF, 0x1F}));
    EXPECT_EQ(driver.requests[1].code, ioctl::kVendorOrClassRequest);
    EXPECT_EQ(driver.requests[1].in, (std::vector<std::uint8_t>{0, 2, 0, 0, 0xA3, 0, 0x00, 0x20, 0, 0}));
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{"Anchor Download 16 bytes: addr=1fff", "Anchor Download 16 bytes: addr=2000"}));
}

TEST_F(AnchorTest, ResetBlockFollowsTheChipGeneration) {
    anchor.chipMode = 14;
    anchor.RunOperation(anchorop::kResetHold);
    anchor.chipMode = 2;
    anchor.RunOperation(anchorop::kResetRelease);
    ASSERT_EQ(driver.requests.size(), 2u);
    EXPECT_EQ(driver.requests[0].code, ioctl::kVendorRequest);
    EXPECT_EQ(driver.requests[0].in, (std::vector<std::uint8_t>{0xA0, 0, 0x00, 0xE6, 0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(driver.requests[1].in, (std::vector<std::uint8_t>{0xA0, 0, 0x92, 0x7F, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(driver.requests[0].outLength, 0u);
    for (int family : {10, 11, 12, 14, 15}) EXPECT_EQ(CpucsAddressFor(family), 0xE600) << family;
    for (int family : {2, 3, 4, 5, 7, 8, 9, 13, 16}) EXPECT_EQ(CpucsAddressFor(family), 0x7F92) << family;
}

TEST_F(AnchorTest, FailureMessagesInOrder) {
    struct Case {
        int code;
        std::uint32_t address;
        bool openFails;
        std::uint32_t failingCode;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {anchorop::kVendorRequest, 0, true, 0, {"Unable to open Device."}},
        {anchorop::kVendorRequest, 0, false, ioctl::kVendorOrClassRequest, {"Error in Vendor request."}},
        {anchorop::kAnchorDownload, 0, true, 0, {"Failed to Open Driver", "Anchor Download failed"}},
        {anchorop::kAnchorDownload, 0x100, false, ioctl::kAnchorDownload,
         {"Error in Anchor Download", "Anchor Download failed"}},
        {anchorop::kAnchorDownload, 0x3000, false, ioctl::kVendorOrClassRequest,
         {"Vendor Request failed", "Anchor Download failed"}},
        {anchorop::kResetHold, 0, true, 0, {"Failed to Open Driver", "Reset Failed"}},
        {anchorop::kResetRelease, 0, false, ioctl::kVendorRequest, {"Reset Failed"}},
    };
    for (const auto& c : cases) {
        test::RecordingDriver d;
        test::ScriptedUserInterface u;
        Platform p{d, clock, trace, u};
        CAnchor a{p};
        if (c.openFails) d.failOpen.insert("\\\\.\\Ezusb-0");
        if (c.failingCode != 0) d.failCodes.insert(c.failingCode);
        a.downloadAddress = c.address;
        a.downloadLength = 8;
        const Outcome outcome = a.RunOperation(c.code);
        EXPECT_EQ(u.MessageTexts(), c.texts) << "operation " << c.code << " address " << c.address;
        // The caller learns the failure and every box it was shown.
        EXPECT_FALSE(outcome.Ok());
        std::vector<std::string> met;
        for (const auto& m : outcome.messages) met.push_back(m.text);
        EXPECT_EQ(met, c.texts);
        EXPECT_TRUE(outcome.pending.empty());
        for (const auto& m : u.Messages()) EXPECT_EQ(m.title, "Error in CAnchor");
        EXPECT_EQ(d.closed.size(), c.openFails ? 0u : 1u);
    }
}

TEST_F(AnchorTest, LengthsBeyondTheBuffersAreRefused) {
    anchor.requestLength = 5000;
    anchor.RunOperation(anchorop::kVendorRequest);
    anchor.downloadLength = 9000;
    anchor.RunOperation(anchorop::kAnchorDownload);
    EXPECT_TRUE(driver.requests.empty());
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"Error in Vendor request.", "Error in Anchor Download",
                                                           "Anchor Download failed"}));
}

TEST_F(AnchorTest, UnknownOperationCodesDoNothing) {
    anchor.RunOperation(4);
    anchor.RunOperation(16);
    EXPECT_TRUE(driver.opened.empty());
    EXPECT_TRUE(ui.Messages().empty());
}

}  // namespace
}  // namespace spindle
