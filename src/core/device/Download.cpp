// 8051 code download: Intel HEX and BIX files, and the built-in loaders.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "device/Anchor.h"
#include "device/EzusbDevice.h"
#include "platform/BoundedFile.h"
#include "platform/Format.h"
#include "platform/UserInterface.h"

namespace spindle {

namespace {

constexpr const char* kOpenError = "Error opening Input file.\n";
constexpr const char* kWhichFile = "Please select .hex or .bix file to download.\n";
constexpr std::uint32_t kHighMemory = 0x2000;
constexpr std::size_t kBixBytes = 8192;

// A file that is not sent: the text goes to the debug trace and into the
// outcome, as the refusal and as its box for the caller to show.
void Refuse(Platform& platform, DownloadResult& download, const std::string& text) {
    TraceLine(platform, text);
    download.result = 0;
    download.outcome.Refuse(text);
    download.outcome.Show({text, kAnchorErrorTitle, mb::kOk});
}

std::string NotAFile(const std::string& path) {
    return StrPrintf("%s: %s. Nothing was sent to the device.\n", path.c_str(), BoundedReadProblem(BoundedRead::NotAFile));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

Outcome CAnchor::DownloadLoaderImage(const LoaderRecord* loader) {
    Outcome outcome;
    outcome.Append(RunOperation(anchorop::kResetHold));
    bool pending = false;
    for (const LoaderRecord* record = loader; record != nullptr && record->type == 0; ++record) {
        const std::uint32_t length = std::min<std::uint32_t>(record->length, 4096);
        if (pending && record->address == downloadAddress + downloadLength && downloadLength + length <= 4096) {
            std::memcpy(downloadBuffer.data() + downloadLength, record->data, length);
            downloadLength += length;
            continue;
        }
        if (pending) outcome.Append(RunOperation(anchorop::kAnchorDownload));
        std::memcpy(downloadBuffer.data(), record->data, length);
        downloadLength = length;
        downloadAddress = record->address;
        pending = true;
    }
    if (pending) outcome.Append(RunOperation(anchorop::kAnchorDownload));
    outcome.Append(RunOperation(anchorop::kResetRelease));
    if (outcome.Ok()) outcome.Done("download the loader");
    return outcome;
}

DownloadResult CAnchor::DownloadFile(const std::string& path) {
    DownloadResult download;
    const std::string lower = Lower(path);
    if (lower.find(".hex") != std::string::npos) {
        std::string text;
        switch (ReadFileBounded(path, kMaxHexFileBytes, text)) {
            case BoundedRead::Ok: break;
            case BoundedRead::TooLarge:
                Refuse(platform_, download, StrPrintf("%s is larger than %zu bytes; it is not an 8051 program.\n", path.c_str(),
                                 kMaxHexFileBytes));
                return download;
            case BoundedRead::NotAFile: Refuse(platform_, download, NotAFile(path)); return download;
            case BoundedRead::Missing:
            case BoundedRead::Failed: Refuse(platform_, download, kOpenError); return download;
        }
        const HexParseResult parsed = ParseIntelHex(text, hexImage, false);
        if (!parsed.ok) {
            Refuse(platform_, download, StrPrintf("%s is not a usable Intel HEX file: %s. Nothing was sent to the device.\n", path.c_str(),
                             parsed.error.c_str()));
            return download;
        }
        // Nothing to send would only reset the 8051 into whatever its RAM
        // holds, reported as a download.
        if (hexImage.segments.empty()) {
            Refuse(platform_, download, StrPrintf("%s holds no Intel HEX data record. Nothing was sent to the device.\n", path.c_str()));
            return download;
        }
        // The reading stops at a line that is not a record; records after it
        // are not read. That is the reader's rule, but a file that goes on
        // is asked about rather than downloaded half without a word.
        if (parsed.recordsNotRead > 0) {
            const std::string question = StrPrintf(
                "%s: the reading stopped at line %d, which is not a record; the %d lines after it (%d of them "
                "records) were not read.\n\nDownload the %u bytes read before it?",
                path.c_str(), parsed.stoppedAtLine, parsed.linesNotRead, parsed.recordsNotRead, parsed.totalBytes);
            // Asked now: the answer decides what is sent.
            if (platform_.ui.MessageBox(question, kAppTitle, mb::kYesNo | mb::kIconWarning) != mb::kIdYes) {
                download.outcome.Refuse(StrPrintf("%s was read only in part, and not downloaded", path.c_str()));
                return download;
            }
        }
        if (parsed.extendedAddressRecords > 0) {
            TraceLine(platform_, StrPrintf("%s: %d extended address records (type 2 or 4, first on line %d) "
                                           "ignored; data placed by its 16-bit address\n",
                                           path.c_str(), parsed.extendedAddressRecords,
                                           parsed.firstExtendedAddressLine));
        }
        const auto high = [](const HexSegment& segment) { return segment.address >= kHighMemory; };
        const bool anyHigh = std::any_of(hexImage.segments.begin(), hexImage.segments.end(), high);
        if (anyHigh) {
            if (highMemoryLoader == nullptr) {
                Refuse(platform_, download, StrPrintf("%s holds code from 0x2000 up, which needs the built-in loader, and this build "
                                 "has none. Nothing was sent to the device.\n",
                                 path.c_str()));
                return download;
            }
            download.outcome.Append(DownloadLoaderImage(highMemoryLoader));
            for (const HexSegment& segment : hexImage.segments) {
                if (!high(segment)) continue;
                download.highBytes += segment.length;
                std::memcpy(requestBuffer.data(), hexImage.Bytes(segment), segment.length);
                requestNumber = 0xA3;
                requestValue = segment.address;
                requestLength = segment.length;
                requestDirection = 0;
                download.outcome.Append(RunOperation(anchorop::kVendorRequest));
            }
        }
        download.outcome.Append(RunOperation(anchorop::kResetHold));
        for (const HexSegment& segment : hexImage.segments) {
            if (high(segment)) continue;
            std::memcpy(downloadBuffer.data(), hexImage.Bytes(segment), segment.length);
            downloadLength = segment.length;
            downloadAddress = segment.address;
            download.outcome.Append(RunOperation(anchorop::kAnchorDownload));
        }
        download.outcome.Append(RunOperation(anchorop::kResetRelease));
        download.result = 1;
        download.segments = hexImage.segmentCount;
        for (const HexSegment& segment : hexImage.segments) download.bytes += segment.length;
        if (download.outcome.Ok()) {
            download.outcome.Done(StrPrintf("download %u bytes in %u segments", download.bytes, download.segments));
        }
        return download;
    }
    if (lower.find(".bix") != std::string::npos) {
        std::string bytes;
        const BoundedRead read = ReadFileBounded(path, kMaxHexFileBytes, bytes);
        if (read == BoundedRead::NotAFile) {
            Refuse(platform_, download, NotAFile(path));
            return download;
        }
        if (read == BoundedRead::TooLarge) {
            Refuse(platform_, download, StrPrintf("%s is larger than %zu bytes; it is not an 8051 program.\n", path.c_str(), kMaxHexFileBytes));
            return download;
        }
        if (read != BoundedRead::Ok) {
            Refuse(platform_, download, kOpenError);
            return download;
        }
        if (bytes.empty()) {
            Refuse(platform_, download, StrPrintf("%s is empty. Nothing was sent to the device.\n", path.c_str()));
            return download;
        }
        // Only the first 8192 bytes are a BIX program; the rest is not sent,
        // and the operator hears so.
        if (bytes.size() > kBixBytes) {
            const std::string note = StrPrintf("%s is %zu bytes long; only its first %zu bytes were sent.\n",
                                               path.c_str(), bytes.size(), kBixBytes);
            TraceLine(platform_, note);
            download.outcome.Show({note, kAppTitle, mb::kOk | mb::kIconWarning});
            download.cutBytes = static_cast<std::uint32_t>(bytes.size() - kBixBytes);
        }
        downloadLength = static_cast<std::uint32_t>(std::min(bytes.size(), kBixBytes));
        std::memcpy(downloadBuffer.data(), bytes.data(), downloadLength);
        downloadAddress = 0;
        download.outcome.Append(RunOperation(anchorop::kResetHold));
        download.outcome.Append(RunOperation(anchorop::kAnchorDownload));
        download.outcome.Append(RunOperation(anchorop::kResetRelease));
        download.result = 1;
        download.bytes = downloadLength;
        if (download.outcome.Ok()) download.outcome.Done(StrPrintf("download %u bytes", downloadLength));
        return download;
    }
    Refuse(platform_, download, kWhichFile);
    return download;
}

}  // namespace spindle
