// 8051 code download: Intel HEX and BIX files, and the built-in loaders.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

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

void Refuse(Platform& platform, DownloadResult& download, const char* step, const std::string& text) {
    ReportError(platform, text);
    download.result = 0;
    download.outcome.Fail(step);
    download.outcome.Met({text, kAnchorErrorTitle, mb::kOk});
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
                Refuse(platform_, download, "read the file",
                       StrPrintf("%s is larger than %zu bytes; it is not an 8051 program.\n", path.c_str(),
                                 kMaxHexFileBytes));
                return download;
            case BoundedRead::Missing:
            case BoundedRead::Failed: Refuse(platform_, download, "open the file", kOpenError); return download;
        }
        const HexParseResult parsed = ParseIntelHex(text, hexImage, false);
        if (!parsed.ok) {
            Refuse(platform_, download, "read the file",
                   StrPrintf("%s is not a usable Intel HEX file: %s. Nothing was sent to the device.\n", path.c_str(),
                             parsed.error.c_str()));
            return download;
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
                Refuse(platform_, download, "load the loader",
                       StrPrintf("%s holds code from 0x2000 up, which needs the built-in loader, and this build "
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
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            Refuse(platform_, download, "open the file", kOpenError);
            return download;
        }
        file.read(reinterpret_cast<char*>(downloadBuffer.data()), static_cast<std::streamsize>(kBixBytes));
        downloadLength = static_cast<std::uint32_t>(file.gcount());
        downloadAddress = 0;
        download.outcome.Append(RunOperation(anchorop::kResetHold));
        download.outcome.Append(RunOperation(anchorop::kAnchorDownload));
        download.outcome.Append(RunOperation(anchorop::kResetRelease));
        download.result = 1;
        download.bytes = downloadLength;
        if (download.outcome.Ok()) download.outcome.Done(StrPrintf("download %u bytes", downloadLength));
        return download;
    }
    Refuse(platform_, download, "choose a file", kWhichFile);
    return download;
}

}  // namespace spindle
