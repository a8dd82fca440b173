// The application's own commands (scan, Get All Values, Save All Values) on
// the same instruments, once through the simulated driver and once through
// libusb on emulated USB: the operator must see the same thing either way.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "EmulatedUsbRig.h"
#include "app/MainFrame.h"
#include "device/UdevRules.h"
#include "platform/Platform.h"
#include "platform/VirtualClock.h"
#include "protocol/ValueList.h"
#include "support/ScriptedUserInterface.h"

namespace spindle::test {
namespace {

// A main frame over a driver, with a virtual clock and a scripted user.
struct Frame {
    explicit Frame(IEzusbDriver& driver) : platform{driver, clock, trace, ui}, frame(platform) {}

    // The tree's device items, by the text they show.
    std::map<std::string, const TreeItem*> Devices() {
        std::map<std::string, const TreeItem*> items;
        for (const TreeItem& item : frame.Tree().Items()) {
            if (item.record != nullptr) items[item.text] = &item;
        }
        return items;
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
    const auto devices = viaBench.Devices();
    ASSERT_GE(devices.size(), 16u);  // fifteen instruments and a Lantern, plus the bare chips
    const auto usbDevices = viaUsb.Devices();
    ASSERT_EQ(usbDevices.size(), devices.size());
    for (const auto& [text, item] : devices) {
        ASSERT_EQ(usbDevices.count(text), 1u) << text;
        viaBench.frame.OnTreeSelectionChanged(item->id);
        viaUsb.frame.OnTreeSelectionChanged(usbDevices.at(text)->id);
        EXPECT_EQ(viaUsb.Rows(), viaBench.Rows()) << text;
    }
    EXPECT_TRUE(viaUsb.ui.Messages().empty());

    // A save through libusb reaches the instrument; the next scan lists the buses again.
    const auto target = std::find_if(usbDevices.begin(), usbDevices.end(),
                                     [](const auto& entry) { return entry.second->record->index == 3; });
    ASSERT_NE(target, usbDevices.end());
    viaUsb.frame.OnTreeSelectionChanged(target->second->id);
    ASSERT_TRUE(viaUsb.frame.List().SetText(1, CValueList::kDataColumn, "OSP-VIA-USB"));
    viaUsb.frame.OnSaveAllValues();
    EXPECT_TRUE(viaUsb.ui.Messages().empty()) << viaUsb.ui.MessageTexts().front();
    EXPECT_EQ(usb.bench->Device(3)->SlotText(0), "OSP-VIA-USB");
    const int beforeRescan = driver.EnumerationCount();
    viaUsb.frame.OnRefreshTree();
    EXPECT_EQ(driver.EnumerationCount(), beforeRescan + 1);
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
            for (const auto& [text, item] : frame.Devices()) std::fprintf(stderr, "shown: %s\n", text.c_str());
            for (const auto& message : frame.ui.Messages()) {
                std::fprintf(stderr, "box: %s | %s\n", message.title.c_str(), message.text.c_str());
            }
            std::fflush(stderr);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0),
        "shown: \\[0\\] Osprey - OSP-0 \nshown: \\[2\\] Osprey - OSP-2 \n"
        "box: USB Device Access \\| 1 USB device could not be opened because this user may not use it:\n"
        "    Ezusb-1 \\(USB port 1-2\\)\n\nInstall the device rules that come with Spindle[^|]*"
        "box: USB Device Access \\| 1 USB device could not be opened[^|]*$");
}

}  // namespace
}  // namespace spindle::test
