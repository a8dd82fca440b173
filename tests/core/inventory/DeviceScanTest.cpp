#include "inventory/DeviceScan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "device/UsbTrace.h"
#include "inventory/Classification.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "sim/SimBench.h"
#include "support/ScriptedUserInterface.h"

namespace spindle {
namespace {

// A bench behind the USB trace, scanned into a fresh table and tree.
class DeviceScanTest : public ::testing::Test {
protected:
    void Use(std::unique_ptr<sim::SimBench> loaded) {
        bench = std::move(loaded);
        traced = std::make_unique<CTracingDriver>(*bench, usbTrace);
        platform = std::make_unique<Platform>(Platform{*traced, clock, trace, ui});
    }
    Outcome Scan() { return ScanDevices(*platform, jobBusy, records, tree); }

    std::vector<std::string> ChildTexts(const std::string& parent) const {
        std::vector<std::string> texts;
        const TreeItem* item = tree.Item(tree.Find(parent));
        if (item == nullptr) return texts;
        for (int child : item->children) texts.push_back(tree.Item(child)->text);
        return texts;
    }
    int RecordCount() const {
        return static_cast<int>(std::count_if(records.begin(), records.end(),
                                              [](const DeviceRecord& r) { return r.family != 0; }));
    }

    std::unique_ptr<sim::SimBench> bench;
    CUsbTrace usbTrace;
    std::unique_ptr<CTracingDriver> traced;
    VirtualClock clock;
    MemoryDebugTrace trace;
    test::ScriptedUserInterface ui;
    std::unique_ptr<Platform> platform;
    JobBusyFlags jobBusy{};
    DeviceRecordTable records{};
    CDeviceTree tree;
};

TEST_F(DeviceScanTest, EmptyBenchGivesTheSkeletonAllExpandedAfterTryingEveryIndex) {
    Use(std::make_unique<sim::SimBench>());
    EXPECT_TRUE(Scan().Ok());
    ASSERT_EQ(tree.Count(), 14);
    EXPECT_EQ(tree.Item(0)->text, "Computer");
    std::vector<std::string> categories;
    for (int child : tree.Item(0)->children) categories.push_back(tree.Item(child)->text);
    EXPECT_EQ(categories, std::vector<std::string>(CategoryLabels().begin(), CategoryLabels().end()));
    EXPECT_EQ(tree.ExpansionLog().size(), 14u);
    EXPECT_EQ(RecordCount(), 0);
    const auto lines = usbTrace.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("OPEN ", 0) == 0; }),
              128);
}

TEST_F(DeviceScanTest, DemoBenchListsMakerRowsUnprogrammedChipsAndTheLantern) {
    Use(sim::LoadBench("demo"));
    Scan();
    const auto kestrels = ChildTexts("Kestrel Devices");
    ASSERT_EQ(kestrels.size(), 2u);
    EXPECT_EQ(kestrels[0].rfind("[0] Kestrel - ", 0), 0u);
    EXPECT_EQ(kestrels[0].back(), ' ');  // the cut line feed leaves one space
    EXPECT_EQ(ChildTexts("Unprogrammed Vexa USB Devices"),
              (std::vector<std::string>{"USB Device 14", "USB Device 15", "USB Device 17"}));
    EXPECT_EQ(tree.Find("USB Device 16"), CDeviceTree::kNoItem);  // unknown product left out

    // The Lantern hangs under the Kestrel with firmware 2, with the Kestrel's index.
    const TreeItem* kestrel = tree.Item(tree.Find(kestrels[0]));
    ASSERT_EQ(kestrel->children.size(), 1u);
    const TreeItem* lantern = tree.Item(kestrel->children[0]);
    EXPECT_EQ(lantern->text.rfind("Lantern - ", 0), 0u);
    EXPECT_EQ(lantern->image, 7);
    EXPECT_TRUE(kestrel->expanded);
    ASSERT_NE(lantern->record, nullptr);
    EXPECT_EQ(lantern->record->family, 5u);
    EXPECT_EQ(lantern->record->index, 0u);
    EXPECT_EQ(lantern->record, kestrel->record + 1);  // directly after the Kestrel's record

    // The Kestrel with firmware 1 gets no accessory query.
    const TreeItem* oldKestrel = tree.Item(tree.Find(kestrels[1]));
    EXPECT_TRUE(oldKestrel->children.empty());
    for (const auto& line : usbTrace.Lines()) {
        EXPECT_NE(line, "BULKOUT Ezusb-1 pipe=0 len=2 ok : 0c 00") << "accessory query on firmware 1";
    }
}

TEST_F(DeviceScanTest, BusyDevicesAreNeverOpened) {
    Use(sim::LoadBench("demo"));
    jobBusy[3].store(1);
    Scan();
    EXPECT_TRUE(ChildTexts("Osprey Devices").empty());
    for (const auto& line : usbTrace.Lines()) EXPECT_EQ(line.find("Ezusb-3 "), std::string::npos) << line;
}

TEST_F(DeviceScanTest, FailedQueriesNeverBorrowAnotherDevicesAnswer) {
    Use(sim::LoadBench("demo"));
    // The Kestrel at 0 answers nothing on its reply pipe: no serial, no Lantern.
    bench->Device(0)->SetRequestFails(ioctl::kBulkRead, true);
    const Outcome scanned = Scan();
    const auto kestrels = ChildTexts("Kestrel Devices");
    ASSERT_EQ(kestrels.size(), 2u);
    EXPECT_EQ(kestrels[0], "[0] Kestrel -  ");
    EXPECT_EQ(records[0].serial, "");
    EXPECT_TRUE(tree.Item(tree.Find(kestrels[0]))->children.empty());
    EXPECT_NE(records[1].family, 5u);
    // The failed accessory query warned the operator, and the scan went on.
    EXPECT_EQ(ui.MessageTexts(), (std::vector<std::string>{"BULK_IN failed."}));
    EXPECT_EQ(RecordCount(), 17);
    // The scan does not pass the half-read entry off as complete: it fails,
    // and the box it leaves for the frame names the device.
    EXPECT_EQ(scanned.failed, (std::vector<std::string>{"read device 0"}));
    ASSERT_EQ(scanned.pending.size(), 1u);
    EXPECT_EQ(scanned.pending[0].title, kScanProblemTitle);
    EXPECT_EQ(scanned.pending[0].text.rfind("Device 0 stopped answering during the scan", 0), 0u);

    // An Osprey whose serial query fails is listed, and said to be half read.
    Use(sim::LoadBench("demo"));
    bench->Device(3)->SetRequestFails(ioctl::kBulkRead, true);
    EXPECT_EQ(Scan().failed, (std::vector<std::string>{"read device 3"}));
    // A device whose descriptor cannot be read is missing, and said to be.
    Use(sim::LoadBench("demo"));
    bench->Device(3)->SetRequestFails(ioctl::kGetDeviceDescriptor, true);
    const Outcome missing = Scan();
    EXPECT_TRUE(ChildTexts("Osprey Devices").empty());
    EXPECT_EQ(missing.failed, (std::vector<std::string>{"read device 3"}));
    // Every other device answered: a scan of the demo bench is clean.
    Use(sim::LoadBench("demo"));
    EXPECT_TRUE(Scan().Ok());
    // A device whose descriptor holds 0xFFFF in both fields answered: it
    // matches no row and is left out without a word.
    Use(sim::LoadBench("demo"));
    sim::DeviceConfig blank = bench->Device(3)->Config();
    blank.index = 40;
    blank.vendorId = blank.productId = 0xFFFF;
    bench->AddDevice(blank);
    EXPECT_TRUE(Scan().pending.empty());
    EXPECT_TRUE(std::none_of(records.begin(), records.end(), [](const DeviceRecord& r) { return r.index == 40; }));
}

TEST_F(DeviceScanTest, TheTableIsNeverOverrun) {
    // 128 Kestrels with Lanterns would need 256 records.
    auto demo = sim::LoadBench("demo");
    const sim::DeviceConfig kestrel = demo->Device(0)->Config();
    auto bench128 = std::make_unique<sim::SimBench>();
    for (int i = 0; i < kMaxDevices; ++i) {
        sim::DeviceConfig config = kestrel;
        config.index = i;
        bench128->AddDevice(config);
    }
    Use(std::move(bench128));
    Scan();
    EXPECT_EQ(RecordCount(), kMaxDevices);
    EXPECT_EQ(records[127].family == 2u || records[127].family == 5u, true);
    EXPECT_EQ(ChildTexts("Kestrel Devices").size(), 64u);
}

TEST(FirmwareMajorVersion, NumberAtTheNinthCharacter) {
    EXPECT_EQ(FirmwareMajorVersion("Kestrel 2.31.0"), 2);
    EXPECT_EQ(FirmwareMajorVersion("Kestrel 12.1"), 12);
    EXPECT_EQ(FirmwareMajorVersion("Kestrel  +3"), 3);
    EXPECT_EQ(FirmwareMajorVersion("Kestrel -3"), -3);
    EXPECT_EQ(FirmwareMajorVersion("Kestrel v3"), 0);
    EXPECT_EQ(FirmwareMajorVersion("Kestrel"), 0);
    EXPECT_EQ(FirmwareMajorVersion(""), 0);
}

}  // namespace
}  // namespace spindle
