// Writes a 16 KiB image into the boot EEPROM through our FX2 loader on the
// emulated chip and reads it back, as the EEPROM programming job does, and
// prints the processor time it cost. Target: under 0.5 s.
//
//   bench_loader
#include <cstdio>
#include <ctime>
#include <vector>

#include "device/LoaderImages.h"
#include "sim/chip/EzusbChip.h"

int main() {
    using namespace spindle;
    using namespace spindle::sim;
    std::vector<std::uint8_t> memory(65536, 0);
    std::vector<std::uint8_t> eeprom;
    EzusbChip chip(true, memory, EepromConfig{}, eeprom);
    for (const LoaderRecord* r = Fx2EepromLoader; r->type == 0; ++r) {
        std::copy(r->data, r->data + r->length, memory.begin() + r->address);
    }
    chip.Start();
    std::vector<std::uint8_t> image(16384);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    std::vector<std::uint8_t> back(image.size());

    const std::clock_t start = std::clock();
    bool ok = true;
    for (std::uint32_t at = 0; at < image.size(); at += 4096) {
        const std::uint8_t write[8] = {0x40, 0xA2, static_cast<std::uint8_t>(at), static_cast<std::uint8_t>(at >> 8),
                                       0, 0, 0x00, 0x10};
        ok = ok && chip.ControlTransfer(write, image.data() + at, 4096, nullptr) == EzusbChip::Result::Completed;
    }
    for (std::uint32_t at = 0; at < back.size(); at += 4096) {
        const std::uint8_t read[8] = {0xC0, 0xA2, static_cast<std::uint8_t>(at), static_cast<std::uint8_t>(at >> 8),
                                      0, 0, 0x00, 0x10};
        ok = ok && chip.ControlTransfer(read, back.data() + at, 4096, nullptr) == EzusbChip::Result::Completed;
    }
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    ok = ok && back == image;
    std::printf("16 KiB written and read back through the emulated FX2 loader: %.3f s of processor time "
                "(%llu machine cycles, %.1f ms of chip time); target under 0.5 s: %s\n",
                seconds, static_cast<unsigned long long>(chip.Cycles()),
                static_cast<double>(chip.Cycles()) / static_cast<double>(chip.CyclesPerMs()), ok && seconds < 0.5 ? "met" : "MISSED");
    return ok && seconds < 0.5 ? 0 : 1;
}
