#include "programming/FpgaProgramming.h"

#include <algorithm>
#include <cstring>

#include "device/Anchor.h"
#include "device/ScopedDevice.h"
#include "device/EzusbDevice.h"
#include "device/Families.h"
#include "device/LoaderImages.h"
#include "platform/Clock.h"
#include "platform/DataFolder.h"
#include "platform/Format.h"
#include "programming/WorkerUserInterface.h"
#include "programming/XsvfFile.h"
#include "player_status.h"
#include "xsvf_opcodes.h"

namespace spindle {

namespace {

constexpr std::uint32_t kRequestPipe = 0;
constexpr std::uint32_t kReplyPipe = 3;
constexpr std::uint32_t kPacketData = 62;
constexpr std::uint32_t kBusy = 0xFFFF;
constexpr std::uint32_t kEnd = 0xBEEF;
constexpr std::uint32_t kNearlyFullMargin = 120;
constexpr std::uint32_t kDrained = 10000;
constexpr std::uint32_t kLow = 2048;

unsigned long long Ull(std::uint64_t value) { return static_cast<unsigned long long>(value); }

// What each error the player's status block can name says of the command it
// stopped in (its name, then its offset in the stream, which is the file's).
struct PlayerErrorText {
    std::uint8_t error;
    const char* format;
};
constexpr PlayerErrorText kPlayerErrors[] = {
    {PLAYER_ERR_TDO_MISMATCH, "%s at byte %u failed its TDO check"},
    {PLAYER_ERR_UNKNOWN_COMMAND, "%s at byte %u is not a command the player knows"},
    {PLAYER_ERR_TRUNCATED, "%s at byte %u was cut off by the end of the stream"},
    {PLAYER_ERR_VECTOR_TOO_LONG, "%s at byte %u needs a vector longer than the player can hold"},
    {PLAYER_ERR_BAD_PACKET, "a stream packet of a wrong length came during the %s at byte %u"},
    {PLAYER_ERR_OVERFLOW, "more data came than the player had room for during the %s at byte %u"},
    {PLAYER_ERR_BAD_STATE, "%s at byte %u names a TAP state or length the player cannot take"},
};

// Why the player stopped, from its status block in the 8051's RAM ("XSDR at
// byte 120 failed its TDO check"); empty when the block cannot be read or
// names no error.
std::string PlayerFailure(Platform& platform, std::uint32_t deviceIndex) {
    CAnchor anchor(platform);
    anchor.deviceName = StrPrintf("Ezusb-%u", deviceIndex);
    const std::vector<std::uint8_t> block = anchor.UploadRam(PLAYER_STATUS_ADDR, PLAYER_STATUS_SIZE);
    if (block.size() != PLAYER_STATUS_SIZE || block[PS_MAGIC0] != 'X' || block[PS_MAGIC1] != 'P' ||
        block[PS_STATE] != PLAYER_FAILED) {
        return {};
    }
    const auto text = std::find_if(std::begin(kPlayerErrors), std::end(kPlayerErrors),
                                   [&](const PlayerErrorText& t) { return t.error == block[PS_ERROR]; });
    if (text == std::end(kPlayerErrors)) return {};
    const std::uint8_t command = block[PS_COMMAND];
    const unsigned offset = static_cast<unsigned>(block[PS_OFFSET] | block[PS_OFFSET + 1] << 8 |
                                                  block[PS_OFFSET + 2] << 16) |
                            static_cast<unsigned>(block[PS_OFFSET + 3]) << 24;
    // Between commands the player names none (XCOMPLETE's number): the
    // stream ended where the next command should have begun.
    if (text->error == PLAYER_ERR_TRUNCATED && command == XCOMPLETE) {
        return StrPrintf("the stream ended at byte %u without XCOMPLETE", offset);
    }
    const char* known = XsvfCommandName(command);
    const std::string name = *known != '\0' ? std::string(known) : StrPrintf("command 0x%02X", command);
    return StrPrintf(text->format, name.c_str(), offset);
}

// The host's side of one stream: the bulk calls with their failure count
// (each failure shows its warning; a job's result folds the repeats into one
// box with their count), and the last reply held.
class StreamLink {
public:
    StreamLink(Platform& platform, DeviceHandle handle, XsvfStream& stream)
        : platform_(platform), handle_(handle), stream_(stream) {}

    bool Send(const std::uint8_t* data, std::uint32_t length) {
        const bool ok = BulkOut(platform_, handle_, kRequestPipe, data, length, true);
        if (!ok) Failed(failedWrites);
        return ok;
    }
    bool Send(std::initializer_list<std::uint8_t> bytes) {
        return Send(bytes.begin(), static_cast<std::uint32_t>(bytes.size()));
    }
    // Reads one reply into `reply`; a failed read (or one that delivers
    // nothing) leaves the last value.
    void Receive() {
        std::uint8_t bytes[2] = {static_cast<std::uint8_t>(reply & 0xFF), static_cast<std::uint8_t>(reply >> 8)};
        if (BulkIn(platform_, handle_, kReplyPipe, bytes, 2, true)) {
            reply = static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8);
        } else {
            Failed(failedReads);
        }
    }

    std::uint32_t reply = 0;
    std::uint32_t failedWrites = 0;
    std::uint32_t failedReads = 0;

private:
    void Failed(std::uint32_t& count) {
        ++count;
        ++stream_.failedTransfers;
    }

    Platform& platform_;
    DeviceHandle handle_;
    XsvfStream& stream_;
};

}  // namespace

std::string FpgaPlayerPath(const std::string& applicationPath) {
    if (applicationPath.empty()) return ProgramDataFile(kFpgaPlayerFileName);
    return StrPrintf("%s/%s", applicationPath.c_str(), kFpgaPlayerFileName);
}

std::uint64_t ExpectedStreamMs(std::uint64_t fileSize) {
    return ((fileSize + kPacketData - 1) / kPacketData + 4) * kBulkWritePauseMs;
}

int EstimateFpgaSeconds(std::uint64_t fileSize) {
    const std::uint64_t ms = kFpgaPlayerStartMs + ExpectedStreamMs(fileSize) + kFpgaSettleMs;
    return static_cast<int>(std::min<std::uint64_t>((ms + 999) / 1000, 0x7FFFFFFF));
}

Outcome LoadFpgaPlayer(Platform& platform, std::uint32_t deviceIndex, const std::string& playerPath) {
    Outcome load;
    CAnchor anchor(platform);
    DeviceHandle handle = kNullHandle;
    if (!anchor.OpenByName(handle, StrPrintf("Ezusb-%u", deviceIndex))) {
        load.Fail(OpenFailureText(platform, deviceIndex) + ", so the FPGA player was not loaded and nothing was sent");
        return load;
    }
    anchor.chipMode = kFpgaPlayerChipMode;
    anchor.highMemoryLoader = EepromLoaderFor(ChipGeneration::Fx2);
    const DownloadResult download = anchor.DownloadFile(playerPath);
    load.Take(download.outcome);
    if (download.result != 1) {
        load.Show({"Unable to open RaptorFPGA File", kAppTitle, mb::kOk});
        load.Fail(StrPrintf("the FPGA player %s could not be loaded, so nothing was sent", playerPath.c_str()));
    } else if (!download.outcome.Ok()) {
        load.Fail("downloading the FPGA player into the device failed, so nothing was sent");
    } else {
        load.Done(StrPrintf("load the FPGA player (%u bytes)", download.bytes));
    }
    CloseDevice(platform, handle);
    return load;
}

XsvfStream PlayXsvf(Platform& platform, std::uint32_t deviceIndex, const std::string& xsvfName,
                    const std::string& xsvf, JobEntry& entry, const XsvfPollLimits& limits) {
    XsvfStream stream;
    DeviceHandle handle = kNullHandle;
    if (!OpenDeviceByIndex(platform, static_cast<int>(deviceIndex), handle)) {
        stream.outcome.Fail(StrPrintf("device %u could not be opened, so nothing was sent", deviceIndex));
        return stream;
    }
    stream.deviceOpened = true;
    StreamLink link(platform, handle, stream);
    link.Send({0x37, 0x00});
    link.Send({0x32});
    link.Receive();
    stream.bufferSize = link.reply;
    stream.fileSize = xsvf.size();
    entry.Enter(JobPhase::Streaming, static_cast<std::uint32_t>(std::min<std::uint64_t>(stream.fileSize, 0xFFFFFFFFu)));

    // K below 120 wraps the threshold round to near 2^32: never reached.
    const std::uint32_t nearlyFull = stream.bufferSize - kNearlyFullMargin;
    IClock& clock = platform.clock;
    // Reads replies while `waiting` holds, up to the limits; false (the
    // device stopped answering) when they were reached first.
    const auto poll = [&](auto waiting) {
        const std::uint64_t since = clock.NowMs();
        std::uint64_t last = since;
        std::uint32_t still = 0;
        while (waiting(link.reply)) {
            const std::uint64_t now = clock.NowMs();
            still = now == last ? still + 1 : 0;
            last = now;
            if (now - since >= limits.boundMs || still > limits.stillPolls) {
                stream.stoppedAnswering = true;
                return false;
            }
            link.Receive();
        }
        return true;
    };

    bool started = false;
    bool ended = false;  // 0xBEEF
    bool atEnd = false;  // a read met the end of the file
    bool stopped = false;  // a polling loop reached its bound
    std::uint32_t n = 0;
    std::uint8_t packet[2 + kPacketData];
    while (!atEnd) {
        if (entry.StopAsked()) {
            stream.stoppedOnRequest = true;
            break;
        }
        n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPacketData, stream.fileSize - stream.bytesSent));
        std::memcpy(packet + 2, xsvf.data() + stream.bytesSent, n);
        atEnd = n < kPacketData;  // a read meets the end: this is the last packet
        packet[0] = 0x33;
        packet[1] = static_cast<std::uint8_t>(n + 2);
        link.Send(packet, n + 2);
        ++stream.packets;
        stream.bytesSent += n;
        entry.Advance(n);

        link.Receive();
        if (link.reply == kEnd) {
            ended = true;
            break;
        }
        if (link.reply >= nearlyFull) {
            link.Send({0x36, 0x00});
            if (!started) {
                started = true;
                link.Send({0x0E});
            }
            if (!poll([](std::uint32_t s) { return s >= kDrained && s != kEnd; })) {
                stopped = true;
                break;
            }
            if (link.reply == kEnd) {
                ended = true;
                break;
            }
        } else if (started && link.reply <= kLow) {
            link.Send({0x36, 0x01});
        }
        if (!poll([](std::uint32_t s) { return s == kBusy; })) {
            stopped = true;
            break;
        }
        if (link.reply == kEnd) {
            ended = true;
            break;
        }
    }
    // The player answers an empty packet only once it has executed every
    // command it holds, with its verdict. A file whose size is a multiple
    // of 62 ends with one; any other ends with data, whose failing check
    // would otherwise never be heard: the empty packet is sent after it.
    if (atEnd && !ended && !stopped && n > 0) {
        link.Send({0x33, 0x02});
        ++stream.packets;
        link.Receive();
        if (poll([](std::uint32_t s) { return s == kBusy; }) && link.reply == kEnd) ended = true;
    }
    stream.lastReply = link.reply;
    if (ended) stream.playerFailure = PlayerFailure(platform, deviceIndex);
    if (ended && !atEnd) stream.endedEarly = true;
    if (ended && atEnd) stream.failedAtEnd = true;
    stream.returned = 1;

    // The bar full: the countdown shows "***WAIT FOR PROMPT***" during the wait.
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(stream.fileSize, 0xFFFFFFFFu));
    entry.Enter(JobPhase::Settling, size, size);
    if (!stream.stoppedOnRequest) clock.Sleep(kFpgaSettleMs);
    CloseDevice(platform, handle);

    if (stream.stoppedOnRequest) {
        stream.outcome.Stop(StrPrintf("stopped on request after %llu of the file's %llu bytes had been sent; "
                                            "the FPGA is not configured",
                                            Ull(stream.bytesSent), Ull(stream.fileSize)));
    } else if (stream.endedEarly) {
        stream.outcome.Fail(StrPrintf("the device ended the stream early, after taking %llu of the file's %llu bytes",
                                      Ull(stream.bytesSent), Ull(stream.fileSize)) +
                            (stream.playerFailure.empty() ? "" : ": " + stream.playerFailure));
    } else if (stream.failedAtEnd) {
        stream.outcome.Fail(StrPrintf(
            "the device took the whole file (%llu bytes), but its player failed a check at the end (0xBEEF): %s%s"
            "the FPGA is not configured",
            Ull(stream.fileSize), stream.playerFailure.c_str(), stream.playerFailure.empty() ? "" : "; "));
    } else if (stream.stoppedAnswering) {
        stream.outcome.Fail(StrPrintf(
            "the device stopped answering after %llu of the file's %llu bytes had been sent",
            Ull(stream.bytesSent), Ull(stream.fileSize)));
    }
    if (link.failedWrites > 0 || link.failedReads > 0) {
        stream.outcome.Fail(StrPrintf("%u of the stream's USB writes and %u of its reads failed (%u packets sent)",
                                            link.failedWrites, link.failedReads, stream.packets));
    }
    if (stream.outcome.Ok()) {
        stream.outcome.Done(StrPrintf("stream %llu bytes of %s in %u packets", Ull(stream.fileSize), xsvfName.c_str(),
                                      stream.packets));
    }
    return stream;
}

JobResult ProgramFpga(Platform& platform, const FpgaJobRequest& request, JobEntry& entry) {
    // The boxes the device layer shows are kept for the job's result.
    CWorkerUserInterface boxes;
    Platform ports{platform.driver, platform.clock, platform.trace, boxes};
    JobResult result;
    const auto finish = [&]() -> JobResult {
        boxes.KeepIn(result.outcome);
        return result;
    };

    // The device stays open for the whole job, the player's start-up wait
    // included, so no other program takes it in between.
    entry.Enter(JobPhase::Player, 0);
    const ScopedDevice held(ports, static_cast<int>(request.deviceIndex));
    result.outcome = LoadFpgaPlayer(ports, request.deviceIndex, request.playerPath);
    if (!result.Ok()) return finish();
    platform.clock.Sleep(kFpgaPlayerStartMs);

    static const std::string kNoBytes;
    const XsvfStream stream = PlayXsvf(ports, request.deviceIndex, request.xsvfPath,
                                       request.xsvf ? *request.xsvf : kNoBytes, entry, request.limits);
    result.outcome.Append(stream.outcome);
    result.bytesWritten = static_cast<std::uint32_t>(std::min<std::uint64_t>(stream.bytesSent, 0xFFFFFFFFu));
    return finish();
}

}  // namespace spindle
