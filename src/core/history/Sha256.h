#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace spindle {

// SHA-256 (FIPS 180-4), for naming the images a job wrote.
class CSha256 {
public:
    CSha256();
    void Update(const std::uint8_t* data, std::size_t length);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);
    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

// The digest and size of a file; nullopt when it cannot be read.
struct FileDigest {
    std::string sha256;
    std::int64_t size = 0;
};
std::optional<FileDigest> DigestFile(const std::string& path);
FileDigest DigestBytes(const std::string& bytes);

}  // namespace spindle
