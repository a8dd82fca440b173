#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace spindle {

// A run of bytes that arrived in consecutive data records, each starting
// where the previous one ended.
struct HexSegment {
    std::uint32_t address = 0;       // 8051 address of the first byte
    std::uint32_t length = 0;        // at most kMaxSegmentBytes
    std::uint32_t dataPosition = 0;  // where the first byte lies in the memory image (= address)
};

// An 8051 program as read from an Intel HEX file: one byte per address, and
// the segments that say which bytes were given, in the order they were made.
struct IntelHexImage {
    static constexpr std::size_t kMemoryBytes = 65536;
    static constexpr std::uint32_t kMaxSegments = 4096;
    static constexpr std::uint32_t kMaxSegmentBytes = 4096;

    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(kMemoryBytes, 0);
    std::uint32_t segmentCount = 0;
    std::vector<HexSegment> segments;

    // The bytes of one segment.
    const std::uint8_t* Bytes(const HexSegment& segment) const { return memory.data() + segment.dataPosition; }
};

// What reading a file came to. A refused file (ok false) names the line
// (counting from 1) and why; the image then holds nothing to send.
struct HexParseResult {
    bool ok = true;
    int line = 0;
    std::string error;
    std::uint32_t totalBytes = 0;         // data bytes stored
    int extendedAddressRecords = 0;       // type 2 and 4 records, ignored
    int firstExtendedAddressLine = 0;
    bool endRecordSeen = false;           // reading ended at a type-1 record
    // When the reading stopped at a piece that is not a record: its line,
    // the lines after it, and how many of those are records (begin with ':').
    int stoppedAtLine = 0;
    int linesNotRead = 0;
    int recordsNotRead = 0;
};

// Reads Intel HEX text into `image`. Lines are read in pieces of at most 255
// characters (line end included), each piece counting as a line; the reading
// stops at a type-1 record, at a piece that does not begin with ':' (an empty
// line, the rest of an overlong line) or at the end of the text, keeping what
// was read. Two column layouts are read: the standard one and the spaced one
// (a blank after the ':' and after each of the first three fields); a line
// with a blank after its ':' switches to the spaced layout for itself and
// every later line, and so does `spaced`.
//
// Data records merge into the last segment when they continue it and the
// segment stays within 4096 bytes; otherwise they start a new one. Records
// that overlap overwrite earlier bytes; segments are never sorted. Records
// of other types than 0 and 1 (type 2 and 4 extended addresses included)
// are skipped: data is placed by its 16-bit address alone.
//
// Refused, with the line named and the image emptied: a record whose bytes
// would run past address 0xFFFF, a file needing more than 4096 segments, a
// record whose checksum is wrong, and a record whose fields are not hex
// digits or do not fit on its line.
HexParseResult ParseIntelHex(std::string_view text, IntelHexImage& image, bool spaced);

}  // namespace spindle
