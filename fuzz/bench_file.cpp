// Bench files: any bytes are either refused with a BenchFileError or give a
// bench, and a bench that loaded saves a file that loads again with the
// same devices.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "sim/SimBench.h"

namespace {

std::size_t DeviceCount(const spindle::sim::SimBench& bench) { return bench.DeviceIndexes().size(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spindle::sim;
    static const std::string path = spindle::fuzz::ScratchPath("bench.json");
    static const std::string copy = spindle::fuzz::ScratchPath("bench-saved.json");
    spindle::fuzz::WriteScratch(path, std::string_view(reinterpret_cast<const char*>(data), size));

    // A bench saves into the file it came from, merging with what another
    // process saved there meanwhile: the copy starts afresh each time.
    std::remove(copy.c_str());
    std::unique_ptr<SimBench> bench;
    try {
        bench = LoadBenchFromJson(ReadBenchDocument(path), copy);
    } catch (const BenchFileError&) {
        return 0;  // refused, with its reason: what a bad file must get
    }
    SPINDLE_FUZZ_CHECK(bench != nullptr);
    SPINDLE_FUZZ_CHECK(bench->Save());
    std::unique_ptr<SimBench> again;
    try {
        again = LoadBench(copy);
    } catch (const BenchFileError& error) {
        std::fprintf(stderr, "the saved bench does not load: %s\n", error.what());
        std::abort();
    }
    SPINDLE_FUZZ_CHECK(DeviceCount(*again) == DeviceCount(*bench));
    return 0;
}
