#include "programming/ReconnectCheck.h"

#include <algorithm>

#include "device/EzusbDevice.h"
#include "device/EzusbDriver.h"
#include "device/ScopedDevice.h"
#include "inventory/Classification.h"
#include "inventory/DeviceRecord.h"
#include "platform/Clock.h"
#include "platform/Format.h"
#include "programming/WorkerUserInterface.h"
#include "protocol/InstrumentProtocol.h"

namespace spindle {

namespace {

// The version in a firmware text: from its ninth character on, where the
// tree reads the major version too ("Kestrel 2.31.0" gives "2.31.0").
std::string FirmwareVersionOf(const std::string& text) {
    if (text.size() <= 8) return text;
    const std::size_t start = text.find_first_not_of(' ', 8);
    return start == std::string::npos ? std::string() : text.substr(start);
}

// The index the device at `place` has now, or -1.
int IndexAtPlace(IEzusbDriver& driver, const std::string& place) {
    for (int index = 0; index < kMaxDevices; ++index) {
        if (driver.PlaceOf(index) == place) return index;
    }
    return -1;
}

}  // namespace

std::string IdentityText(const DeviceIdentity& identity) {
    std::string text = identity.model + " " + identity.serial;
    if (!identity.firmware.empty()) text += ", firmware " + identity.firmware;
    return text;
}

std::optional<DeviceIdentity> ReadDeviceIdentity(Platform& platform, int index) {
    ScopedDevice device(platform, index);
    if (!device.Opened()) return std::nullopt;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (!ReadDeviceDescriptor(platform, device.Handle(), DescriptorField::VendorId, vendor) ||
        !ReadDeviceDescriptor(platform, device.Handle(), DescriptorField::ProductId, product)) {
        return std::nullopt;
    }
    const ClassificationRow* row = Classify(vendor, product);
    if (row == nullptr) return std::nullopt;
    DeviceIdentity identity{row->family, ModelName(*row), "None", {}};
    if (!row->readsSerial) return identity;
    // Firmware that has not started yet answers nothing: not back yet.
    CSpecProtocol protocol(platform);
    SlotReadValue serial{};
    std::string firmware;
    if (!protocol.QueryInfoSlot(device.Handle(), 0, serial) ||
        !protocol.ReadFirmwareVersionText(device.Handle(), firmware)) {
        return std::nullopt;
    }
    identity.serial = SlotText(serial);
    identity.firmware = FirmwareVersionOf(firmware);
    return identity;
}

void ConfirmReconnect(Platform& platform, const std::string& place, int expectedFamily, JobEntry& entry,
                      JobResult& result) {
    // The looks at the device keep their boxes: nothing waits on the window.
    CWorkerUserInterface boxes;
    Platform quiet{platform.driver, platform.clock, platform.trace, boxes};
    entry.Enter(JobPhase::Reconnecting, 0);
    const std::uint64_t start = platform.clock.NowMs();
    bool left = false;
    std::optional<DeviceIdentity> back;
    for (;;) {
        const std::uint64_t waited = platform.clock.NowMs() - start;
        const std::uint64_t remainingMs = kReconnectWaitMs - std::min<std::uint64_t>(waited, kReconnectWaitMs);
        entry.secondsLeft.store(static_cast<int>((remainingMs + 999) / 1000), std::memory_order_relaxed);
        const int index = IndexAtPlace(platform.driver, place);
        const std::optional<DeviceIdentity> now = index < 0 ? std::nullopt : ReadDeviceIdentity(quiet, index);
        if (!now) {
            left = true;
        } else if (left) {
            back = now;
            break;
        }
        // Looked once more after the bound: a clock that others move too may
        // have passed it while the device was already back.
        if (waited >= kReconnectWaitMs || entry.StopAsked()) break;
        platform.clock.Sleep(kReconnectPollMs);
    }
    entry.secondsLeft.store(0, std::memory_order_relaxed);
    if (!back && entry.StopAsked()) {
        result.outcome.Stop("stopped on request while waiting for the device to come back");
        return;
    }
    if (!back) {
        result.outcome.Fail(StrPrintf("the device did not come back within %u s (%s)", kReconnectWaitMs / 1000,
                                      left ? "it left the bus and did not return" : "it never left the bus"));
        return;
    }
    result.cameBackAs = IdentityText(*back);
    result.serialAfter = back->serial;
    if (back->family != expectedFamily) {
        result.outcome.Fail("the device came back as " + result.cameBackAs + ", another family than before");
        return;
    }
    result.outcome.Done("came back as " + result.cameBackAs);
}

}  // namespace spindle
