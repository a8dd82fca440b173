// 8051 programs from Intel HEX and BIX files, downloaded through the anchor
// and the loader into a simulated unprogrammed chip: any file is sent or
// refused, a refused file sends nothing, and what was sent is never more
// than the file holds. The same bytes go through the EEPROM image checks.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "DemoRig.h"
#include "app/MainFrame.h"
#include "FuzzSupport.h"
#include "device/Anchor.h"
#include "device/IntelHex.h"
#include "device/LoaderImages.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "programming/EepromImage.h"
#include "sim/SimBench.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spindle;
    static fuzz::DemoRig rig;
    static CMainFrame frame(rig.platform);
    static const std::string hexPath = fuzz::ScratchPath("program.hex");
    static const std::string bixPath = fuzz::ScratchPath("program.bix");
    if (size == 0) return 0;
    const bool bix = (data[0] & 1) != 0;
    const bool fx2 = (data[0] & 2) != 0;
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string& path = bix ? bixPath : hexPath;
    // The bench logs every request for the tests; one input's are enough.
    rig.bench->Device(fx2 ? 15 : 14)->ClearLogs();
    fuzz::WriteScratch(path, file);

    CAnchor anchor(rig.platform);
    anchor.deviceName = fx2 ? "Ezusb-15" : "Ezusb-14";
    anchor.chipMode = fx2 ? 10 : 0;
    anchor.highMemoryLoader = Fx2EepromLoader;
    const DownloadResult download = anchor.DownloadFile(path);
    SPINDLE_FUZZ_CHECK(download.result == 0 || download.result == 1);
    // The same bytes as an EEPROM dump: a size found for it is a power of
    // two from 128 below the length, from which the bytes repeat the start.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(file.size(), 65536));
    const std::uint32_t wrap = EepromWrapSize(bytes, length);
    if (wrap != 0) {
        SPINDLE_FUZZ_CHECK(wrap >= 128 && wrap < length && (wrap & (wrap - 1)) == 0);
        for (std::uint32_t i = wrap; i < length; ++i) SPINDLE_FUZZ_CHECK(bytes[i] == bytes[i % wrap]);
    }
    // The same file as an EEPROM image for the device's chip: refused before
    // any job when it is empty or beyond the 16-bit address, and asked about
    // (the question answered yes) only when its first byte boots another chip.
    const DeviceRecord record{fx2 ? 15u : 14u, fx2 ? 12u : 7u, "None"};
    const BootImageKind kind = ClassifyBootImage(static_cast<std::uint32_t>(file.size()), file.empty() ? 0 : bytes[0]);
    const int boxesBefore = rig.ui.boxes;
    std::shared_ptr<const std::string> loaded;
    Outcome checked = frame.LoadEepromImage(path, loaded);
    if (checked.Ok()) {
        SPINDLE_FUZZ_CHECK(*loaded == file);
        checked.Append(frame.CheckEepromImage(record, path, *loaded));
    }
    const bool accepted = checked.Ok();
    SPINDLE_FUZZ_CHECK(accepted == (!file.empty() && file.size() <= kMaxEepromImageBytes));
    const bool fits = BootImageFits(kind, fx2 ? ChipGeneration::Fx2 : ChipGeneration::Ezusb);
    if (accepted) SPINDLE_FUZZ_CHECK((rig.ui.boxes > boxesBefore) == !fits);
    if (bix) {
        // An empty file sends nothing; a longer one sends 8192 bytes and
        // names the rest.
        SPINDLE_FUZZ_CHECK(download.bytes <= std::min<std::size_t>(file.size(), 8192));
        if (file.empty()) SPINDLE_FUZZ_CHECK(download.result == 0);
        if (download.result == 1) {
            SPINDLE_FUZZ_CHECK(download.bytes == std::min<std::size_t>(file.size(), 8192));
            SPINDLE_FUZZ_CHECK(download.cutBytes == (file.size() > 8192 ? file.size() - 8192 : 0));
        }
        return 0;
    }
    IntelHexImage image;
    const HexParseResult parsed = ParseIntelHex(file, image, false);
    if (!parsed.ok) SPINDLE_FUZZ_CHECK(download.result == 0 && download.bytes == 0);
    // Nothing to send is never a download.
    if (download.result == 1) SPINDLE_FUZZ_CHECK(download.bytes <= parsed.totalBytes && !image.segments.empty());
    SPINDLE_FUZZ_CHECK(parsed.recordsNotRead <= parsed.linesNotRead);
    return 0;
}
