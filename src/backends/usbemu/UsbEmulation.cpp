#include "usbemu/UsbEmulation.h"

// usbdevfs.h needs the ioctl macros first.
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <utility>
#include <set>
#include <stdexcept>
#include <thread>

#include "device/EzusbRequests.h"
#include "platform/Format.h"
#include "sim/SimBench.h"
#include "sim/SimDevice.h"

namespace spindle::usbemu {

namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr const char* kPendingKey = "spindle-pending-urbs";
constexpr const char* kInProcessKey = "spindle-in-process";

// Standard requests and descriptor types the emulation answers itself.
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kDeviceDescriptorType = 1;
constexpr std::uint8_t kConfigurationDescriptorType = 2;
constexpr std::uint8_t kStringDescriptorType = 3;
constexpr std::uint8_t kAnchorLoad = 0xA0;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) text += StrPrintf("%02x", byte);
    return text;
}

// Interface 0 (vendor class) with the bulk endpoints, in one configuration.
std::vector<std::uint8_t> ConfigurationDescriptor(std::uint16_t maxPacket) {
    const std::size_t endpoints = std::size(CUsbEmulation::kEndpoints);
    const std::size_t total = 9 + 9 + 7 * endpoints;
    std::vector<std::uint8_t> bytes = {9, kConfigurationDescriptorType,
                                       static_cast<std::uint8_t>(total & 0xFF), static_cast<std::uint8_t>(total >> 8),
                                       1, 1, 0, 0x80, 50};
    const std::vector<std::uint8_t> interface = {9, 4, 0, 0, static_cast<std::uint8_t>(endpoints), 0xFF, 0, 0, 0};
    bytes.insert(bytes.end(), interface.begin(), interface.end());
    for (const std::uint8_t address : CUsbEmulation::kEndpoints) {
        const std::vector<std::uint8_t> endpoint = {7, 5, address, 0x02, static_cast<std::uint8_t>(maxPacket & 0xFF),
                                                    static_cast<std::uint8_t>(maxPacket >> 8), 0};
        bytes.insert(bytes.end(), endpoint.begin(), endpoint.end());
    }
    return bytes;
}

}  // namespace

struct CUsbEmulation::Device {
    int benchIndex = 0;
    std::string node;     // /dev/bus/usb/BBB/DDD
    std::string sysPath;  // /sys/devices/...
    DeviceHandle simHandle = kInvalidHandle;
    std::vector<std::uint8_t> configuration;  // the configuration descriptor
    std::uint16_t cpucs = 0;
    bool unplugged = false;
    int claims = 0;
    int releases = 0;
    int answersLeft = -1;  // URBs answered before the device vanishes; -1: no limit
    int shortReads = 0;
    std::uint32_t shortBy = 0;
    std::shared_ptr<Worker> worker;
};

// Where a reap's answer goes: the client's pointer to fill in, as umockdev's
// copy, or in place for a client in this process.
struct ReapTarget {
    UMockdevIoctlData* pointer = nullptr;
    void** slot = nullptr;
};

// References to umockdev's objects, given up when dropped.
struct Unref {
    void operator()(UMockdevIoctlData* data) const { umockdev_ioctl_data_unref(data); }
    void operator()(UMockdevIoctlClient* client) const { g_object_unref(client); }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, Unref>;
using ClientRef = std::unique_ptr<UMockdevIoctlClient, Unref>;

// One submitted URB. Its answer reaches the client only when the URB is
// reaped: the worker answers into the device's own copy of the data stage,
// `bytes`. A client in another process is reached through umockdev's
// copies of its URB and buffer; one in this process through its URB itself.
struct CUsbEmulation::Urb {
    ClientRef client;  // while queued
    DataRef urbData;
    DataRef buffer;  // null without a data stage
    usbdevfs_urb* inPlace = nullptr;  // this process's URB (urbData is null then)
    unsigned char type = 0;
    unsigned char endpoint = 0;
    std::vector<std::uint8_t> bytes;
    bool toHost = false;
    int status = -ENODEV;
    std::uint32_t actual = 0;
};

namespace {

// A client's URBs that its device's worker answered, waiting to be reaped,
// and how many it has not answered yet. Kept on the client object, so a
// closed connection drops its own; used under Impl::reapLock.
struct PendingUrbs {
    std::deque<CUsbEmulation::Urb> urbs;
    int inFlight = 0;
};

void DestroyPending(gpointer pending) { delete static_cast<PendingUrbs*>(pending); }

// The pointer an ioctl was called with.
void* ArgPointer(const UMockdevIoctlData* arg) {
    void* pointer = nullptr;
    if (arg->data != nullptr && arg->data_len >= static_cast<gint>(sizeof pointer)) {
        std::memcpy(&pointer, arg->data, sizeof pointer);
    }
    return pointer;
}

// Whether a client runs in this process (the benchmarks, and the tests that
// drive libusb themselves, rather than a program they start). Its memory is
// then ours, and its URBs and buffers are read and written in place: that
// spares umockdev's round trips to the client for each (three per URB),
// which are most of a request's cost. Found at the client's first URB:
// umockdev's copy must match what this process holds at the client's
// address, read with process_vm_readv so that an address not mapped here
// fails instead of faulting. Remembered on the client object.
// ThreadSanitizer cannot see that a client waits on umockdev's socket while
// its memory is written here, so under it every client counts as elsewhere.
#if defined(__SANITIZE_THREAD__)
constexpr bool kInPlaceAllowed = false;
#else
constexpr bool kInPlaceAllowed = true;
#endif

bool InProcess(UMockdevIoctlClient* client, const UMockdevIoctlData* urbData) {
    gpointer known = g_object_get_data(G_OBJECT(client), kInProcessKey);
    if (known == nullptr) {
        usbdevfs_urb here{};
        iovec local{&here, sizeof here};
        iovec remote{reinterpret_cast<void*>(urbData->client_addr), sizeof here};
        const bool same = kInPlaceAllowed && urbData->client_addr != 0 && urbData->data_len == static_cast<gint>(sizeof here) &&
                          process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(sizeof here) &&
                          std::memcmp(&here, urbData->data, sizeof here) == 0;
        known = GINT_TO_POINTER(same ? 1 : 2);
        g_object_set_data(G_OBJECT(client), kInProcessKey, known);
    }
    return known == GINT_TO_POINTER(1);
}

bool KnownInProcess(UMockdevIoctlClient* client) {
    return g_object_get_data(G_OBJECT(client), kInProcessKey) == GINT_TO_POINTER(1);
}

PendingUrbs& PendingOf(UMockdevIoctlClient* client) {
    auto* pending = static_cast<PendingUrbs*>(g_object_get_data(G_OBJECT(client), kPendingKey));
    if (pending == nullptr) {
        pending = new PendingUrbs;
        g_object_set_data_full(G_OBJECT(client), kPendingKey, pending, DestroyPending);
    }
    return *pending;
}

}  // namespace

// The thread that answers one device's URBs in the order they came, as the
// device does, so that one device's long request (an EEPROM write waiting
// out its write cycles) holds up neither umockdev's thread nor another
// device.
struct CUsbEmulation::Worker {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Urb> queue;
    bool stop = false;
    std::thread thread;
};

struct CUsbEmulation::Impl {
    sim::SimBench& bench;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::map<int, int> nextAddress;  // per bus
    std::map<std::string, std::string> placesTaken;

    mutable std::mutex lock;
    std::map<std::string, Device> devices;  // by device node
    std::deque<Transfer> transfers;

    // Every client's PendingUrbs, and the one reap held back: libusb's
    // event loop reaps each device file in turn, so it is held only on a
    // file whose client awaits an answer (its own thread cannot submit
    // meanwhile), and only once per round of the loop after an answer was
    // handed out (`armed`; `seen` holds the files reaped since), so a
    // round that found an answer ends at once and libusb wakes its waiter.
    std::mutex reapLock;
    std::condition_variable reapWake;
    UMockdevIoctlClient* heldClient = nullptr;
    ReapTarget heldTarget;
    std::uint64_t wakeups = 0;  // URBs answered and devices unplugged so far
    std::uint64_t wakeupsWhenHeld = 0;
    bool armed = true;
    std::set<UMockdevIoctlClient*> seen;
    bool stopping = false;
    std::thread releaser;  // gives the held reap its answer

    explicit Impl(sim::SimBench& simBench) : bench(simBench) {
        releaser = std::thread([this] { ReleaseHeldReaps(); });
    }

    std::string AddNode(const std::string& header, const Place& place, const std::vector<std::uint8_t>& descriptors,
                        int speed, std::string& sysPath, bool withHandler);
    static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    gboolean Ioctl(UMockdevIoctlClient* client);
    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    // Completes a reap with `urb`'s answer, or with EAGAIN (ENODEV once the
    // device is gone) when there is none.
    void AnswerReap(UMockdevIoctlClient* client, ReapTarget target, std::optional<Urb> urb, bool gone);
    // Takes the held reap and, when it has one, its client's first answer;
    // the rest of libusb's round goes on at once. Call with reapLock held.
    UMockdevIoctlClient* TakeHeldReap(ReapTarget& target, std::optional<Urb>& urb);
    // Completes a reap taken with TakeHeldReap. Call without reapLock.
    void AnswerHeldReap(UMockdevIoctlClient* client, ReapTarget target, std::optional<Urb> urb);
    void ReleaseHeldReaps();
    void Serve(Worker& worker);
    void Answer(Urb& job);
    int Control(Device& device, const std::uint8_t* setup, std::uint8_t* data, std::uint32_t length,
                std::uint32_t& actual);
    int Bulk(Device& device, std::uint8_t endpoint, std::uint8_t* data, std::uint32_t length, std::uint32_t& actual);
    Device* DeviceByIndex(int benchIndex);
    // The device a client's node belongs to, while it is plugged in; null
    // once unplugged. Call with the lock held.
    Device* PluggedDeviceOf(UMockdevIoctlClient* client) {
        const auto found = devices.find(umockdev_ioctl_client_get_devnode(client));
        return found == devices.end() || found->second.unplugged ? nullptr : &found->second;
    }
    const Device* DeviceByIndex(int benchIndex) const {
        return const_cast<Impl*>(this)->DeviceByIndex(benchIndex);
    }
};

CUsbEmulation::CUsbEmulation(sim::SimBench& bench) : impl_(std::make_unique<Impl>(bench)) {
    impl_->testbed = umockdev_testbed_new();
    impl_->handler = umockdev_ioctl_base_new();
    g_signal_connect(impl_->handler, "handle-ioctl", G_CALLBACK(Impl::OnIoctl), impl_.get());
}

CUsbEmulation::~CUsbEmulation() {
    std::vector<std::shared_ptr<Worker>> workers;
    {
        const std::lock_guard<std::mutex> guard(impl_->lock);
        for (auto& [node, device] : impl_->devices) {
            if (device.worker) workers.push_back(device.worker);
        }
    }
    for (const std::shared_ptr<Worker>& worker : workers) {
        {
            const std::lock_guard<std::mutex> guard(worker->lock);
            worker->stop = true;
        }
        worker->wake.notify_all();
        worker->thread.join();
    }
    {
        const std::lock_guard<std::mutex> guard(impl_->reapLock);
        impl_->stopping = true;
    }
    impl_->reapWake.notify_all();
    impl_->releaser.join();
    {
        const std::lock_guard<std::mutex> guard(impl_->lock);
        for (auto& [node, device] : impl_->devices) {
            if (device.simHandle != kInvalidHandle) impl_->bench.Close(device.simHandle);
        }
    }
    g_object_unref(impl_->testbed);
    g_object_unref(impl_->handler);
}

std::string CUsbEmulation::RootDir() const {
    gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
    std::string text = root;
    g_free(root);
    return text;
}

std::string CUsbEmulation::Impl::AddNode(const std::string& header, const Place& place,
                                         const std::vector<std::uint8_t>& descriptors, int speed,
                                         std::string& sysPath, bool withHandler) {
    if (place.ports.empty()) throw std::runtime_error("an emulated device needs a port");
    std::string name = StrPrintf("%d-", place.bus);
    for (std::size_t i = 0; i < place.ports.size(); ++i) name += StrPrintf(i == 0 ? "%d" : ".%d", place.ports[i]);
    if (placesTaken.count(name) != 0) throw std::runtime_error("USB place " + name + " is taken");

    // The root hub of the bus first, so the device has a parent.
    if (nextAddress.count(place.bus) == 0) {
        nextAddress[place.bus] = 2;
        const std::string hub = StrPrintf(
            "P: /devices/spindle/usb%d\nN: bus/usb/%03d/001\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
            "E: DRIVER=usb\nE: BUSNUM=%03d\nE: DEVNUM=001\nE: DEVNAME=/dev/bus/usb/%03d/001\n"
            "A: busnum=%d\\n\nA: devnum=1\\n\nA: devpath=0\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
            "H: descriptors=12010002090001406b1d020006050302010109021900010100e0000904000001090000000705810304000c\n",
            place.bus, place.bus, place.bus, place.bus, place.bus);
        if (!umockdev_testbed_add_from_string(testbed, hub.c_str(), nullptr)) {
            throw std::runtime_error("cannot add an emulated root hub");
        }
    }
    const int address = nextAddress[place.bus]++;
    std::string parent = StrPrintf("/devices/spindle/usb%d", place.bus);
    // Intermediate hubs are folders only: enough for the port path.
    std::string path = parent + "/" + name;
    std::string devpath;
    for (std::size_t i = 0; i < place.ports.size(); ++i) devpath += StrPrintf(i == 0 ? "%d" : ".%d", place.ports[i]);
    const std::string node = StrPrintf("/dev/bus/usb/%03d/%03d", place.bus, address);
    if (withHandler && !umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, nullptr)) {
        throw std::runtime_error("cannot attach the emulated device's handler");
    }
    const std::string record = StrPrintf(
        "P: %s\nN: bus/usb/%03d/%03d\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        "E: BUSNUM=%03d\nE: DEVNUM=%03d\nE: DEVNAME=%s\n%s"
        "A: busnum=%d\\n\nA: devnum=%d\\n\nA: devpath=%s\\n\nA: bConfigurationValue=1\\n\nA: speed=%d\\n\n"
        "H: descriptors=%s\n",
        path.c_str(), place.bus, address, place.bus, address, node.c_str(), header.c_str(), place.bus, address,
        devpath.c_str(), speed, Hex(descriptors).c_str());
    if (!umockdev_testbed_add_from_string(testbed, record.c_str(), nullptr)) {
        throw std::runtime_error("cannot add the emulated device " + name);
    }
    placesTaken[name] = node;
    sysPath = "/sys" + path;
    return node;
}

std::string CUsbEmulation::AddDevice(int benchIndex, const Place& place) {
    const std::shared_ptr<sim::SimDevice> simDevice = impl_->bench.Device(benchIndex);
    if (!simDevice) throw std::runtime_error(StrPrintf("the bench has no device %d", benchIndex));
    const DeviceHandle handle = impl_->bench.Open(DevicePath(DeviceName(benchIndex)));
    if (handle == kInvalidHandle) throw std::runtime_error(StrPrintf("bench device %d cannot be opened", benchIndex));

    std::uint8_t descriptor[18] = {};
    std::uint32_t returned = 0;
    if (!impl_->bench.IoControl(handle, ioctl::kGetDeviceDescriptor, nullptr, 0, descriptor, sizeof descriptor,
                                &returned) ||
        returned != sizeof descriptor) {
        impl_->bench.Close(handle);
        throw std::runtime_error(StrPrintf("bench device %d gives no device descriptor", benchIndex));
    }
    const bool fx2 = simDevice->Chip() == sim::ChipKind::Fx2;
    std::vector<std::uint8_t> descriptors(descriptor, descriptor + sizeof descriptor);
    const std::vector<std::uint8_t> configuration = ConfigurationDescriptor(fx2 ? 512 : 64);
    descriptors.insert(descriptors.end(), configuration.begin(), configuration.end());

    std::string sysPath;
    const std::string node = impl_->AddNode("", place, descriptors, fx2 ? 480 : 12, sysPath, true);
    Device device;
    device.benchIndex = benchIndex;
    device.node = node;
    device.sysPath = sysPath;
    device.simHandle = handle;
    device.configuration = configuration;
    device.cpucs = sim::CpucsAddressOf(simDevice->Chip());
    device.worker = std::make_shared<Worker>();
    Worker& worker = *device.worker;
    {
        const std::lock_guard<std::mutex> guard(impl_->lock);
        impl_->devices[node] = device;
    }
    worker.thread = std::thread([this, &worker] { impl_->Serve(worker); });
    // A libusb that runs already hears of it as of a plugged device.
    umockdev_testbed_uevent(impl_->testbed, sysPath.c_str(), "add");
    return node;
}

void CUsbEmulation::AddAllDevices() {
    int port = 1;
    for (const int index : impl_->bench.DeviceIndexes()) AddDevice(index, Place{1, {port++}});
}

std::string CUsbEmulation::AddForeignDevice(std::uint16_t vendor, std::uint16_t product, const Place& place) {
    std::vector<std::uint8_t> descriptors = {18,   1,    0x00, 0x02, 0, 0, 0, 64,
                                             static_cast<std::uint8_t>(vendor & 0xFF),
                                             static_cast<std::uint8_t>(vendor >> 8),
                                             static_cast<std::uint8_t>(product & 0xFF),
                                             static_cast<std::uint8_t>(product >> 8),
                                             0x00, 0x01, 0, 0, 0, 1};
    const std::vector<std::uint8_t> configuration = ConfigurationDescriptor(64);
    descriptors.insert(descriptors.end(), configuration.begin(), configuration.end());
    std::string sysPath;
    return impl_->AddNode("", place, descriptors, 12, sysPath, false);
}

CUsbEmulation::Device* CUsbEmulation::Impl::DeviceByIndex(int benchIndex) {
    for (auto& [node, device] : devices) {
        if (device.benchIndex == benchIndex) return &device;
    }
    return nullptr;
}

void CUsbEmulation::Unplug(int benchIndex) {
    std::string sysPath;
    std::string node;
    {
        const std::lock_guard<std::mutex> guard(impl_->lock);
        Device* device = impl_->DeviceByIndex(benchIndex);
        if (device == nullptr || device->sysPath.empty()) return;
        device->unplugged = true;
        sysPath = device->sysPath;
        node = device->node;
        device->sysPath.clear();
    }
    // The node goes at once, so no new open reaches the device, whenever
    // libusb hears of the removal.
    {
        const std::lock_guard<std::mutex> guard(impl_->reapLock);
        ++impl_->wakeups;
    }
    impl_->reapWake.notify_all();
    umockdev_testbed_detach_ioctl(impl_->testbed, node.c_str(), nullptr);
    umockdev_testbed_uevent(impl_->testbed, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(impl_->testbed, sysPath.c_str());
}

void CUsbEmulation::VanishAfter(int benchIndex, int requests) {
    const std::lock_guard<std::mutex> guard(impl_->lock);
    Device* device = impl_->DeviceByIndex(benchIndex);
    if (device != nullptr) device->answersLeft = requests;
}

void CUsbEmulation::ShortenBulkReads(int benchIndex, int count, std::uint32_t bytes) {
    const std::lock_guard<std::mutex> guard(impl_->lock);
    Device* device = impl_->DeviceByIndex(benchIndex);
    if (device == nullptr) return;
    device->shortReads = count;
    device->shortBy = bytes;
}

void CUsbEmulation::DenyAccess(int benchIndex) {
    std::string node;
    {
        const std::lock_guard<std::mutex> guard(impl_->lock);
        Device* device = impl_->DeviceByIndex(benchIndex);
        if (device == nullptr) return;
        node = device->node;
    }
    const std::string file = RootDir() + node;
    ::chmod(file.c_str(), 0);
}

int CUsbEmulation::Claims(int benchIndex) const {
    const std::lock_guard<std::mutex> guard(impl_->lock);
    const Device* device = impl_->DeviceByIndex(benchIndex);
    return device != nullptr ? device->claims : 0;
}

int CUsbEmulation::Releases(int benchIndex) const {
    const std::lock_guard<std::mutex> guard(impl_->lock);
    const Device* device = impl_->DeviceByIndex(benchIndex);
    return device != nullptr ? device->releases : 0;
}

std::vector<CUsbEmulation::Transfer> CUsbEmulation::Transfers() const {
    const std::lock_guard<std::mutex> guard(impl_->lock);
    return {impl_->transfers.begin(), impl_->transfers.end()};
}

void CUsbEmulation::ClearTransfers() {
    const std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->transfers.clear();
}

gboolean CUsbEmulation::Impl::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Impl*>(self)->Ioctl(client);
}

gboolean CUsbEmulation::Impl::Ioctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
            if (caps == nullptr) {
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return TRUE;
            }
            // One URB a transfer, whatever its size.
            const std::uint32_t value = USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER;
            umockdev_ioctl_data_update(caps, 0, reinterpret_cast<guint8*>(const_cast<std::uint32_t*>(&value)),
                                       sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER:
            // No kernel driver is bound to any interface.
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return TRUE;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:  // claim, setting any kernel driver aside
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP: {
            const std::lock_guard<std::mutex> guard(lock);
            Device* device = PluggedDeviceOf(client);
            if (device != nullptr && (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_DISCONNECT_CLAIM)) {
                ++device->claims;
            }
            if (device != nullptr && request == USBDEVFS_RELEASEINTERFACE) ++device->releases;
            umockdev_ioctl_client_complete(client, device == nullptr ? -1 : 0, device == nullptr ? ENODEV : 0);
            return TRUE;
        }
        case USBDEVFS_SUBMITURB:
            Submit(client, arg);
            return TRUE;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            Reap(client, arg);
            return TRUE;
        case USBDEVFS_DISCARDURB:
            // Every URB completes when submitted: nothing is left to discard.
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
    }
}

void CUsbEmulation::Impl::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Urb job;
    UMockdevIoctlData* urbData = nullptr;
    if (KnownInProcess(client)) {
        job.inPlace = static_cast<usbdevfs_urb*>(ArgPointer(arg));
    } else if ((urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr)) != nullptr &&
               InProcess(client, urbData)) {
        job.inPlace = reinterpret_cast<usbdevfs_urb*>(urbData->client_addr);
        urbData = nullptr;  // umockdev's copy holds the same bytes and is not changed
    }
    usbdevfs_urb urb{};
    if (job.inPlace != nullptr || urbData != nullptr) {
        std::memcpy(&urb, job.inPlace != nullptr ? static_cast<const void*>(job.inPlace) : urbData->data, sizeof urb);
    }
    const std::uint32_t length = urb.buffer_length > 0 ? static_cast<std::uint32_t>(urb.buffer_length) : 0;
    UMockdevIoctlData* buffer = nullptr;
    const std::uint8_t* bytes = nullptr;
    if (length > 0 && job.inPlace != nullptr) {
        bytes = static_cast<const std::uint8_t*>(urb.buffer);
    } else if (length > 0 && urbData != nullptr) {
        buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), length, nullptr);
        if (buffer != nullptr) bytes = buffer->data;
    }
    if ((job.inPlace == nullptr && urbData == nullptr) || (length > 0 && bytes == nullptr)) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    if (bytes != nullptr) job.bytes.assign(bytes, bytes + length);
    job.type = urb.type;
    job.endpoint = urb.endpoint;
    const bool control = job.type == USBDEVFS_URB_TYPE_CONTROL;
    if ((!control && job.type != USBDEVFS_URB_TYPE_BULK) || (control && length < 8)) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    job.toHost = control ? (job.bytes[0] & 0x80) != 0 : (job.endpoint & 0x80) != 0;
    std::shared_ptr<Worker> worker;
    {
        const std::lock_guard<std::mutex> guard(lock);
        Device* device = PluggedDeviceOf(client);
        if (device != nullptr && device->answersLeft == 0) device->unplugged = true;
        if (device == nullptr || device->unplugged) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        if (device->answersLeft > 0) --device->answersLeft;
        worker = device->worker;
    }
    job.client.reset(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
    if (urbData != nullptr) job.urbData.reset(umockdev_ioctl_data_ref(urbData));
    if (buffer != nullptr) job.buffer.reset(umockdev_ioctl_data_ref(buffer));
    {
        const std::lock_guard<std::mutex> guard(reapLock);
        ++PendingOf(client).inFlight;
    }
    {
        const std::lock_guard<std::mutex> guard(worker->lock);
        worker->queue.push_back(std::move(job));
    }
    worker->wake.notify_one();
    // Taken: the answer comes with a later reap.
    umockdev_ioctl_client_complete(client, 0, 0);
}

void CUsbEmulation::Impl::Serve(Worker& worker) {
    std::unique_lock<std::mutex> guard(worker.lock);
    for (;;) {
        worker.wake.wait(guard, [&worker] { return worker.stop || !worker.queue.empty(); });
        if (worker.queue.empty()) return;  // stopping, and nothing left to answer
        Urb job = std::move(worker.queue.front());
        worker.queue.pop_front();
        guard.unlock();
        Answer(job);
        guard.lock();
    }
}

void CUsbEmulation::Impl::Answer(Urb& job) {
    Transfer transfer;
    transfer.endpoint = job.endpoint;
    transfer.length = static_cast<std::uint32_t>(job.bytes.size());
    Device* device = nullptr;
    {
        const std::lock_guard<std::mutex> guard(lock);
        const auto found = devices.find(umockdev_ioctl_client_get_devnode(job.client.get()));
        // A device unplugged meanwhile answers nothing more.
        if (found != devices.end() && !found->second.unplugged) device = &found->second;
        if (device != nullptr) transfer.benchIndex = device->benchIndex;
    }
    // The bench's request runs outside the lock: it may wait out the
    // device's own time.
    std::uint8_t* data = job.bytes.data();
    if (device != nullptr && job.type == USBDEVFS_URB_TYPE_CONTROL) {
        transfer.control = true;
        std::memcpy(transfer.setup, data, 8);
        transfer.length -= 8;
        job.status = Control(*device, data, data + 8, transfer.length, job.actual);
    } else if (device != nullptr) {
        job.status = Bulk(*device, job.endpoint, data, transfer.length, job.actual);
    }
    if (device != nullptr) {
        transfer.actual = job.actual;
        transfer.status = job.status;
        const std::lock_guard<std::mutex> guard(lock);
        if (transfers.size() >= kTransferLogBound) transfers.pop_front();
        transfers.push_back(transfer);
    }
    ClientRef client = std::move(job.client);
    UMockdevIoctlClient* held = nullptr;
    ReapTarget target;
    std::optional<Urb> answer;
    {
        const std::lock_guard<std::mutex> guard(reapLock);
        PendingUrbs& pending = PendingOf(client.get());
        pending.urbs.push_back(std::move(job));
        --pending.inFlight;
        ++wakeups;
        // The client's own reap waits for this answer: it is given here,
        // a thread's wake-up sooner than the releaser could.
        if (heldClient == client.get()) held = TakeHeldReap(target, answer);
        // A closed client's last reference goes here: the sanitizer sees no GLib refcount.
        client.reset();
    }
    if (held != nullptr) {
        AnswerHeldReap(held, target, std::move(answer));
    } else {
        reapWake.notify_all();
    }
}

void CUsbEmulation::Impl::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    bool gone = false;
    {
        const std::lock_guard<std::mutex> guard(lock);
        gone = PluggedDeviceOf(client) == nullptr;
    }
    // A client elsewhere has its URB pointer fetched (a round trip) only
    // for an answer or a held reap: most reaps find nothing.
    ReapTarget target;
    if (KnownInProcess(client)) target.slot = static_cast<void**>(ArgPointer(arg));
    std::optional<Urb> urb;
    for (;;) {
        std::unique_lock<std::mutex> guard(reapLock);
        PendingUrbs& pending = PendingOf(client);
        const bool hold = pending.urbs.empty();
        if (hold) {
            if (pending.inFlight == 0 || heldClient != nullptr || stopping) break;
            if (!armed && !seen.insert(client).second) armed = true;  // a new round
            if (!armed) break;
        }
        if (target.pointer == nullptr && target.slot == nullptr) {
            guard.unlock();
            target.pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
            if (target.pointer == nullptr) {
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return;
            }
            continue;  // and look again
        }
        if (hold) {
            heldClient = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
            heldTarget = target;
            wakeupsWhenHeld = wakeups;
            reapWake.notify_all();
            return;
        }
        urb = std::move(pending.urbs.front());
        pending.urbs.pop_front();
        // An answer ends libusb's round: the files after this one are not
        // held up.
        armed = false;
        seen.clear();
        break;
    }
    AnswerReap(client, target, std::move(urb), gone);
}

void CUsbEmulation::Impl::AnswerReap(UMockdevIoctlClient* client, ReapTarget target, std::optional<Urb> urb,
                                     bool gone) {
    if (!urb) {
        umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
        return;
    }
    if (urb->inPlace != nullptr && target.slot != nullptr) {
        usbdevfs_urb* answered = urb->inPlace;
        if (urb->toHost && answered->buffer != nullptr) {
            std::memcpy(answered->buffer, urb->bytes.data(), urb->bytes.size());
        }
        answered->status = urb->status;
        answered->actual_length = static_cast<int>(urb->actual);
        *target.slot = answered;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    UMockdevIoctlData* pointer = target.pointer;
    if (urb->toHost && urb->buffer) {
        umockdev_ioctl_data_update(urb->buffer.get(), 0, urb->bytes.data(), static_cast<gint>(urb->bytes.size()));
    }
    // The resolved (local) buffer pointer stays: the flush swaps the client's back in.
    usbdevfs_urb answered{};
    std::memcpy(&answered, urb->urbData->data, sizeof answered);
    answered.status = urb->status;
    answered.actual_length = static_cast<int>(urb->actual);
    umockdev_ioctl_data_update(urb->urbData.get(), 0, reinterpret_cast<guint8*>(&answered), sizeof answered);
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->urbData.get());
    umockdev_ioctl_client_complete(client, 0, 0);
}

UMockdevIoctlClient* CUsbEmulation::Impl::TakeHeldReap(ReapTarget& target, std::optional<Urb>& urb) {
    UMockdevIoctlClient* client = heldClient;
    target = heldTarget;
    heldClient = nullptr;
    heldTarget = {};
    PendingUrbs& pending = PendingOf(client);
    if (!pending.urbs.empty()) {
        urb = std::move(pending.urbs.front());
        pending.urbs.pop_front();
    }
    armed = false;
    seen = {client};
    return client;
}

void CUsbEmulation::Impl::AnswerHeldReap(UMockdevIoctlClient* client, ReapTarget target, std::optional<Urb> urb) {
    bool gone = false;
    {
        const std::lock_guard<std::mutex> devicesGuard(lock);
        gone = PluggedDeviceOf(client) == nullptr;
    }
    AnswerReap(client, target, std::move(urb), gone);
    const std::lock_guard<std::mutex> guard(reapLock);
    g_object_unref(client);  // as in Answer: under the lock
}

void CUsbEmulation::Impl::ReleaseHeldReaps() {
    std::unique_lock<std::mutex> guard(reapLock);
    while (!stopping) {
        if (heldClient == nullptr) {
            reapWake.wait(guard);
            continue;
        }
        // Another device's answer, an unplug or the time limit ends the
        // wait (the held client's own answer is given by its worker).
        reapWake.wait_for(guard, std::chrono::milliseconds(kReapWaitMs),
                          [this] { return stopping || heldClient == nullptr || wakeups != wakeupsWhenHeld; });
        if (heldClient == nullptr) continue;
        ReapTarget target;
        std::optional<Urb> urb;
        UMockdevIoctlClient* client = TakeHeldReap(target, urb);
        guard.unlock();
        AnswerHeldReap(client, target, std::move(urb));
        guard.lock();
    }
}

int CUsbEmulation::Impl::Control(Device& device, const std::uint8_t* setup, std::uint8_t* data, std::uint32_t length,
                                 std::uint32_t& actual) {
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const std::uint16_t value = DecodeLe16(setup + 2);
    const std::uint16_t index = DecodeLe16(setup + 4);
    const bool in = (requestType & 0x80) != 0;
    const std::uint32_t wanted = std::min<std::uint32_t>(DecodeLe16(setup + 6), length);
    std::uint32_t returned = 0;

    if ((requestType & 0x60) == 0x00) {  // standard
        if (request != kGetDescriptor || !in) return 0;
        const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
        std::vector<std::uint8_t> reply;
        if (type == kDeviceDescriptorType) {
            reply.resize(18);
            if (!bench.IoControl(device.simHandle, ioctl::kGetDeviceDescriptor, nullptr, 0, reply.data(), 18,
                                 &returned)) {
                return -EPIPE;
            }
            reply.resize(returned);
        } else if (type == kConfigurationDescriptorType) {
            reply = device.configuration;
        } else if (type == kStringDescriptorType) {
            const std::uint8_t block[4] = {static_cast<std::uint8_t>(value & 0xFF), 0,
                                           static_cast<std::uint8_t>(index & 0xFF),
                                           static_cast<std::uint8_t>(index >> 8)};
            reply.resize(400);
            if (!bench.IoControl(device.simHandle, ioctl::kGetStringDescriptor, block, sizeof block, reply.data(),
                                 400, &returned)) {
                return -EPIPE;
            }
            reply.resize(returned);
        } else {
            return -EPIPE;
        }
        actual = std::min<std::uint32_t>(wanted, static_cast<std::uint32_t>(reply.size()));
        std::memcpy(data, reply.data(), actual);
        return 0;
    }

    if (request == kAnchorLoad && !in) {
        if (value == device.cpucs && wanted == 1) {
            ResetRequestBlock block;
            block.value = value;
            block.index = index;
            block.data = data[0];
            const auto bytes = block.Encode();
            if (!bench.IoControl(device.simHandle, ioctl::kVendorRequest, bytes.data(), bytes.size(), nullptr, 0,
                                 nullptr)) {
                return -EPIPE;
            }
            actual = 1;
            return 0;
        }
        const std::uint8_t address[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
        if (!bench.IoControl(device.simHandle, ioctl::kAnchorDownload, address, sizeof address, data, wanted,
                             &returned)) {
            return -EPIPE;
        }
        actual = returned;
        return 0;
    }

    VendorRequestControl block;
    block.direction = in ? 1 : 0;
    block.requestType = static_cast<std::uint8_t>((requestType >> 5) & 0x03);
    block.recipient = static_cast<std::uint8_t>(requestType & 0x1F);
    block.request = request;
    block.value = value;
    block.index = index;
    const auto bytes = block.Encode();
    if (!bench.IoControl(device.simHandle, ioctl::kVendorOrClassRequest, bytes.data(), bytes.size(), data, wanted,
                         &returned)) {
        return -EPIPE;
    }
    actual = returned;
    return 0;
}

int CUsbEmulation::Impl::Bulk(Device& device, std::uint8_t endpoint, std::uint8_t* data, std::uint32_t length,
                              std::uint32_t& actual) {
    const std::uint8_t* position = std::find(std::begin(kEndpoints), std::end(kEndpoints), endpoint);
    if (position == std::end(kEndpoints)) return -ENOENT;
    const auto pipe = EncodePipeNumber(static_cast<std::uint32_t>(position - std::begin(kEndpoints)));
    const bool in = (endpoint & 0x80) != 0;
    std::uint32_t returned = 0;
    if (!bench.IoControl(device.simHandle, in ? ioctl::kBulkRead : ioctl::kBulkWrite, pipe.data(), pipe.size(), data,
                         length, &returned)) {
        return -EPIPE;
    }
    const std::lock_guard<std::mutex> guard(lock);
    if (in && device.shortReads > 0) {
        --device.shortReads;
        returned = returned > device.shortBy ? returned - device.shortBy : 0;
    }
    actual = returned;
    return 0;
}

namespace {

bool PreloadNamed() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

}  // namespace

bool PreloadActive() {
    // Loaded, not only named: the loader skips a preload library it cannot find.
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libumockdev-preload") != std::string::npos) return true;
    }
    return false;
}

void PrepareChildEnvironment() {
    if (!PreloadNamed()) {
        const char* existing = std::getenv("LD_PRELOAD");
        std::string value = kPreloadLibrary;
        if (existing != nullptr && *existing != '\0') value += std::string(":") + existing;
        setenv("LD_PRELOAD", value.c_str(), 1);
    }
    // The sanitizer runtime wants to be loaded first; the preload library
    // comes before it here, which is harmless.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr ? asan : "";
    if (options.find("verify_asan_link_order") == std::string::npos) {
        if (!options.empty()) options += ":";
        options += "verify_asan_link_order=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
    }
}

void ReexecWithPreload(char** argv, std::string& error) {
    if (PreloadNamed()) {
        // Started with it already and still not loaded: starting again would
        // only loop.
        error = std::string(kPreloadLibrary) + " is not installed (Debian package umockdev)";
        return;
    }
    PrepareChildEnvironment();
    ::execv("/proc/self/exe", argv);
    error = std::strerror(errno);
}

}  // namespace spindle::usbemu
