#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Outcome.h"
#include "platform/Platform.h"
#include "programming/JobTable.h"

namespace spindle {

inline constexpr const char* kFpgaPlayerFileName = "RaptorFPGA.hex";
// The player is an FX2 program: downloaded with this family's chip
// generation (CPUCS 0xE600) whatever the device's own family.
inline constexpr int kFpgaPlayerChipMode = 10;
// Pauses of an FPGA job: for the player to start after its download, and
// for the device to finish after the last packet.
inline constexpr std::uint32_t kFpgaPlayerStartMs = 5000;
inline constexpr std::uint32_t kFpgaSettleMs = 10000;

// Where the FPGA player is loaded from: "RaptorFPGA.hex" in the application
// folder, or, when no application folder is set, in the program's data
// folder, where the build and the package put the one we ship.
std::string FpgaPlayerPath(const std::string& applicationPath);

// The expected time of a stream: the pause after every packet (62 file
// bytes each, the closing empty one and three control packets).
std::uint64_t ExpectedStreamMs(std::uint64_t fileSize);
// The estimated length of an FPGA job in whole seconds, rounded up: the
// player's start-up wait, the stream, and the wait after it.
int EstimateFpgaSeconds(std::uint64_t fileSize);

// Opens "Ezusb-<index>" with a CAnchor of its own and downloads the player
// into the 8051's RAM (held in reset meanwhile, released after). When the
// device cannot be opened nothing is downloaded (the anchor would address
// its previous device); when the file cannot be loaded the box "Unable to
// open RaptorFPGA File" is the box the outcome holds for the caller to
// show. Either is a failure.
Outcome LoadFpgaPlayer(Platform& platform, std::uint32_t deviceIndex, const std::string& playerPath);

// How long the host keeps polling a device that answers "busy" (0xFFFF) or
// reports a full buffer without taking anything, before it gives up. The
// time bound ends it on a real clock. A clock that does not move while the
// host waits (a virtual one, in tests and on the simulated bench) would
// never reach it: there the loop ends after `stillPolls` replies in a row
// during which the clock did not move (a real clock moves within a few).
struct XsvfPollLimits {
    std::uint32_t boundMs = 120000;
    std::uint32_t stillPolls = 600;
};

// What streaming an XSVF file came to.
struct XsvfStream {
    int returned = 0;            // 1 when the file was streamed, 0 when it could not be opened
    bool deviceOpened = false;
    std::uint32_t bufferSize = 0;  // K, as the device reported it
    std::uint64_t fileSize = 0;
    std::uint64_t bytesSent = 0;   // file bytes in the packets sent before the stream ended
    std::uint32_t packets = 0;
    std::uint32_t lastReply = 0;  // the device's answer when the stream ended
    std::uint32_t failedTransfers = 0;  // bulk writes and reads that failed
    bool endedEarly = false;        // 0xBEEF before the whole file was sent
    bool failedAtEnd = false;       // the whole file sent, and 0xBEEF to its last packet
    bool stoppedAnswering = false;  // a polling loop reached its bound
    bool stoppedOnRequest = false;  // the job was asked to stop (JobEntry::stop)
    // After 0xBEEF: what the player's status block says stopped it, as the
    // operator reads it ("XSDR at byte 120 failed its TDO check"); empty
    // when the block could not be read.
    std::string playerFailure;
    Outcome outcome;
};

// Streams the XSVF program `xsvf` (the bytes of the file `xsvfName`) to the player running in device `deviceIndex`: the
// opening 0x37 0x00, 0x32 for the buffer size K, the file unchanged in
// packets 0x33, n + 2, data (n up to 62, an empty one where a read meets the
// end), each answered by the fill level; 0x36 0x00 (and once 0x0E) when the
// level reaches K - 120, then polling while it stays at 10000 or above;
// 0x36 0x01 when it falls to 2048 after streaming started; polling while the
// device answers 0xFFFF; 0xBEEF ends the stream. Then the 10 s wait.
// Progress goes to `entry` (total: the file size; done: the bytes sent).
// Every failure of a bulk call is counted and shows its warning.
XsvfStream PlayXsvf(Platform& platform, std::uint32_t deviceIndex, const std::string& xsvfName,
                    const std::string& xsvf, JobEntry& entry, const XsvfPollLimits& limits = {});

// One FPGA job as the frame starts it.
struct FpgaJobRequest {
    std::uint32_t deviceIndex = 0;
    std::string playerPath;  // RaptorFPGA.hex to load
    std::string xsvfPath;
    std::shared_ptr<const std::string> xsvf;  // the file's bytes, read once when the job was started
    XsvfPollLimits limits;
};

// The whole job on its worker: the player loaded, the 5 s for it to start,
// the stream. Stops at a player that could not be loaded. `ok` only when the
// whole file was sent and the device took it to the end without an error.
JobResult ProgramFpga(Platform& platform, const FpgaJobRequest& request, JobEntry& entry);

}  // namespace spindle
