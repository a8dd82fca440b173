#include "programming/XsvfFile.h"

#include "platform/BoundedFile.h"
#include "platform/Format.h"
#include "xsvf_opcodes.h"

namespace spindle {

const char* XsvfCommandName(std::uint8_t command) {
    static const char* const names[XSVF_OPCODE_COUNT] = {
        "XCOMPLETE", "XTDOMASK", "XSIR",    "XSDR",     "XRUNTEST", "", "", "XREPEAT",
        "XSDRSIZE",  "XSDRTDO",  "XSETSDRMASKS", "XSDRINC", "XSDRB", "XSDRC", "XSDRE", "XSDRTDOB",
        "XSDRTDOC",  "XSDRTDOE", "XSTATE",  "XENDIR",   "XENDDR",   "XSIR2", "XCOMMENT", "XWAIT",
    };
    return command < sizeof names / sizeof names[0] ? names[command] : "";
}

namespace {

class Walker {
public:
    Walker(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    XsvfCheck Run() {
        XsvfCheck check;
        check.size = size_;
        if (size_ == 0) return Refuse(check, 0, "it is empty");
        while (at_ < size_) {
            const std::uint64_t start = at_;
            const std::uint8_t command = data_[at_++];
            if (command == XCOMPLETE) {
                ++check.commands;
                if (at_ != size_) {
                    return Refuse(check, start,
                                  StrPrintf("%llu bytes follow the XCOMPLETE at offset %llu",
                                            static_cast<unsigned long long>(size_ - at_),
                                            static_cast<unsigned long long>(start)));
                }
                // A program that shifts nothing into the chain would be
                // "played" to its end and configure nothing.
                if (shifts_ == 0) return Refuse(check, start, "it configures nothing: it shifts no bits into the chain");
                check.ok = true;
                return check;
            }
            std::string problem;
            if (!Command(command, problem)) return Refuse(check, start, problem);
            ++check.commands;
        }
        return Refuse(check, size_, "it does not end with XCOMPLETE (the file may be cut off)");
    }

private:
    static XsvfCheck Refuse(XsvfCheck& check, std::uint64_t offset, std::string problem) {
        check.ok = false;
        check.offset = offset;
        check.problem = std::move(problem);
        return check;
    }

    static std::uint64_t BytesOf(std::uint64_t bits) { return (bits + 7) / 8; }

    // Skips n argument bytes; false when the file ends first.
    bool Take(std::uint64_t n) {
        if (n > size_ - at_) return false;
        at_ += n;
        return true;
    }
    bool U8(std::uint32_t& value) {
        if (at_ >= size_) return false;
        value = data_[at_++];
        return true;
    }
    bool U16(std::uint32_t& value) {
        std::uint32_t high = 0, low = 0;
        if (!U8(high) || !U8(low)) return false;
        value = high << 8 | low;
        return true;
    }
    bool U32(std::uint32_t& value) {
        std::uint32_t high = 0, low = 0;
        if (!U16(high) || !U16(low)) return false;
        value = high << 16 | low;
        return true;
    }

    // Ones among the low `bits` bits of the vector at `vector` (most
    // significant byte first).
    std::uint64_t Ones(std::uint64_t vector, std::uint64_t bits) const {
        const std::uint64_t bytes = BytesOf(bits);
        std::uint64_t ones = 0;
        for (std::uint64_t i = 0; i < bytes; ++i) {
            std::uint8_t byte = data_[vector + bytes - 1 - i];
            if (i == bytes - 1 && bits % 8 != 0) byte &= static_cast<std::uint8_t>((1u << (bits % 8)) - 1);
            for (; byte != 0; byte &= static_cast<std::uint8_t>(byte - 1)) ++ones;
        }
        return ones;
    }

    bool Command(std::uint8_t command, std::string& problem) {
        const std::uint64_t start = at_ - 1;
        const char* name = XsvfCommandName(command);
        if (*name == '\0') {
            problem = StrPrintf("byte 0x%02X at offset %llu is not an XSVF command", command,
                                static_cast<unsigned long long>(start));
            return false;
        }
        const auto cutOff = [&]() {
            problem = StrPrintf("the %s at offset %llu runs past the end of the file", name,
                                static_cast<unsigned long long>(start));
            return false;
        };
        const auto needsSize = [&]() {
            if (sdrBits_ != 0) return true;
            problem = StrPrintf("the %s at offset %llu comes before any XSDRSIZE gives its length", name,
                                static_cast<unsigned long long>(start));
            return false;
        };
        const std::uint64_t sdrBytes = BytesOf(sdrBits_);
        std::uint32_t a = 0, b = 0, c = 0;
        switch (command) {
            case XSIR:
            case XSIR2:
            case XSDR:
            case XSDRTDO:
            case XSDRINC:
            case XSDRB:
            case XSDRC:
            case XSDRE:
            case XSDRTDOB:
            case XSDRTDOC:
            case XSDRTDOE: ++shifts_; break;
            default: break;
        }
        switch (command) {
            case XTDOMASK:
            case XSDR:
            case XSDRB:
            case XSDRC:
            case XSDRE:
                if (!needsSize()) return false;
                return Take(sdrBytes) || cutOff();
            case XSDRTDO:
            case XSDRTDOB:
            case XSDRTDOC:
            case XSDRTDOE:
                if (!needsSize()) return false;
                return Take(2 * sdrBytes) || cutOff();
            case XSETSDRMASKS:
                if (!needsSize()) return false;
                if (!Take(2 * sdrBytes)) return cutOff();
                dataMaskOnes_ = Ones(at_ - sdrBytes, sdrBits_);
                return true;
            case XSDRINC: {
                if (!needsSize()) return false;
                if (!Take(sdrBytes) || !U8(a)) return cutOff();
                const std::uint64_t dataBytes = BytesOf(dataMaskOnes_);
                return Take(dataBytes * a) || cutOff();
            }
            case XSIR:
            case XSIR2:
                if (!(command == XSIR ? U8(a) : U16(a))) return cutOff();
                if (a == 0) {
                    problem = StrPrintf("the %s at offset %llu shifts no bits", name,
                                        static_cast<unsigned long long>(start));
                    return false;
                }
                return Take(BytesOf(a)) || cutOff();
            case XRUNTEST:
                return U32(a) || cutOff();
            case XREPEAT:
                return U8(a) || cutOff();
            case XSDRSIZE:
                if (!U32(a)) return cutOff();
                sdrBits_ = a;
                return true;
            case XSTATE:
                if (!U8(a)) return cutOff();
                return StateInRange(name, start, a, 15, problem);
            case XENDIR:
            case XENDDR:
                if (!U8(a)) return cutOff();
                return StateInRange(name, start, a, 1, problem);
            case XCOMMENT:
                for (;;) {
                    if (!U8(a)) return cutOff();
                    if (a == 0) return true;
                }
            case XWAIT:
                if (!U8(a) || !U8(b) || !U32(c)) return cutOff();
                return StateInRange(name, start, a, 15, problem) && StateInRange(name, start, b, 15, problem);
            default:
                return false;  // not reached: unnamed codes were refused above
        }
    }

    static bool StateInRange(const char* name, std::uint64_t start, std::uint32_t value, std::uint32_t last,
                             std::string& problem) {
        if (value <= last) return true;
        problem = StrPrintf("the %s at offset %llu names state %u, outside 0 to %u", name,
                            static_cast<unsigned long long>(start), value, last);
        return false;
    }

    const std::uint8_t* data_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
    std::uint64_t sdrBits_ = 0;
    std::uint64_t dataMaskOnes_ = 0;
    std::uint64_t shifts_ = 0;  // commands that shift bits through the chain
};

}  // namespace

XsvfCheck CheckXsvf(const std::uint8_t* data, std::size_t size) { return Walker(data, size).Run(); }

XsvfCheck CheckXsvfFile(const std::string& path, std::string& bytes) {
    switch (ReadFileBounded(path, kMaxXsvfFileBytes, bytes)) {
        case BoundedRead::Ok:
            return CheckXsvf(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        case BoundedRead::TooLarge: {
            XsvfCheck check;
            check.problem = StrPrintf("it is larger than %zu MiB", kMaxXsvfFileBytes >> 20);
            return check;
        }
        case BoundedRead::NotAFile: {
            XsvfCheck check;
            check.problem = BoundedReadProblem(BoundedRead::NotAFile);
            return check;
        }
        case BoundedRead::Missing:
        case BoundedRead::Failed:
            break;
    }
    XsvfCheck check;
    check.problem = "it cannot be read";
    return check;
}

}  // namespace spindle
