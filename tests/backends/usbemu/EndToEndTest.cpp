// The application's own commands (scan, Get All Values, Save All Values) on
// the same instruments, once through the simulated driver and once through
// libusb on emulated USB: the operator must see the same thing either way.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "EmulatedUsbRig.h"
#include "app/MainFrame.h"
#include "device/UdevRules.h"
#include "inventory/DeviceScan.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "protocol/ValueList.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

// A main frame over a driver, with a virtual clock and a scripted user.
struct Frame {
    explicit Frame(IEzusbDriver& driver) : platform{driver, clock, trace, ui}, frame(platform) {}

    std::vector<std::string> TreeTexts() {
        std::vector<std::string> texts;
        for (const TreeItem& item : frame.Tree().Items()) texts.push_back(item.text);
        return texts;
    }
    std::vector<const TreeItem*> DeviceItems() {
        std::vector<const TreeItem*> items;
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.record != nullptr) items.push_back(&item);
        }
        return items;
    }
    int ItemWithText(const std::string& text) {
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.text == text) return item.id;
        }
        return CDeviceTree::kNoItem;
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (const ValueRow& row : frame.List().Rows()) rows.push_back(row.label + " = " + row.value);
        return rows;
    }

    VirtualClock clock;
    MemoryDebugTrace trace;
    ScriptedUserInterface ui;
    Platform platform;
    CMainFrame frame;
};

TEST(EndToEnd, ScanGetAndSaveShowTheSameThroughTheBenchAndThroughLibusb) {
    std::unique_ptr<sim::SimBench> direct = ComparableDemoBench();
    EmulatedUsb usb(ComparableDemoBench());
    usb.emulation.AddAllDevices();
    usb::CLibusbDriver& driver = usb.Start();
    Frame viaBench(*direct);
    Frame viaUsb(driver);

    const int listings = driver.EnumerationCount();
    viaBench.frame.OnRefreshTree();
    viaUsb.frame.OnRefreshTree();
    EXPECT_EQ(driver.EnumerationCount(), listings + 1) << "one bus listing for the scan of 128 indexes";
    ASSERT_EQ(viaUsb.TreeTexts(), viaBench.TreeTexts());
    ASSERT_GE(viaUsb.DeviceItems().size(), 16u);  // fifteen instruments and a Lantern, plus the bare chips
    EXPECT_TRUE(viaUsb.ui.Messages().empty());

    // Every device's values read the same.
    for (const TreeItem* item : viaBench.DeviceItems()) {
        viaBench.frame.OnTreeSelectionChanged(item->id);
        viaUsb.frame.OnTreeSelectionChanged(viaUsb.ItemWithText(item->text));
        EXPECT_EQ(viaUsb.Rows(), viaBench.Rows()) << item->text;
    }
    EXPECT_TRUE(viaUsb.ui.Messages().empty());

    // A save through libusb reaches the instrument.
    const TreeItem* target = nullptr;
    for (const TreeItem* item : viaUsb.DeviceItems()) {
        if (item->record->index == 3) target = item;
    }
    ASSERT_NE(target, nullptr);
    viaUsb.frame.OnTreeSelectionChanged(target->id);
    ASSERT_TRUE(viaUsb.frame.List().SetText(1, CValueList::kDataColumn, "OSP-VIA-USB"));
    viaUsb.frame.OnSaveAllValues();
    EXPECT_TRUE(viaUsb.ui.Messages().empty()) << viaUsb.ui.MessageTexts().front();
    EXPECT_EQ(usb.bench->Device(3)->SlotText(0), "OSP-VIA-USB");
    viaUsb.frame.OnGetAllValues();
    EXPECT_EQ(viaUsb.frame.List().GetText(1, CValueList::kDataColumn), "OSP-VIA-USB");
}

TEST(EndToEnd, EachScanListsTheBusesOnceWithOrWithoutDevices) {
    EmulatedUsb empty;
    usb::CLibusbDriver& none = empty.Start();
    Frame nothing(none);
    nothing.frame.OnRefreshTree();
    nothing.frame.OnRefreshTree();
    EXPECT_EQ(none.EnumerationCount(), 2);
    EXPECT_TRUE(nothing.DeviceItems().empty());

    EmulatedUsb usb(ComparableDemoBench());
    usb.emulation.AddAllDevices();
    usb::CLibusbDriver& driver = usb.Start();
    Frame frame(driver);
    frame.frame.OnRefreshTree();
    frame.frame.OnRefreshTree();
    EXPECT_EQ(driver.EnumerationCount(), 2);
}

TEST(EndToEnd, UnplugDuringGetAllValuesIsReportedAndTheNextScanDropsTheDevice) {
    EmulatedUsb usb(ComparableDemoBench());
    usb.emulation.AddAllDevices();
    usb::CLibusbDriver& driver = usb.Start();
    Frame frame(driver);
    frame.frame.OnRefreshTree();
    const std::size_t devices = frame.DeviceItems().size();
    const TreeItem* osprey = nullptr;
    for (const TreeItem* item : frame.DeviceItems()) {
        if (item->record->index == 3) osprey = item;
    }
    ASSERT_NE(osprey, nullptr);

    // The list keeps what was read; it is marked incomplete, so it can never
    // be saved over the device's values, and saying so is the report.
    usb.emulation.VanishAfter(3, 6);
    frame.frame.OnTreeSelectionChanged(osprey->id);
    EXPECT_TRUE(usb.TraceHas("LIBUSB_ERROR_NO_DEVICE"));
    EXPECT_TRUE(TraceContains(frame.trace, "slot reads failed"));
    EXPECT_FALSE(frame.frame.listSource.valid);
    EXPECT_EQ(driver.OpenHandleCount(), 0);
    frame.frame.OnSaveAllValues();
    ASSERT_EQ(frame.ui.Messages().size(), 1u);
    EXPECT_NE(frame.ui.Messages()[0].text.find("Save All Values was not done"), std::string::npos);

    usb.emulation.Unplug(3);
    frame.frame.OnRefreshTree();
    EXPECT_EQ(frame.DeviceItems().size(), devices - 1);
}

// Root can become the unprivileged user 65534 here (a container may forbid it).
bool CanDropToNobody() {
    const pid_t child = ::fork();
    if (child == 0) std::_Exit(::setgid(65534) == 0 && ::setuid(65534) == 0 ? 0 : 1);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A device the user may not open: left out of the tree, and the operator is
// told once per scan what to install. File permissions do not stop root, so
// the scan runs in a child process as an ordinary user.
TEST(EndToEnd, ADeviceTheUserMayNotOpenIsLeftOutAndTheOperatorToldOncePerScan) {
    if (::geteuid() == 0 && !CanDropToNobody()) GTEST_SKIP() << "root cannot become user 65534 here";
    // The advice below is the one for rules that are not installed.
    if (!InstalledUdevRules().empty()) GTEST_SKIP() << "the udev rules are installed on this machine";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
            EmulatedUsb usb;
            for (int i = 0; i < 3; ++i) {
                sim::DeviceConfig config;
                config.index = i;
                config.vendorId = 0xFA57;
                config.productId = 0x100A;
                config.slots[0] = sim::SlotFromText("OSP-" + std::to_string(i));
                usb.bench->AddDevice(config);
            }
            usb.emulation.AddAllDevices();
            usb.emulation.DenyAccess(1);
            Frame frame(usb.Start());
            frame.frame.OnRefreshTree();
            frame.frame.OnRefreshTree();
            for (const TreeItem* item : frame.DeviceItems()) std::fprintf(stderr, "shown: %s\n", item->text.c_str());
            for (const auto& message : frame.ui.Messages()) {
                std::fprintf(stderr, "box: %s | %s\n", message.title.c_str(), message.text.c_str());
            }
            std::fflush(stderr);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0),
        "shown: \\[0\\] Osprey - OSP-0 \n"
        "shown: \\[2\\] Osprey - OSP-2 \n"
        "box: USB Device Access \\| 1 USB device could not be opened because this user may not use it:\n"
        "    Ezusb-1 \\(USB port 1-2\\)\n\n"
        "Install the device rules that come with Spindle, as root, from Spindle's source folder:\n"
        "    cp scripts/60-spindle.rules /etc/udev/rules.d/\n"
        "then reload the rules and apply them:\n"
        "    udevadm control --reload-rules && udevadm trigger\n"
        "\\(The Spindle package installs them in /usr/lib/udev/rules.d by itself.\\)\n"
        "Until then it is not shown.\n"
        "box: USB Device Access \\| 1 USB device could not be opened[^\n]*\n"
        "(    [^\n]*\n|\n|Install[^\n]*\n|then[^\n]*\n|\\(The[^\n]*\n|Until[^\n]*\n)*$");
}

}  // namespace
}  // namespace spindle::test
