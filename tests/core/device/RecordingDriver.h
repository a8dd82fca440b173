#pragma once
// A minimal driver for the device-layer tests: records every request with
// its input block and data, answers from per-code settings.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"

namespace spindle::test {

class RecordingDriver : public IEzusbDriver {
public:
    struct Request {
        DeviceHandle handle;
        std::uint32_t code;
        std::vector<std::uint8_t> in;
        std::vector<std::uint8_t> outSent;  // the output buffer's bytes as the call began
        std::uint32_t outLength;
    };

    DeviceHandle Open(const std::string& path) override {
        opened.push_back(path);
        if (failOpen.count(path) != 0) return kInvalidHandle;
        return nextHandle++;
    }
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        Request r{handle, code, std::vector<std::uint8_t>(in, in + inLength), {}, outLength};
        if (out != nullptr) r.outSent.assign(out, out + outLength);
        requests.push_back(r);
        if (failCodes.count(code) != 0) return false;
        const auto reply = replies.find(code);
        std::uint32_t count = outLength;
        if (reply != replies.end() && out != nullptr) {
            count = std::min<std::uint32_t>(outLength, static_cast<std::uint32_t>(reply->second.size()));
            std::copy(reply->second.begin(), reply->second.begin() + count, out);
        }
        if (returned != nullptr) *returned = count;
        return true;
    }
    void Close(DeviceHandle handle) override { closed.push_back(handle); }

    std::set<std::string> failOpen;
    std::set<std::uint32_t> failCodes;
    std::map<std::uint32_t, std::vector<std::uint8_t>> replies;
    std::vector<std::string> opened;
    std::vector<DeviceHandle> closed;
    std::vector<Request> requests;
    DeviceHandle nextHandle = 0x100;
};

}  // namespace spindle::test
