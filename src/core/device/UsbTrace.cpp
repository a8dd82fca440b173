#include "device/UsbTrace.h"

#include <cstdlib>

#include "device/EzusbRequests.h"
#include "platform/Format.h"

namespace spindle {

CUsbTrace::CUsbTrace(const std::string& path) { file_ = std::fopen(path.c_str(), "a"); }

CUsbTrace::~CUsbTrace() {
    if (file_ != nullptr) std::fclose(file_);
}

void CUsbTrace::Write(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (keepInMemory_) lines_.push_back(line);
    if (file_ != nullptr) {
        std::fputs(line.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
}

std::vector<std::string> CUsbTrace::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void CUsbTrace::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

void CUsbTrace::SetKeepInMemory(bool keep) {
    std::lock_guard lock(mutex_);
    keepInMemory_ = keep;
    if (!keep) lines_.clear();
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 3);
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) text.push_back(' ');
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0xF]);
    }
    return text;
}

namespace {
const char* Result(bool ok) { return ok ? "ok" : "fail"; }

std::string WithBytes(std::string line, const std::uint8_t* bytes, std::size_t count) {
    line += " :";
    if (bytes != nullptr && count > 0) {
        line += ' ';
        line += HexBytes(bytes, count);
    }
    return line;
}
}  // namespace

DeviceHandle CTracingDriver::Open(const std::string& path) {
    const DeviceHandle handle = inner_.Open(path);
    const std::string name = DeviceNameFromPath(path);
    const bool ok = handle != kInvalidHandle;
    if (ok) {
        std::lock_guard lock(mutex_);
        names_[handle] = name;
    }
    trace_.Write(StrPrintf("OPEN %s %s", name.c_str(), Result(ok)));
    return handle;
}

void CTracingDriver::Close(DeviceHandle handle) {
    const std::string name = NameOf(handle);
    inner_.Close(handle);
    {
        std::lock_guard lock(mutex_);
        names_.erase(handle);
    }
    trace_.Write("CLOSE " + name);
}

std::string CTracingDriver::NameOf(DeviceHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = names_.find(handle);
    return it != names_.end() ? it->second : StrPrintf("handle-%#llx", static_cast<unsigned long long>(handle));
}

bool CTracingDriver::IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in,
                               std::uint32_t inLength, std::uint8_t* out, std::uint32_t outLength,
                               std::uint32_t* returned) {
    std::uint32_t count = 0;
    // Bytes sent must be captured before the call; the driver may reuse the buffer.
    std::string sent;
    if (code == ioctl::kBulkWrite && out != nullptr) sent = HexBytes(out, outLength);
    const bool ok = inner_.IoControl(handle, code, in, inLength, out, outLength, &count);
    if (returned != nullptr) *returned = count;
    const std::string name = NameOf(handle);
    std::string line;
    switch (code) {
        case ioctl::kGetDeviceDescriptor:
            line = StrPrintf("DEVDESC %s %s", name.c_str(), Result(ok));
            break;
        case ioctl::kGetStringDescriptor: {
            const unsigned index = inLength >= 1 ? in[0] : 0;
            const unsigned lang = inLength >= 4 ? DecodeLe16(&in[2]) : 0;
            line = StrPrintf("STRDESC %s index=%u lang=0x%04x %s", name.c_str(), index, lang, Result(ok));
            break;
        }
        case ioctl::kBulkWrite: {
            const unsigned pipe = inLength >= 4 ? DecodeLe32(in) : 0;
            line = StrPrintf("BULKOUT %s pipe=%u len=%u %s :", name.c_str(), pipe, outLength, Result(ok));
            if (!sent.empty()) line += " " + sent;
            break;
        }
        case ioctl::kBulkRead: {
            const unsigned pipe = inLength >= 4 ? DecodeLe32(in) : 0;
            line = StrPrintf("BULKIN %s pipe=%u len=%u %s", name.c_str(), pipe, outLength, Result(ok));
            const std::size_t received = ok ? std::min(count, outLength) : 0;
            line = WithBytes(line, out, received);
            break;
        }
        case ioctl::kVendorOrClassRequest: {
            if (inLength >= 10) {
                const auto block = VendorRequestControl::Decode(in);
                line = StrPrintf("VENDOR %s dir=%u req=0x%02x value=0x%04x index=0x%04x len=%u %s", name.c_str(),
                                 block.direction, block.request, block.value, block.index, outLength, Result(ok));
            } else {
                line = StrPrintf("VENDOR %s len=%u %s", name.c_str(), outLength, Result(ok));
            }
            break;
        }
        case ioctl::kAnchorDownload: {
            const unsigned address = inLength >= 2 ? DecodeLe16(in) : 0;
            line = StrPrintf("ANCHOR %s addr=0x%04x len=%u %s", name.c_str(), address, outLength, Result(ok));
            break;
        }
        case ioctl::kVendorRequest: {
            if (inLength >= 10) {
                const auto block = ResetRequestBlock::Decode(in);
                line = StrPrintf("RESET %s cpucs=0x%04x data=%u %s", name.c_str(), block.value, block.data,
                                 Result(ok));
            } else {
                line = StrPrintf("RESET %s %s", name.c_str(), Result(ok));
            }
            break;
        }
        default:
            line = StrPrintf("IOCTL %s code=0x%06x %s", name.c_str(), code, Result(ok));
            break;
    }
    trace_.Write(line);
    return ok;
}

void CTracingClock::Sleep(std::uint32_t ms) {
    trace_.Write(StrPrintf("SLEEP %u", ms));
    inner_.Sleep(ms);
}

CUsbTraceSetup::CUsbTraceSetup(IEzusbDriver& driver, IClock& clock, const std::string& path)
    : driver_(driver), clock_(clock) {
    std::string file = path;
    if (file.empty()) {
        const char* env = std::getenv("SPINDLE_USB_TRACE");
        if (env != nullptr) file = env;
    }
    if (file.empty()) return;
    trace_ = std::make_unique<CUsbTrace>(file);
    if (!trace_->IsFileOpen()) {
        error_ = "Cannot open the USB trace file " + file;
        trace_.reset();
        return;
    }
    trace_->SetKeepInMemory(false);
    tracedDriver_ = std::make_unique<CTracingDriver>(driver_, *trace_);
    tracedClock_ = std::make_unique<CTracingClock>(clock_, *trace_);
}

}  // namespace spindle
