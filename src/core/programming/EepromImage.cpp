#include "programming/EepromImage.h"

#include <algorithm>
#include <filesystem>

#include "platform/Format.h"

namespace spindle {

BootImageKind ClassifyBootImage(std::uint32_t length, std::uint8_t firstByte) {
    if (length == 0) return BootImageKind::Empty;
    switch (firstByte) {
        case 0xB0:
        case 0xB2: return BootImageKind::Ezusb;
        case 0xC0:
        case 0xC2: return BootImageKind::Fx2;
        default: return BootImageKind::Unknown;
    }
}

bool BootImageFits(BootImageKind kind, ChipGeneration chip) {
    switch (kind) {
        case BootImageKind::Empty: return true;
        case BootImageKind::Ezusb: return chip == ChipGeneration::Ezusb;
        case BootImageKind::Fx2: return chip == ChipGeneration::Fx2;
        case BootImageKind::Unknown: return false;
    }
    return false;
}

std::string BootImageQuestion(BootImageKind kind, std::uint8_t firstByte, ChipGeneration chip,
                              const std::string& imagePath, std::uint32_t deviceIndex) {
    if (BootImageFits(kind, chip)) return {};
    const std::string name = std::filesystem::path(imagePath).filename().string();
    const char* chipName = chip == ChipGeneration::Fx2 ? "an EZ-USB FX2" : "an EZ-USB";
    if (kind == BootImageKind::Unknown) {
        return StrPrintf("%s does not start like a boot EEPROM image (its first byte is 0x%02X; %s chip boots "
                         "from images starting with %s).\n\nWrite it into device %u anyway?",
                         name.c_str(), firstByte, chipName,
                         chip == ChipGeneration::Fx2 ? "0xC0 or 0xC2" : "0xB0 or 0xB2", deviceIndex);
    }
    return StrPrintf("%s is an image for %s chip, but device %u has %s chip.\n\nWrite it anyway?", name.c_str(),
                     kind == BootImageKind::Fx2 ? "an EZ-USB FX2" : "an EZ-USB", deviceIndex, chipName);
}

std::uint32_t EepromWrapSize(const std::uint8_t* bytes, std::uint32_t length) {
    if (length == 0 || std::all_of(bytes, bytes + length, [&](std::uint8_t b) { return b == bytes[0]; })) return 0;
    for (std::uint32_t size = 128; size < length; size *= 2) {
        bool repeats = true;
        for (std::uint32_t i = size; i < length && repeats; ++i) repeats = bytes[i] == bytes[i % size];
        if (repeats) return size;
    }
    return 0;
}

std::uint64_t ExpectedEepromMs(std::uint32_t length, ChipGeneration chip, std::uint32_t reads) {
    constexpr std::uint64_t kPageBytes = 64;
    constexpr std::uint64_t kWriteCycleMs = 5;
    // The loader's 8051 time per byte (its endpoint and I2C handling): the
    // FX2 runs ten times as many instruction cycles a second.
    const std::uint64_t byteUs = chip == ChipGeneration::Fx2 ? 8 : 80;
    return (length + kPageBytes - 1) / kPageBytes * kWriteCycleMs +
           (length * byteUs * (1 + std::uint64_t{reads}) + 999) / 1000;
}

std::uint32_t EstimateEepromSeconds(std::uint32_t length, ChipGeneration chip, std::uint32_t reads) {
    const std::uint64_t ms = ExpectedEepromMs(length, chip, reads);
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (ms + 999) / 1000));
}

}  // namespace spindle
