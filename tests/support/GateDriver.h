#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "device/EzusbDriver.h"

namespace spindle::test {

// A driver in front of another that can hold every request until released
// (so a test sees a job while it runs, without sleeping) and fail chosen ones.
class GateDriver final : public IEzusbDriver {
public:
    explicit GateDriver(IEzusbDriver& inner) : inner_(inner) {}

    // While held, every request of another thread than the one that held
    // the gate waits (the test's own thread, the window's, goes on).
    void Hold() {
        std::lock_guard guard(mutex_);
        open_ = false;
        exempt_ = std::this_thread::get_id();
    }
    void Release() {
        {
            std::lock_guard guard(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    std::uint64_t BusGeneration() override { return inner_.BusGeneration(); }
    // Fails the requests for which it returns true (code, input block).
    std::function<bool(std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength)> fail;

    DeviceHandle Open(const std::string& path) override {
        Wait();
        return inner_.Open(path);
    }
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override {
        Wait();
        if (fail && fail(code, in, inLength)) {
            if (returned != nullptr) *returned = 0;
            return false;
        }
        return inner_.IoControl(handle, code, in, inLength, out, outLength, returned);
    }
    void Close(DeviceHandle handle) override { inner_.Close(handle); }

private:
    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_ || std::this_thread::get_id() == exempt_; });
    }

    IEzusbDriver& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    std::thread::id exempt_;
};

}  // namespace spindle::test
