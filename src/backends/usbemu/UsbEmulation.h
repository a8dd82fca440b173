#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/EzusbDriver.h"

namespace spindle::sim {
class SimBench;
}

namespace spindle::usbemu {

// Puts the devices of a simulated bench on emulated USB buses, so that an
// unmodified libusb (and so the USB back end) talks to the bench's models
// through usbdevfs, exactly as it would to real instruments.
//
// The emulation is umockdev's: a fake /sys and /dev tree, and an ioctl
// handler behind each device node. It only reaches libusb in a process
// started with umockdev's preload library (see ReexecWithPreload), and only
// a libusb context created after the devices were added sees them.
//
// Each emulated device carries its bench device's descriptors and one
// configuration whose interface 0 has the bulk endpoints of kEndpoints, in
// that order: the generic driver's pipe N is the N-th of them. Requests map
// onto the bench's driver requests:
//   GET_DESCRIPTOR device / string   the device or string descriptor request
//   GET_DESCRIPTOR configuration     the emulation's own configuration
//   vendor 0xA0, one byte at CPUCS   the 8051 reset request
//   vendor 0xA0, other host writes   the anchor download at that address
//   any other vendor request         the vendor request with a data stage
//   bulk on an endpoint              bulk read or write on its pipe
// A request the bench refuses stalls (EPIPE), as a real device does.
//
// As on a real bus, devices answer side by side: a submitted URB is taken
// at once and answered on its device's own thread, so a request the bench
// paces (an EEPROM write waiting out its write cycles) holds up no other
// device. libusb learns of answers by reaping, and a device file is always
// ready to poll, so a reap that finds nothing is held back (until a URB
// of any device is answered, at most kReapWaitMs) rather than let the
// event loop spin.
class CUsbEmulation {
public:
    // Interface 0's endpoints, in descriptor order (pipe 0 first).
    static constexpr std::uint8_t kEndpoints[] = {0x01, 0x81, 0x02, 0x82};
    static constexpr int kReapWaitMs = 10;

    // Where a device sits: bus number and ports from the root hub down
    // (one port: plugged into the root hub).
    struct Place {
        int bus = 1;
        std::vector<int> ports;
    };

    // One request as the emulated device saw it.
    struct Transfer {
        int benchIndex = 0;
        bool control = false;
        std::uint8_t endpoint = 0;  // bulk: the endpoint address
        std::uint8_t setup[8] = {};  // control: the setup packet
        std::uint32_t length = 0;    // data stage or bulk length asked for
        std::uint32_t actual = 0;    // bytes moved
        int status = 0;              // 0 or the negative errno given
    };

    // Creates the testbed (empty: no buses). `bench` must outlive it.
    explicit CUsbEmulation(sim::SimBench& bench);
    ~CUsbEmulation();

    CUsbEmulation(const CUsbEmulation&) = delete;
    CUsbEmulation& operator=(const CUsbEmulation&) = delete;

    // Adds bench device `benchIndex` at `place` (an arrival for a libusb
    // that runs already); returns its device node
    // ("/dev/bus/usb/001/002"). Addresses count up per bus. Throws
    // std::runtime_error when the bench has no such device or the place is
    // taken.
    std::string AddDevice(int benchIndex, const Place& place);
    // Every bench device, in bench order, on bus 1 ports 1, 2, 3...
    void AddAllDevices();
    // A device that is not an EZ-USB chip (a hub or a mouse), for the
    // tests that check such devices are not counted.
    std::string AddForeignDevice(std::uint16_t vendor, std::uint16_t product, const Place& place);

    // Pulls the cable: from now on every request on the device fails with
    // ENODEV, and the device leaves the bus.
    void Unplug(int benchIndex);
    // The cable comes out in the middle of a command: the device answers
    // `requests` more URBs, then fails every request with ENODEV (it stays
    // listed on the bus until Unplug).
    void VanishAfter(int benchIndex, int requests);
    // The next `count` bulk reads on the device send `bytes` fewer bytes
    // than asked (as a device that sends a short packet).
    void ShortenBulkReads(int benchIndex, int count, std::uint32_t bytes);
    // Makes the device node unreadable (mode 0000), as a device without a
    // udev rule is to a user who is not root.
    void DenyAccess(int benchIndex);

    // Interface claims and releases the device received.
    int Claims(int benchIndex) const;
    int Releases(int benchIndex) const;

    // The last kTransferLogBound requests the emulated devices received, in order.
    static constexpr std::size_t kTransferLogBound = 4096;
    std::vector<Transfer> Transfers() const;
    void ClearTransfers();

    // The testbed's root folder (UMOCKDEV_DIR).
    std::string RootDir() const;

    struct Device;
    struct Urb;
    struct Worker;
    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// True when this process runs with umockdev's preload library.
bool PreloadActive();

// Starts this program again (/proc/self/exe, same arguments) with
// umockdev's preload library in LD_PRELOAD, and, for sanitizer builds,
// without the sanitizer's library-order check. Returns only on failure,
// with errno's text in `error`.
void ReexecWithPreload(char** argv, std::string& error);

// The environment entries a child process needs to see the emulation:
// LD_PRELOAD and ASAN_OPTIONS as ReexecWithPreload sets them (UMOCKDEV_DIR
// is already in this process's environment once a testbed exists).
void PrepareChildEnvironment();

}  // namespace spindle::usbemu
