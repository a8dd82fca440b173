#include "device/Anchor.h"

#include <gtest/gtest.h>

#include "core/device/AnchorRig.h"
#include "device/EzusbRequests.h"

namespace spindle {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

class AnchorTest : public ::testing::Test, protected test::AnchorRig {};

// The boxes an outcome holds for its caller to show.
Texts Pending(const Outcome& outcome) {
    Texts texts;
    for (const auto& m : outcome.pending) texts.push_back(m.text);
    return texts;
}

TEST_F(AnchorTest, AFailedOpenByNameKeepsTheOldNameAndNothingReachesTheStaleDevice) {
    DeviceHandle handle = 0;
    ASSERT_TRUE(anchor.OpenByName(handle, "Ezusb-4"));
    EXPECT_EQ(anchor.deviceName, "Ezusb-4");
    driver.unopenablePaths.insert("\\\\.\\Ezusb-9");
    EXPECT_FALSE(anchor.OpenByName(handle, "Ezusb-9"));
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(anchor.deviceName, "Ezusb-4");
    EXPECT_TRUE(anchor.LastOpenFailed());
    const auto opensBefore = driver.openedPaths.size();
    Outcome outcome = anchor.RunOperation(anchorop::kVendorRequest);
    outcome.Append(anchor.RunOperation(anchorop::kResetHold));
    EXPECT_EQ(driver.openedPaths.size(), opensBefore);
    EXPECT_TRUE(driver.Requests().empty());
    EXPECT_EQ(Pending(outcome), (Texts{"Unable to open Device.", "Failed to Open Driver", "Reset Failed"}));
}

TEST_F(AnchorTest, VendorRequestBlockCarriesBeefAndLowBits) {
    anchor.requestNumber = 0x1A3;   // sent as 8 bits
    anchor.requestValue = 0x12345;  // sent as 16 bits
    anchor.requestLength = 64;
    anchor.requestDirection = 1;
    EXPECT_TRUE(anchor.RunOperation(anchorop::kVendorRequest).Ok());
    ASSERT_EQ(driver.Requests().size(), 1u);
    const auto r = driver.Requests()[0];
    EXPECT_EQ(r.code, ioctl::kVendorOrClassRequest);
    EXPECT_EQ(r.in, (Bytes{1, 2, 0, 0, 0xA3, 0, 0x45, 0x23, 0xEF, 0xBE}));
    EXPECT_EQ(r.outLength, 64u);
    EXPECT_EQ(driver.openedPaths, (Texts{"\\\\.\\Ezusb-0"}));
    EXPECT_EQ(driver.closedHandles.size(), 1u);  // one open and one close per request
}

TEST_F(AnchorTest, AnchorDownloadBelowAndFrom0x2000) {
    anchor.downloadLength = 16;
    anchor.downloadAddress = 0x1FFF;
    anchor.RunOperation(anchorop::kAnchorDownload);
    anchor.downloadAddress = 0x2000;
    anchor.RunOperation(anchorop::kAnchorDownload);
    const auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, ioctl::kAnchorDownload);
    EXPECT_EQ(requests[0].in, (Bytes{0xFF, 0x1F}));
    EXPECT_EQ(requests[1].code, ioctl::kVendorOrClassRequest);
    EXPECT_EQ(requests[1].in, (Bytes{0, 2, 0, 0, 0xA3, 0, 0x00, 0x20, 0, 0}));
    EXPECT_EQ(trace.Lines(), (Texts{"Anchor Download 16 bytes: addr=1fff", "Anchor Download 16 bytes: addr=2000"}));
}

TEST_F(AnchorTest, ResetBlockFollowsTheChipGeneration) {
    anchor.chipMode = 14;
    anchor.RunOperation(anchorop::kResetHold);
    anchor.chipMode = 2;
    anchor.RunOperation(anchorop::kResetRelease);
    const auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, ioctl::kVendorRequest);
    EXPECT_EQ(requests[0].in, (Bytes{0xA0, 0, 0x00, 0xE6, 0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(requests[1].in, (Bytes{0xA0, 0, 0x92, 0x7F, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(requests[0].outLength, 0u);
}

TEST_F(AnchorTest, FailureMessagesInOrder) {
    struct Case {
        int code;
        std::uint32_t address;
        bool openFails;
        std::uint32_t failingCode;
        Texts texts;
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
        test::AnchorRig rig;
        if (c.openFails) rig.driver.unopenablePaths.insert("\\\\.\\Ezusb-0");
        if (c.failingCode != 0) rig.FailCode(c.failingCode);
        rig.anchor.downloadAddress = c.address;
        rig.anchor.downloadLength = 8;
        const Outcome outcome = rig.anchor.RunOperation(c.code);
        // The caller learns the failure and every box, to show it: the
        // anchor shows none itself (a worker's anchor must not).
        EXPECT_EQ(Pending(outcome), c.texts) << "operation " << c.code << " address " << c.address;
        EXPECT_TRUE(rig.ui.Messages().empty());
        EXPECT_FALSE(outcome.Ok());
        EXPECT_EQ(outcome.failed, c.texts);
        for (const auto& m : outcome.pending) EXPECT_EQ(m.title, "Error in CAnchor");
        EXPECT_EQ(rig.driver.closedHandles.size(), c.openFails ? 0u : 1u);
    }
}

TEST_F(AnchorTest, LengthsBeyondTheBuffersAreRefused) {
    anchor.requestLength = 5000;
    Outcome outcome = anchor.RunOperation(anchorop::kVendorRequest);
    anchor.downloadLength = 9000;
    outcome.Append(anchor.RunOperation(anchorop::kAnchorDownload));
    EXPECT_TRUE(driver.Requests().empty());
    EXPECT_EQ(Pending(outcome), (Texts{"Error in Vendor request.", "Error in Anchor Download", "Anchor Download failed"}));
}

}  // namespace
}  // namespace spindle
