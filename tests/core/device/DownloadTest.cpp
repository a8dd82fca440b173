#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/device/AnchorRig.h"
#include "device/EzusbRequests.h"
#include "platform/Format.h"
#include "support/HexRecord.h"
#include "support/TempFolder.h"

namespace spindle {
namespace {

std::string Record(std::uint32_t address, std::size_t count, std::uint8_t fill, int type = 0) {
    return test::HexRecord(address, std::vector<std::uint8_t>(count, fill), type, "\n");
}

const std::uint8_t kLoaderBytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
// Two records that join into one chunk, one apart, then the end.
const LoaderRecord kLoader[] = {
    {4, 0x0000, 0, kLoaderBytes}, {4, 0x0004, 0, kLoaderBytes + 4}, {2, 0x0100, 0, kLoaderBytes + 8}, {0, 0, 1, nullptr}};

class DownloadTest : public ::testing::Test, protected test::AnchorRig {
protected:
    // "hold", "release", "anchor 0x0000 8", "vendor A3 0x3000 16"
    std::vector<std::string> Steps() const {
        std::vector<std::string> steps;
        for (const auto& r : driver.Requests()) {
            if (r.code == ioctl::kVendorRequest) {
                steps.push_back(r.in.back() == 1 ? "hold" : "release");
            } else if (r.code == ioctl::kAnchorDownload) {
                steps.push_back(StrPrintf("anchor 0x%04X %u", r.in[0] | (r.in[1] << 8), r.outLength));
            } else if (r.code == ioctl::kVendorOrClassRequest) {
                steps.push_back(StrPrintf("vendor %02X 0x%04X %u", r.in[4], r.in[6] | (r.in[7] << 8), r.outLength));
            }
        }
        return steps;
    }

    test::TempFolder folder;
};

TEST_F(DownloadTest, TheLoaderGoesOutInJoinedChunksBetweenHoldAndRelease) {
    EXPECT_TRUE(anchor.DownloadLoaderImage(kLoader).Ok());
    EXPECT_EQ(Steps(), (std::vector<std::string>{"hold", "anchor 0x0000 8", "anchor 0x0100 2", "release"}));
    EXPECT_EQ(driver.Requests()[1].data, std::vector<std::uint8_t>(kLoaderBytes, kLoaderBytes + 8));
}

TEST_F(DownloadTest, HighSegmentsGoThroughTheLoaderBeforeTheLowOnesInReset) {
    const std::string path = folder.File("Prog.HEX.old");  // ".hex" anywhere, any case
    test::WriteWholeFile(path, Record(0x0000, 16, 0x11) + Record(0x3000, 16, 0x33) + Record(0x0100, 4, 0x22) +
                                   Record(0x3010, 8, 0x44) + ":00000001FF\n");
    anchor.highMemoryLoader = kLoader;
    const DownloadResult download = anchor.DownloadFile(path);
    EXPECT_EQ(download.result, 1);
    EXPECT_TRUE(download.outcome.Ok());
    EXPECT_EQ(Steps(), (std::vector<std::string>{"hold", "anchor 0x0000 8", "anchor 0x0100 2", "release",
                                                 "vendor A3 0x3000 16", "vendor A3 0x3010 8", "hold", "anchor 0x0000 16",
                                                 "anchor 0x0100 4", "release"}));
    const auto requests = driver.Requests();
    EXPECT_EQ(requests[4].in[8] | (requests[4].in[9] << 8), 0xBEEF);  // the object's request index
    EXPECT_EQ(requests[4].data[15], 0x33);
    // 0x3010 continued a segment other than the last: its own request.
    EXPECT_EQ(requests[5].data[0], 0x44);
    EXPECT_TRUE(ui.Messages().empty());

    // Only low memory: no loader at all.
    driver.Clear();
    test::WriteWholeFile(path, Record(0x0000, 16, 0x11) + ":00000001FF\n");
    EXPECT_EQ(anchor.DownloadFile(path).result, 1);
    EXPECT_EQ(Steps(), (std::vector<std::string>{"hold", "anchor 0x0000 16", "release"}));
}

TEST_F(DownloadTest, BixFilesSendTheirFirst8192BytesToAddressZero) {
    const std::string path = folder.File("prog.bix");
    test::WriteWholeFile(path, std::string(10000, '\x5A'));
    const DownloadResult download = anchor.DownloadFile(path);
    EXPECT_EQ(download.result, 1);
    EXPECT_EQ(Steps(), (std::vector<std::string>{"hold", "anchor 0x0000 8192", "release"}));
    // The bytes past 8192 are not sent, and the operator is told.
    ASSERT_EQ(download.outcome.pending.size(), 1u);
    EXPECT_EQ(download.outcome.pending[0].text, path + " is 10000 bytes long; only its first 8192 bytes were sent.\n");
}

TEST_F(DownloadTest, RecordsAfterALineThatStopsTheReadingAreAskedAbout) {
    const std::string path = folder.File("prog.hex");
    test::WriteWholeFile(path, Record(0x0000, 16, 0x11) + "\n" + Record(0x0100, 16, 0x22) + ":00000001FF\n\n");
    ui.QueueAnswer(mb::kIdNo);
    const DownloadResult declined = anchor.DownloadFile(path);
    EXPECT_EQ(declined.result, 0);
    EXPECT_FALSE(declined.outcome.Ok());
    EXPECT_TRUE(driver.Requests().empty());
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_NE(ui.Messages()[0].text.find("stopped at line 2, which is not a record; the 2 lines after it (2 of them "
                                         "records) were not read"),
              std::string::npos)
        << ui.Messages()[0].text;
    // Accepted: what was read before the blank line goes, as the reader's rule has it.
    ui.QueueAnswer(mb::kIdYes);
    EXPECT_EQ(anchor.DownloadFile(path).result, 1);
    EXPECT_EQ(Steps(), (std::vector<std::string>{"hold", "anchor 0x0000 16", "release"}));
}

TEST_F(DownloadTest, FilesThatCannotBeSentSendNothing) {
    struct Case {
        std::string path;
        std::string contents;  // empty: the file is not made
        const char* message;
    };
    const std::vector<Case> cases = {
        {folder.File("missing.hex"), "", "Error opening Input file.\n"},
        {folder.File("prog.txt"), "x", "Please select .hex or .bix file to download.\n"},
        {folder.File("bad.hex"), Record(0x0, 4, 1) + ":0400000001020304FF\n", "line 2: the checksum is wrong"},
        {folder.File("text.hex"), "a text without records\n", "holds no Intel HEX data record"},
        {folder.File("empty.hex"), "\x01", "holds no Intel HEX data record"},
        {folder.File("empty.bix"), "\x01", "is empty"},
        {folder.File("a.hex"), "\x02", "not a regular file"},
    };
    for (const Case& c : cases) {
        driver.Clear();
        ui.ClearMessages();
        if (c.contents == "\x01") {
            test::WriteWholeFile(c.path, "");
        } else if (c.contents == "\x02") {
            std::filesystem::create_directory(c.path);
        } else if (!c.contents.empty()) {
            test::WriteWholeFile(c.path, c.contents);
        }
        const DownloadResult download = anchor.DownloadFile(c.path);
        EXPECT_EQ(download.result, 0) << c.path;
        EXPECT_FALSE(download.outcome.Ok()) << c.path;
        EXPECT_TRUE(driver.Requests().empty()) << c.path;
        ASSERT_EQ(download.outcome.pending.size(), 1u) << c.path;
        const OutcomeMessage& box = download.outcome.pending[0];
        EXPECT_NE(box.text.find(c.message), std::string::npos) << box.text;
        EXPECT_EQ(box.title, "Error in CAnchor");
    }
}

TEST_F(DownloadTest, FailedRequestsStillReleaseTheResetAndAreNamed) {
    const std::string path = folder.File("prog.hex");
    test::WriteWholeFile(path, Record(0x0000, 16, 0x11) + Record(0x0200, 16, 0x11) + ":00000001FF\n");
    FailCode(ioctl::kAnchorDownload);
    const DownloadResult download = anchor.DownloadFile(path);
    EXPECT_EQ(download.result, 1);  // the file was sent, as far as the device took it
    EXPECT_FALSE(download.outcome.Ok());
    EXPECT_EQ(Steps().back(), "release");
    EXPECT_EQ(Steps().size(), 4u);
}

}  // namespace
}  // namespace spindle
