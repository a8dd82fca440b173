#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"
#include "platform/Clock.h"

namespace spindle {

// The USB trace: one line per driver request and per protocol pause, for
// service staff and for tests. Lines are kept in memory and, when a file is
// given, appended to it as they happen.
//
//   OPEN <name> ok|fail            CLOSE <name>
//   DEVDESC <name> ok|fail
//   STRDESC <name> index=<n> lang=0x001b ok|fail
//   BULKOUT <name> pipe=<n> len=<n> ok|fail : <bytes sent>
//   BULKIN <name> pipe=<n> len=<n> ok|fail : <bytes received>
//   VENDOR <name> dir=<0|1> req=0x<xx> value=0x<xxxx> index=0x<xxxx> len=<n> ok|fail
//   ANCHOR <name> addr=0x<xxxx> len=<n> ok|fail
//   RESET <name> cpucs=0x<xxxx> data=<0|1> ok|fail
//   SLEEP <ms>
class CUsbTrace {
public:
    CUsbTrace() = default;
    // Also appends every line to `path`; IsFileOpen tells whether that worked.
    explicit CUsbTrace(const std::string& path);
    ~CUsbTrace();
    CUsbTrace(const CUsbTrace&) = delete;
    CUsbTrace& operator=(const CUsbTrace&) = delete;

    bool IsFileOpen() const { return file_ != nullptr; }
    void Write(const std::string& line);
    std::vector<std::string> Lines() const;
    void Clear();
    // Keep lines in memory (on by default; a long session writing to a file
    // may turn it off).
    void SetKeepInMemory(bool keep);

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::FILE* file_ = nullptr;
    bool keepInMemory_ = true;
};

// A driver decorator that writes one trace line per request.
class CTracingDriver final : public IEzusbDriver {
public:
    CTracingDriver(IEzusbDriver& inner, CUsbTrace& trace) : inner_(inner), trace_(trace) {}

    DeviceHandle Open(const std::string& path) override;
    bool IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in, std::uint32_t inLength,
                   std::uint8_t* out, std::uint32_t outLength, std::uint32_t* returned) override;
    void Close(DeviceHandle handle) override;
    std::string TakeAccessProblem() override { return inner_.TakeAccessProblem(); }
    bool DeviceBusy(const std::string& path) override { return inner_.DeviceBusy(path); }
    std::uint64_t BusGeneration() override { return inner_.BusGeneration(); }
    std::string PlaceOf(int index) override { return inner_.PlaceOf(index); }

private:
    std::string NameOf(DeviceHandle handle) const;

    IEzusbDriver& inner_;
    CUsbTrace& trace_;
    mutable std::mutex mutex_;
    std::map<DeviceHandle, std::string> names_;
};

// A clock decorator that writes "SLEEP <ms>" for every pause.
class CTracingClock final : public IClock {
public:
    CTracingClock(IClock& inner, CUsbTrace& trace) : inner_(inner), trace_(trace) {}
    void Sleep(std::uint32_t ms) override;
    std::uint64_t NowMs() const override { return inner_.NowMs(); }

private:
    IClock& inner_;
    CUsbTrace& trace_;
};

// Hex bytes in lower case separated by single spaces ("05 00 01").
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);

// Wraps a driver and a clock in the USB trace when SPINDLE_USB_TRACE names a
// file (or when `path` is given); otherwise passes them through unchanged.
class CUsbTraceSetup {
public:
    CUsbTraceSetup(IEzusbDriver& driver, IClock& clock, const std::string& path = "");
    IEzusbDriver& driver() { return tracedDriver_ ? *tracedDriver_ : driver_; }
    IClock& clock() { return tracedClock_ ? *tracedClock_ : clock_; }
    CUsbTrace* trace() { return trace_.get(); }
    // Empty when tracing is on or was not asked for; the reason otherwise.
    const std::string& error() const { return error_; }

private:
    IEzusbDriver& driver_;
    IClock& clock_;
    std::unique_ptr<CUsbTrace> trace_;
    std::unique_ptr<CTracingDriver> tracedDriver_;
    std::unique_ptr<CTracingClock> tracedClock_;
    std::string error_;
};

}  // namespace spindle
