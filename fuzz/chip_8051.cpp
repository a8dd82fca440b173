// The emulated EZ-USB and FX2: random code in the chip's memory, run with
// random control and bulk transfers from the host, a boot EEPROM and a JTAG
// chain attached. Nothing the program does may crash the emulator, reach
// outside its memories, or hang a request past its bound.
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "sim/chip/EzusbChip.h"
#include "sim/chip/JtagChain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spindle::sim;
    spindle::fuzz::ByteReader input(data, size);
    const bool fx2 = input.Flag();
    const std::uint8_t eepromKind = input.Byte();
    const std::uint16_t codeLength = input.Word() % 4096;
    std::vector<std::uint8_t> memory(65536, 0);
    const std::string code = input.Bytes(codeLength);
    std::memcpy(memory.data(), code.data(), code.size());

    EepromConfig eeprom;
    eeprom.addressBytes = (eepromKind & 1) ? 1 : 2;
    eeprom.size = eeprom.addressBytes == 1 ? 256 : 8192;
    eeprom.pageSize = (eepromKind & 2) ? 8 : 64;
    // No write cycle: a poll of a busy part moves the chip's clock to the
    // cycle's end, which the bound below does not count.
    eeprom.writeCycleMs = 0;
    std::vector<std::uint8_t> eepromBytes(eeprom.size, 0xFF);
    EzusbChip chip(fx2, memory, eeprom, eepromBytes);
    chip.SetRequestCycleBound(20'000);
    JtagChain chain(JtagDeviceConfig{});
    if (fx2) chip.AttachJtag(&chain);
    chip.Start();
    chip.Run(input.Word());

    for (int request = 0; request < 8 && !input.Empty(); ++request) {
        const std::uint8_t kind = input.Byte() % 4;
        const std::uint32_t length = input.Byte() % 80;
        std::vector<std::uint8_t> buffer(length);
        for (std::uint8_t& byte : buffer) byte = input.Byte();
        std::uint32_t returned = 0;
        const std::uint64_t cycles = chip.Cycles();
        switch (kind) {
            case 0:
            case 1: {
                std::uint8_t setup[8];
                for (std::uint8_t& byte : setup) byte = input.Byte();
                setup[0] = static_cast<std::uint8_t>((setup[0] & 0x7F) | (kind == 1 ? 0x80 : 0));
                setup[6] = static_cast<std::uint8_t>(length & 0xFF);
                setup[7] = 0;
                chip.ControlTransfer(setup, buffer.data(), length, &returned);
                SPINDLE_FUZZ_CHECK(returned <= length);
                break;
            }
            case 2: chip.BulkOut(buffer.data(), length); break;
            default:
                chip.BulkIn(buffer.data(), length, &returned);
                SPINDLE_FUZZ_CHECK(returned <= length);
                break;
        }
        // Bounded: the request's wait, plus what the host's pauses add.
        SPINDLE_FUZZ_CHECK(chip.Cycles() - cycles < 4 * 20'000 + 2 * EzusbChip::kBulkWritePauseMs * chip.CyclesPerMs() + 1000);
        chip.Run(input.Byte());
    }
    SPINDLE_FUZZ_CHECK(memory.size() == 65536 && eepromBytes.size() == eeprom.size);
    return 0;
}
