#include "device/IntelHex.h"

#include "platform/Format.h"

namespace spindle {

namespace {

constexpr std::size_t kPieceChars = 255;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte written as two hex digits at `column` of `piece`; -1 when the
// piece is too short there or the characters are not hex digits.
int ByteAt(std::string_view piece, std::size_t column) {
    if (column + 2 > piece.size()) return -1;
    const int high = HexDigit(piece[column]);
    const int low = HexDigit(piece[column + 1]);
    if (high < 0 || low < 0) return -1;
    return high * 16 + low;
}

struct Columns {
    std::size_t length, address, type, data;
};
constexpr Columns kStandard{1, 3, 7, 9};
constexpr Columns kSpaced{2, 5, 10, 13};

HexParseResult Refuse(IntelHexImage& image, HexParseResult result, int line, std::string why) {
    image.segments.clear();
    image.segmentCount = 0;
    result.ok = false;
    result.line = line;
    result.error = StrPrintf("line %d: %s", line, why.c_str());
    result.totalBytes = 0;
    return result;
}

// Counts the lines of `rest` (what follows the piece at which the reading
// stopped) and the records among them; blank lines at the end do not count.
void CountUnread(std::string_view rest, int line, HexParseResult& result) {
    result.stoppedAtLine = line;
    int lines = 0;
    int sinceLastText = 0;
    std::size_t at = 0;
    while (at < rest.size()) {
        std::size_t end = rest.find('\n', at);
        end = end == std::string_view::npos ? rest.size() : end + 1;
        const std::string_view text = rest.substr(at, end - at);
        at = end;
        ++lines;
        if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
            ++sinceLastText;
            continue;
        }
        sinceLastText = 0;
        if (text[0] == ':') ++result.recordsNotRead;
    }
    result.linesNotRead = lines - sinceLastText;
}

}  // namespace

HexParseResult ParseIntelHex(std::string_view text, IntelHexImage& image, bool spaced) {
    HexParseResult result;
    image.segments.clear();
    image.segmentCount = 0;
    if (image.memory.size() != IntelHexImage::kMemoryBytes) image.memory.assign(IntelHexImage::kMemoryBytes, 0);

    std::size_t position = 0;
    int line = 0;
    while (position < text.size()) {
        // One piece: through the line end, or 255 characters, whichever comes first.
        std::size_t end = position;
        while (end < text.size() && end - position < kPieceChars) {
            if (text[end++] == '\n') break;
        }
        const std::string_view piece = text.substr(position, end - position);
        position = end;
        ++line;
        if (piece.empty() || piece[0] != ':') {
            CountUnread(text.substr(position), line, result);
            break;
        }
        if (piece.size() > 1 && piece[1] == ' ') spaced = true;
        const Columns& at = spaced ? kSpaced : kStandard;

        const int length = ByteAt(piece, at.length);
        const int addressHigh = ByteAt(piece, at.address);
        const int addressLow = ByteAt(piece, at.address + 2);
        const int type = ByteAt(piece, at.type);
        if (length < 0 || addressHigh < 0 || addressLow < 0 || type < 0) {
            return Refuse(image, result, line, "not an Intel HEX record (its fields are not hex digits)");
        }
        // A record cut off by the 255-character piece, or just short.
        const bool cutOff = piece.size() == kPieceChars && piece.back() != '\n';
        // Every byte of the record, then its checksum: together they sum to 0.
        unsigned sum = static_cast<unsigned>(length + addressHigh + addressLow + type);
        for (int i = 0; i < length; ++i) {
            const std::size_t column = at.data + 2 * static_cast<std::size_t>(i);
            const int byte = ByteAt(piece, column);
            if (byte < 0 && column + 2 <= piece.size() && piece[column] != '\r' && piece[column] != '\n') {
                return Refuse(image, result, line, "not an Intel HEX record (its data are not hex digits)");
            }
            if (byte < 0) {
                return Refuse(image, result, line,
                              cutOff ? "the record does not fit in 255 characters"
                                     : StrPrintf("the record holds fewer than the %d data bytes its length says", length));
            }
            sum += static_cast<unsigned>(byte);
        }
        const int checksum = ByteAt(piece, at.data + 2 * static_cast<std::size_t>(length));
        if (checksum < 0) {
            return Refuse(image, result, line,
                          cutOff ? "the record does not fit in 255 characters" : "the record has no checksum");
        }
        if (((sum + static_cast<unsigned>(checksum)) & 0xFF) != 0) {
            return Refuse(image, result, line,
                          StrPrintf("the checksum is wrong (the record says %02X, its bytes give %02X)", checksum,
                                    (0x100 - (sum & 0xFF)) & 0xFF));
        }

        if (type == 1) {
            result.endRecordSeen = true;
            break;
        }
        if (type != 0) {
            if (type == 2 || type == 4) {
                if (result.extendedAddressRecords++ == 0) result.firstExtendedAddressLine = line;
            }
            continue;
        }

        const std::uint32_t address = static_cast<std::uint32_t>(addressHigh * 256 + addressLow);
        const auto n = static_cast<std::uint32_t>(length);
        // A data record without data places nothing: it makes no segment (and
        // so sends no empty request).
        if (n == 0) continue;
        if (address + n > IntelHexImage::kMemoryBytes) {
            return Refuse(image, result, line,
                          StrPrintf("the record of %u bytes at 0x%04X runs past address 0xFFFF", n, address));
        }
        {
            HexSegment* last = image.segments.empty() ? nullptr : &image.segments.back();
            if (last != nullptr && last->address + last->length == address &&
                last->length + n <= IntelHexImage::kMaxSegmentBytes) {
                last->length += n;
            } else {
                if (image.segments.size() == IntelHexImage::kMaxSegments) {
                    return Refuse(image, result, line,
                                  StrPrintf("the file needs more than %u segments", IntelHexImage::kMaxSegments));
                }
                image.segments.push_back({address, n, address});
                image.segmentCount = static_cast<std::uint32_t>(image.segments.size());
            }
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            image.memory[address + i] =
                static_cast<std::uint8_t>(ByteAt(piece, at.data + 2 * static_cast<std::size_t>(i)));
        }
        result.totalBytes += n;
    }
    return result;
}

}  // namespace spindle
