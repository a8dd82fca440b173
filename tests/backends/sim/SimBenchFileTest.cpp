#include <gtest/gtest.h>

#include <filesystem>

#include "backends/sim/SimTestRig.h"
#include "support/TempFolder.h"

namespace spindle::sim {
namespace {

namespace fs = std::filesystem;
using spindle::test::ReadWholeFile;
using test::SimRig;
using Json = nlohmann::ordered_json;

fs::path Example(const char* name) { return fs::path(SPINDLE_SOURCE_DIR) / "examples" / name; }

class SimBenchFileTest : public ::testing::Test {
protected:
    SimBenchFileTest() { fs::copy_file(Example("bench-minimal.json"), file); }

    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.Path())) names.push_back(entry.path().filename().string());
        return names;
    }

    spindle::test::TempFolder folder;
    fs::path file = folder.File("bench.json");
};

TEST_F(SimBenchFileTest, ShippedExamplesLoadAndTheDemoFileMatchesTheBuiltInBench) {
    for (const char* name : {"bench-minimal.json", "bench-faults.json", "demo-bench.json"}) {
        EXPECT_NO_THROW(LoadBench(Example(name).string())) << name;
    }
    EXPECT_EQ(Json::parse(ReadWholeFile(Example("demo-bench.json"))), Json::parse(DemoBenchText()));
    EXPECT_TRUE(LoadBench("demo")->FilePath().empty());
}

TEST_F(SimBenchFileTest, FaultsFromTheFile) {
    SimRig rig{LoadBench(Example("bench-faults.json").string())};
    EXPECT_EQ(rig.Open(0), kInvalidHandle);

    DeviceHandle handle = rig.Open(1);
    EXPECT_TRUE(rig.Send(handle, {0x05, 0x00, 0x01}));
    EXPECT_FALSE(rig.Read(handle, 17));
    CloseDevice(rig.platform, handle);

    handle = rig.Open(2);
    for (int i = 0; i < 5; ++i) EXPECT_NE(ReadDeviceDescriptor(rig.platform, handle, DescriptorField::VendorId), 0xFFFF);
    EXPECT_EQ(ReadDeviceDescriptor(rig.platform, handle, DescriptorField::VendorId), 0xFFFF);
    CloseDevice(rig.platform, handle);
    EXPECT_EQ(rig.Open(2), kInvalidHandle);

    EXPECT_EQ(rig.bench->Device(3)->Faults().invalidTemperatureReads, 3);
    EXPECT_EQ(rig.bench->Device(3)->Faults().invalidTemperatureValue, 0xFFFFu);
}

TEST_F(SimBenchFileTest, SlotWritesPersistAcrossBenchesLoadedFromTheSameFile) {
    {
        SimRig rig{LoadBench(file.string())};
        const DeviceHandle handle = rig.Open(0);
        ASSERT_TRUE(rig.WriteSlot(handle, 0, SlotFromText("KES20001-NEWSER")));  // 15 characters
        SlotBytes raw = SlotFromText("7");
        raw[9] = 0xEE;  // bytes after the terminator are stored as sent
        ASSERT_TRUE(rig.WriteSlot(handle, 14, raw));
        // Accessory writes reach the file with the commit only.
        ASSERT_TRUE(rig.WriteSlot(handle, 1, SlotFromText("3.000000e-02"), 0x24));
        CloseDevice(rig.platform, handle);
        EXPECT_EQ(LoadBench(file.string())->Device(0)->CommittedAccessorySlot(1), SlotFromText("2.000000e-02"));
        const DeviceHandle again = rig.Open(0);
        ASSERT_TRUE(rig.Send(again, {0x27, 0x00}));
        CloseDevice(rig.platform, again);
        EXPECT_EQ(rig.bench->SaveCount(), 3);
    }
    SimRig later{LoadBench(file.string())};
    const DeviceHandle handle = later.Open(0);
    EXPECT_EQ(TextOfSlot(*later.QuerySlot(handle, 0)), "KES20001-NEWSER");
    SlotBytes expected = SlotFromText("7");
    expected[9] = 0xEE;
    EXPECT_EQ(later.QuerySlot(handle, 14), expected);
    EXPECT_EQ(TextOfSlot(*later.QuerySlot(handle, 1, 0x23)), "3.000000e-02");
    CloseDevice(later.platform, handle);

    // Only the changed values were rewritten: comments and other forms stay.
    const Json saved = Json::parse(ReadWholeFile(file));
    EXPECT_TRUE(saved.contains("_comment"));
    EXPECT_EQ(saved["devices"][0]["slots"]["17"], Json({{"hex", "01 2C 00 64 00 0A 02 01 05 01 00 10 00 00 01"}}));
    EXPECT_EQ(saved["devices"][0]["slots"]["14"], Json({{"hex", "37 00 00 00 00 00 00 00 00 EE"}}));
}

TEST_F(SimBenchFileTest, SavesLeaveNoTemporaryFileAndAFailedOneSaysWhy) {
    auto bench = LoadBench(file.string());
    const auto device = bench->Device(0);
    for (int i = 0; i < 3; ++i) device->SetSlotText(16, "CFG-" + std::to_string(i));
    EXPECT_EQ(bench->SaveCount(), 3);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"bench.json"});
    EXPECT_EQ(LoadBench(file.string())->Device(0)->SlotText(16), "CFG-2");

    // A save that cannot be made leaves the old file and says why.
    fs::remove_all(folder.Path());
    device->SetSlotText(16, "LOST");
    EXPECT_NE(bench->LastSaveError().find("bench.json"), std::string::npos);
    EXPECT_EQ(bench->SaveCount(), 3);
}

TEST_F(SimBenchFileTest, BenchesSharingAFileKeepEachOthersChanges) {
    // Two processes (here: two benches) loaded the same file; each saves
    // only what it changed into what is on disk, so neither change is lost.
    auto first = LoadBench(file.string());
    auto second = LoadBench(file.string());
    first->Device(0)->SetSlotText(15, "FROM-FIRST");
    second->Device(0)->SetSlotText(16, "FROM-SECOND");
    auto reloaded = LoadBench(file.string());
    EXPECT_EQ(reloaded->Device(0)->SlotText(15), "FROM-FIRST");
    EXPECT_EQ(reloaded->Device(0)->SlotText(16), "FROM-SECOND");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"bench.json"});
}

TEST_F(SimBenchFileTest, ADeviceOpenInOneBenchIsBusyForAnotherOnTheSameFile) {
    // Two processes (here: two benches) on one file.
    auto first = LoadBench(file.string());
    auto second = LoadBench(file.string());
    SimRig other{LoadBench(file.string())};
    const DeviceHandle held = first->Open("\\\\.\\Ezusb-1");
    ASSERT_NE(held, kInvalidHandle);
    EXPECT_NE(first->Open("\\\\.\\Ezusb-1"), kInvalidHandle);  // the same bench opens it again
    EXPECT_FALSE(first->DeviceBusy("\\\\.\\Ezusb-1"));  // its own handles do not make it busy
    EXPECT_EQ(second->Open("\\\\.\\Ezusb-1"), kInvalidHandle);
    EXPECT_TRUE(second->DeviceBusy("\\\\.\\Ezusb-1"));
    EXPECT_FALSE(second->DeviceBusy("\\\\.\\Ezusb-7"));          // no such device: not busy
    EXPECT_EQ(OpenFailureText(other.platform, 1), "device 1 is busy");

    // Free once every handle of the first bench is closed (its second one still holds it).
    first->Close(held);
    EXPECT_EQ(second->Open("\\\\.\\Ezusb-1"), kInvalidHandle);
    first.reset();
    EXPECT_NE(second->Open("\\\\.\\Ezusb-1"), kInvalidHandle);
    EXPECT_EQ(OpenFailureText(other.platform, 1), "device 1 is busy");
    second.reset();
    EXPECT_EQ(OpenFailureText(other.platform, 1), "device 1 could not be opened");
}

TEST_F(SimBenchFileTest, TheBootEepromIsDescribedAndKeptInTheFile) {
    spindle::test::WriteWholeFile(file, R"({"format": "spindle-sim-bench", "version": 1, "devices": [
        {"index": 15, "vendorId": "0x04B4", "productId": "0x8613",
         "eeprom": {"addressBytes": 1, "size": 256, "pageSize": 8, "writeCycleMs": 2, "contents": "C2 47"}}]})");
    auto bench = LoadBench(file.string());
    const DeviceConfig config = bench->Device(15)->Config();
    ASSERT_TRUE(config.eeprom.has_value());
    EXPECT_EQ(*config.eeprom, (EepromConfig{256, 1, 8, 2}));
    EXPECT_EQ(bench->Device(15)->Eeprom(0, 3), (std::vector<std::uint8_t>{0xC2, 0x47, 0xFF}));
    EXPECT_EQ(bench->Device(15)->Eeprom(250, 10).size(), 6u);  // 256 bytes, no more

    bench->Device(15)->SetEeprom(0x10, {1, 2, 3});
    EXPECT_EQ(LoadBench(file.string())->Device(15)->Eeprom(0x10, 3), (std::vector<std::uint8_t>{1, 2, 3}));

    for (const char* eeprom : {R"({"addressBytes": 3})", R"({"addressBytes": 1, "size": 512})",
                               R"({"size": 16, "contents": "00112233445566778899AABBCCDDEEFF00"})"}) {
        const std::string text = std::string(R"({"devices": [{"index": 1, "vendorId": 1, "productId": 2, "eeprom": )") +
                                 eeprom + "}]}";
        EXPECT_THROW(LoadBenchFromJson(Json::parse(text)), BenchFileError) << eeprom;
    }
}

TEST_F(SimBenchFileTest, BadFilesAreRefusedWithTheirPlace) {
    const auto refusal = [](const std::string& text) {
        try {
            LoadBenchFromJson(Json::parse(text));
        } catch (const BenchFileError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    const std::string head = R"({"devices": [{"index": 0, "vendorId": "0xFA57", "productId": "0x1002", )";
    EXPECT_NE(refusal(head + R"("slot": {}}]})").find("unknown member \"slot\""), std::string::npos);
    EXPECT_NE(refusal(head + R"("slots": {"1": "0123456789ABCDEF"}}]})").find("longer than 15"), std::string::npos);
    EXPECT_NE(refusal(head + R"("slots": {"1": {"hex": "0G"}}}]})").find("slots.1"), std::string::npos);
    EXPECT_NE(refusal(head + R"("faults": {"failRequests": ["bulk"]}}]})").find("failRequests"), std::string::npos);
    EXPECT_NE(refusal(head + R"("faults": {"invalidTemperatureValue": 5}}]})").find("invalid reading"),
              std::string::npos);
    EXPECT_NE(refusal(R"({"devices": [{"index": 1, "vendorId": 1, "productId": 2},
                                      {"index": 1, "vendorId": 1, "productId": 2}]})")
                  .find("used twice"),
              std::string::npos);
    EXPECT_NE(refusal(R"({"devices": [{"index": 0, "vendorId": "0x10000", "productId": 2}]})").find("vendorId"),
              std::string::npos);
    EXPECT_EQ(refusal(head + R"("_note": [1, 2], "slots": {"_c": 0, "0x11": {"hex": "03 01"}}}]})"), "accepted");
    EXPECT_THROW(LoadBench(folder.File("missing.json")), BenchFileError);
}

TEST(SlotJsonForm, TextWhenItIsPlainTextElseHex) {
    EXPECT_EQ(SlotToJson(SlotFromText("KES10234")), Json("KES10234"));
    EXPECT_EQ(SlotToJson(SlotFromText("ABCDEFGHIJKLMNO")), Json("ABCDEFGHIJKLMNO"));
    SlotBytes bytes{};
    bytes[0] = 0x00;
    bytes[1] = 0xE1;
    EXPECT_EQ(SlotToJson(bytes), Json({{"hex", "00 E1"}}));
    EXPECT_EQ(SlotFromJson(SlotToJson(bytes)), bytes);
}

}  // namespace
}  // namespace spindle::sim
