// The typed store over private-profile files (settings, .lin, .cal): every
// read of any file gives a value, a write of any text either is refused
// and leaves the file alone or reads back as written, and the file's other
// values stay as they were (the text-level fuzzer checks that).
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/INIFileSupport.h"
#include "platform/ProfileText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using spindle::CINIFileSupport;
    static const std::string path = spindle::fuzz::ScratchPath("profile.lin");
    spindle::fuzz::ByteReader input(data, size);
    const int mode = input.Byte();
    const std::string section = input.Text(40), key = input.Text(40), value = input.Text(300);
    const std::string file = input.Rest();
    spindle::fuzz::WriteScratch(path, file);
    spindle::fuzz::QuietUserInterface ui;

    {
        CINIFileSupport store(ui, path.c_str(), 0, nullptr);
        (void)store.ReadUInt8(section, key, 7);
        (void)store.ReadInt16(section, key);
        (void)store.ReadLong(section, key, -1);
        (void)store.ReadUInt32(section, key);
        (void)store.ReadFloat(section, key, 1.5f);
        (void)store.ReadDouble(section, key);
        SPINDLE_FUZZ_CHECK(store.ReadText(section, key).size() <= CINIFileSupport::kMaxValueChars);
    }

    CINIFileSupport store(ui, path.c_str(), 0, nullptr);
    int written = 0;
    switch (mode % 3) {
        case 0: written = store.WriteText(section, key, value); break;
        case 1: written = store.WriteDouble(section, key, static_cast<double>(value.size()) / 7.0); break;
        default: written = store.WriteLong(section, key, static_cast<std::int32_t>(value.size()) - 100); break;
    }
    SPINDLE_FUZZ_CHECK((written == 1) == store.LastWriteSucceeded());
    std::string now;
    SPINDLE_FUZZ_CHECK(spindle::LoadProfileFile(path, now) == spindle::ProfileLoad::Ok);
    if (written != 1) {
        SPINDLE_FUZZ_CHECK(now == file);  // refused: the file is untouched
        return 0;
    }
    const std::string stored = store.ValueText();
    CINIFileSupport reread(ui, path.c_str(), 0, nullptr);
    const std::string back = reread.ReadText(section, key, "-");
    // Blanks around a value are not part of it when read.
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    if (!stored.empty() && !blank(stored.front()) && !blank(stored.back())) {
        SPINDLE_FUZZ_CHECK(back == stored);
    }
    return 0;
}
