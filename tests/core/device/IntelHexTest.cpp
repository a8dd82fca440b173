#include "device/IntelHex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Format.h"
#include "support/HexRecord.h"

namespace spindle {
namespace {

std::string Record(std::uint32_t address, const std::vector<std::uint8_t>& bytes, int type = 0) {
    return test::HexRecord(address, bytes, type);
}

std::vector<std::uint8_t> Counting(std::size_t n, std::uint8_t start = 0) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(start + i);
    return bytes;
}

const std::string kEnd = ":00000001FF\r\n";

TEST(IntelHex, ContiguousRecordsMergeUpTo4096BytesAndAreNeverSorted) {
    IntelHexImage image;
    HexParseResult parsed = ParseIntelHex(Record(0x0000, Counting(16)) + Record(0x0010, Counting(16, 16)) +
                                              Record(0x0030, Counting(16)) + kEnd,
                                          image, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_TRUE(parsed.endRecordSeen);
    ASSERT_EQ(image.segmentCount, 2u);
    EXPECT_EQ(image.segments[0].address, 0u);
    EXPECT_EQ(image.segments[0].length, 32u);
    EXPECT_EQ(image.segments[1].address, 0x30u);
    EXPECT_EQ(image.memory[0x1F], 31);

    // 257 records of 16 bytes: a full 4096-byte segment, then one at 0x1000.
    std::string text;
    for (int i = 0; i < 257; ++i) text += Record(static_cast<std::uint32_t>(16 * i), Counting(16));
    parsed = ParseIntelHex(text + kEnd, image, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(image.segmentCount, 2u);
    EXPECT_EQ(image.segments[0].length, 4096u);
    EXPECT_EQ(image.segments[1].address, 0x1000u);
    EXPECT_EQ(image.segments[1].length, 16u);

    // A record continuing an earlier segment (not the last) starts a new
    // one; overlapping records overwrite the earlier bytes.
    parsed = ParseIntelHex(Record(0x100, Counting(8)) + Record(0x200, Counting(8)) + Record(0x108, {0xAA}) +
                               Record(0x200, {0x55}) + kEnd,
                           image, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(image.segmentCount, 4u);
    EXPECT_EQ(image.segments[2].address, 0x108u);
    EXPECT_EQ(image.segments[3].address, 0x200u);
    EXPECT_EQ(image.memory[0x200], 0x55);

    // A data record without data makes no empty segment (nor an empty
    // request), and what follows it still merges with what came before.
    parsed = ParseIntelHex(Record(0x40, Counting(4)) + Record(0x80, {}) + Record(0x44, Counting(4)) + kEnd, image,
                           false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(image.segmentCount, 1u);
    EXPECT_EQ(image.segments[0].length, 8u);
}

TEST(IntelHex, LayoutsAndLineEndings) {
    IntelHexImage image;
    // The spaced layout from the second line on: it stays for every later line.
    const std::string spaced1 = ": 02 0012 00 ABCD74\r\n";  // 02+00+12+00+AB+CD = 0x18C -> 74
    unsigned sum = 0x01 + 0x00 + 0x14 + 0x00 + 0xEE;
    const std::string second = StrPrintf(": 01 0014 00 EE%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    HexParseResult parsed =
        ParseIntelHex(Record(0x10, {1, 2}) + spaced1 + second + ": 00 0000 01 FF\r\n", image, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_TRUE(parsed.endRecordSeen);
    ASSERT_EQ(image.segmentCount, 1u);  // 0x10..0x14 continue one another
    EXPECT_EQ(image.segments[0].length, 5u);
    EXPECT_EQ(image.memory[0x12], 0xAB);
    EXPECT_EQ(image.memory[0x14], 0xEE);

    // 121 data bytes with CR LF make 255 characters: read whole. 122 bytes
    // leave their line end for the next piece, which ends the reading.
    std::string whole = Record(0x0, Counting(121));
    ASSERT_EQ(whole.size(), 255u);
    parsed = ParseIntelHex(whole + Record(0x79, {7}) + kEnd, image, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(image.segments[0].length, 122u);
    parsed = ParseIntelHex(Record(0x0, Counting(122)) + Record(0x7A, {7}) + kEnd, image, false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_FALSE(parsed.endRecordSeen);
    EXPECT_EQ(image.segments[0].length, 122u);

    // The end of the text before the end record keeps what was read.
    parsed = ParseIntelHex(Record(0x40, {1, 2, 3}), image, false);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(image.segments[0].length, 3u);
}

TEST(IntelHex, ExtendedAddressRecordsAreCountedAndIgnored) {
    IntelHexImage image;
    const HexParseResult parsed =
        ParseIntelHex(Record(0x0, {0x10, 0x00}, 2) + Record(0x0, {0x00, 0x01}, 4) + Record(0x20, {9}) + kEnd, image,
                      false);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.extendedAddressRecords, 2);
    EXPECT_EQ(parsed.firstExtendedAddressLine, 1);
    ASSERT_EQ(image.segmentCount, 1u);
    EXPECT_EQ(image.segments[0].address, 0x20u);  // placed by its 16-bit address alone
}

TEST(IntelHex, FilesThatCannotBePlacedSafelyAreRefusedWithTheirLine) {
    IntelHexImage image;
    struct Case {
        std::string text;
        int line;
        const char* reason;
    };
    std::string wrongSum = Record(0x10, {1, 2, 3});
    wrongSum[wrongSum.size() - 3] = wrongSum[wrongSum.size() - 3] == '0' ? '1' : '0';
    std::string tooMany;
    for (int i = 0; i < 4097; ++i) tooMany += Record(static_cast<std::uint32_t>(2 * i), {1});
    const std::vector<Case> cases = {
        {Record(0x0, {1}) + Record(0xFFF8, Counting(16)) + kEnd, 2, "runs past address 0xFFFF"},
        {Record(0x0, {1}) + wrongSum + kEnd, 2, "checksum is wrong"},
        {tooMany + kEnd, 4097, "more than 4096 segments"},
        {":10000000GG\r\n", 1, "not hex digits"},
        {":0400000001\r\n", 1, "fewer than the 4 data bytes"},
        {":02000000AABB\r\n", 1, "no checksum"},
    };
    for (const Case& c : cases) {
        const HexParseResult parsed = ParseIntelHex(c.text, image, false);
        EXPECT_FALSE(parsed.ok) << c.reason;
        EXPECT_EQ(parsed.line, c.line) << c.reason;
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << parsed.error;
        EXPECT_EQ(parsed.error.rfind(StrPrintf("line %d: ", c.line), 0), 0u) << parsed.error;
        EXPECT_EQ(image.segmentCount, 0u) << "nothing to send: " << c.reason;
        EXPECT_TRUE(image.segments.empty());
    }
}

}  // namespace
}  // namespace spindle
