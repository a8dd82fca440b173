#pragma once
#include <cstdint>
#include <string>

#include "device/Families.h"

namespace spindle {

// An EEPROM image (.iic) is copied byte for byte into the boot EEPROM from
// address 0. The address travels in a 16-bit request field, so an image
// longer than this would wrap onto its own start: such images are refused.
inline constexpr std::uint32_t kMaxEepromImageBytes = 65536;
// Bytes per EEPROM write or read request.
inline constexpr std::uint32_t kEepromRequestBytes = 4096;

// What the first byte of an image says it boots. The chips' boot code reads
// 0xB0/0xB2 (EZ-USB) and 0xC0/0xC2 (FX2) as the marker of a valid image.
enum class BootImageKind { Empty, Ezusb, Fx2, Unknown };
BootImageKind ClassifyBootImage(std::uint32_t length, std::uint8_t firstByte);

// Whether an image of `kind` is meant for a chip of `chip`'s generation
// (an empty image is: it writes nothing).
bool BootImageFits(BootImageKind kind, ChipGeneration chip);

// The question asked before writing an image that is not meant for the
// device's chip; empty when the image fits.
std::string BootImageQuestion(BootImageKind kind, std::uint8_t firstByte, ChipGeneration chip,
                              const std::string& imagePath, std::uint32_t deviceIndex);

// An EEPROM smaller than the length read gives its contents again from
// the address where its own address bits wrap. The smallest power of two
// from 128 (the smallest boot EEPROM) up, below the length, from which the
// bytes repeat the start: the EEPROM's size; 0 when they never repeat. An
// image of one byte value throughout (an erased EEPROM) repeats anywhere
// and cannot tell its size: also 0.
std::uint32_t EepromWrapSize(const std::uint8_t* bytes, std::uint32_t length);

// Expected duration of an EEPROM job in milliseconds: the loader writes 64-byte pages, each followed by the part's
// 5 ms write cycle, and spends its chip generation's time on every byte it
// moves, once for the write and once more for each read of the whole image
// (`reads`: the backup before, the read-back after). 16384 bytes written
// and read back take 4 s on an EZ-USB, 2 s on an FX2.
std::uint64_t ExpectedEepromMs(std::uint32_t length, ChipGeneration chip, std::uint32_t reads);
// The same in whole seconds, rounded up (at least 1).
std::uint32_t EstimateEepromSeconds(std::uint32_t length, ChipGeneration chip, std::uint32_t reads);

}  // namespace spindle
