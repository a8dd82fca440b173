#include "usb/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <vector>

#include "device/EzusbRequests.h"
#include "platform/DebugTrace.h"
#include "device/UdevRules.h"
#include "platform/Format.h"
#include "usb/UsbMapping.h"

namespace spindle::usb {

namespace {

constexpr int kInterface = 0;
constexpr std::uint8_t kAlternateSetting = 0;

std::string ErrorName(int code) { return libusb_error_name(code); }

UsbLocation LocationOf(libusb_device* device, std::uint16_t vendor, std::uint16_t product) {
    UsbLocation location;
    location.bus = libusb_get_bus_number(device);
    location.address = libusb_get_device_address(device);
    location.vendor = vendor;
    location.product = product;
    std::uint8_t ports[8] = {};
    const int count = libusb_get_port_numbers(device, ports, static_cast<int>(sizeof ports));
    if (count > 0) location.ports.assign(ports, ports + count);
    return location;
}

// "bus-port.port...", as the kernel names the device's place.
std::string PortPath(const UsbLocation& location) {
    std::string place = StrPrintf("%u-", location.bus);
    for (std::size_t i = 0; i < location.ports.size(); ++i) {
        place += StrPrintf(i == 0 ? "%u" : ".%u", location.ports[i]);
    }
    return place;
}

// The place plus the address, so a device plugged again into the same port
// is a new device.
std::string LocationKey(const UsbLocation& location) { return PortPath(location) + StrPrintf("@%u", location.address); }

// The endpoints of interface 0, alternate setting 0, in descriptor order.
// This back end never selects another setting, and configuring a device
// puts every interface in setting 0.
std::vector<EndpointInfo> InterfaceEndpoints(libusb_device* device) {
    std::vector<EndpointInfo> endpoints;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS || config == nullptr) {
        return endpoints;
    }
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& setting = interface.altsetting[a];
            if (setting.bInterfaceNumber != kInterface || setting.bAlternateSetting != kAlternateSetting) continue;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                endpoints.push_back({setting.endpoint[e].bEndpointAddress, setting.endpoint[e].bmAttributes});
            }
        }
    }
    libusb_free_config_descriptor(config);
    return endpoints;
}

// Counts the arrivals and departures of EZ-USB devices into the driver's
// bus generation (the callback's user data).
int CountHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event, void* generation) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
        IsEzusbDevice(descriptor.idVendor, descriptor.idProduct)) {
        static_cast<std::atomic<std::uint64_t>*>(generation)->fetch_add(1);
    }
    return 0;  // stay registered
}

}  // namespace

// One opened device, shared by every handle to it.
struct CLibusbDriver::SharedDevice {
    std::string key;
    int index = -1;    // the N it was opened as; it keeps it while open
    std::string name;  // "Ezusb-N", for the trace
    libusb_device_handle* handle = nullptr;
    libusb_device_descriptor descriptor{};
    std::vector<EndpointInfo> endpoints;
    bool claimed = false;
    int opens = 0;     // handles of the table that name it
    int inFlight = 0;  // requests running on it now
};

// A request running on a device: keeps the device open until it ends, even
// when its handle is closed meanwhile by another thread.
class CLibusbDriver::Use {
public:
    Use(CLibusbDriver& driver, DeviceHandle handle) : driver_(driver) {
        const std::lock_guard<std::mutex> guard(driver_.lock_);
        const auto found = driver_.handles_.find(handle);
        if (found == driver_.handles_.end()) return;
        device_ = found->second;
        ++device_->inFlight;
    }
    ~Use() {
        if (!device_) return;
        std::unique_lock<std::mutex> guard(driver_.lock_);
        --device_->inFlight;
        driver_.ReleaseLocked(guard, device_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    const std::shared_ptr<SharedDevice>& device() const { return device_; }

private:
    CLibusbDriver& driver_;
    std::shared_ptr<SharedDevice> device_;
};

CLibusbDriver::CLibusbDriver(IDebugTrace* trace) : trace_(trace) {
    libusb_context* context = nullptr;
    const int result = libusb_init(&context);
    if (result != LIBUSB_SUCCESS) {
        initError_ = StrPrintf("libusb_init: %s", ErrorName(result).c_str());
        Trace("USB back end: " + initError_);
        return;
    }
    context_ = context;
    // Arrivals and departures come as callbacks where the platform has
    // them; elsewhere BusGeneration compares listings now and then.
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        hotplug_ = libusb_hotplug_register_callback(
                       context_,
                       static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                         LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                       LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                       LIBUSB_HOTPLUG_MATCH_ANY, &CountHotplug, &generation_, &hotplugHandle_) == LIBUSB_SUCCESS;
    }
}

CLibusbDriver::~CLibusbDriver() {
    if (hotplug_) libusb_hotplug_deregister_callback(context_, hotplugHandle_);
    listing_.reset();
    // Handles nobody closed are closed with the driver.
    for (auto& [key, device] : devices_) {
        if (device->claimed) libusb_release_interface(device->handle, kInterface);
        libusb_close(device->handle);
    }
    handles_.clear();
    devices_.clear();
    if (context_ != nullptr) libusb_exit(context_);
}

void CLibusbDriver::Trace(const std::string& text) {
    if (trace_ != nullptr) trace_->Write(text);
}

int CLibusbDriver::OpenHandleCount() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(handles_.size());
}

DeviceHandle CLibusbDriver::Open(const std::string& path) {
    const std::optional<int> index = ParseEzusbPath(path);
    if (!index) {
        Trace(StrPrintf("USB back end: %s is not a device path", path.c_str()));
        return kInvalidHandle;
    }
    if (context_ == nullptr) {
        Trace(StrPrintf("USB back end: cannot open %s: %s", path.c_str(), initError_.c_str()));
        return kInvalidHandle;
    }
    std::unique_lock<std::mutex> guard(lock_);
    const std::shared_ptr<SharedDevice> device = OpenDeviceLocked(guard, *index, path);
    if (!device) return kInvalidHandle;
    // Handle numbers only repeat after 2^64 opens; still, never hand out 0,
    // all ones or a number in use.
    while (nextHandle_ == kNullHandle || nextHandle_ == kInvalidHandle || handles_.count(nextHandle_) != 0) {
        ++nextHandle_;
    }
    const DeviceHandle handle = nextHandle_++;
    handles_[handle] = device;
    ++device->opens;
    return handle;
}

// One listing of the buses: libusb's device list (holding a reference to
// every device) and the EZ-USB devices in index order.
struct CLibusbDriver::Listing {
    libusb_device** list = nullptr;
    std::vector<UsbLocation> locations;  // parallel to `list`
    std::vector<std::size_t> order;      // order[N]: position of Ezusb-N, or kNoDevice
    std::chrono::steady_clock::time_point when;
    std::uint64_t generation = 0;  // BusGeneration when it was made: a later arrival lists again

    Listing() = default;
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    ~Listing() {
        if (list != nullptr) libusb_free_device_list(list, 1);
    }
};

const CLibusbDriver::Listing* CLibusbDriver::ListingForLocked(int index) {
    const auto now = std::chrono::steady_clock::now();
    const bool rising = index > lastIndexOpened_;
    lastIndexOpened_ = index;
    const std::uint64_t generation = generation_.load();
    if (listing_ && rising && now - listing_->when < kListingLifetime && listing_->generation == generation) {
        return listing_.get();
    }

    listing_.reset();
    auto listing = std::make_unique<Listing>();
    const ssize_t count = libusb_get_device_list(context_, &listing->list);
    ++enumerations_;
    if (count < 0) {
        listing->list = nullptr;
        Trace(StrPrintf("USB back end: cannot list the USB devices: %s", ErrorName(static_cast<int>(count)).c_str()));
        return nullptr;
    }
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        // The descriptor comes from the kernel's cache: no request is made.
        const bool known = libusb_get_device_descriptor(listing->list[i], &descriptor) == LIBUSB_SUCCESS;
        listing->locations.push_back(LocationOf(listing->list[i], known ? descriptor.idVendor : 0,
                                                known ? descriptor.idProduct : 0));
    }
    listing->order = OrderEzusbDevices(listing->locations);
    KeepOpenNumbersLocked(*listing);
    listing->when = now;
    listing->generation = generation;
    listing_ = std::move(listing);
    return listing_.get();
}

// A device that is open keeps its number, as the Windows driver's devices
// do while plugged in: when another device is unplugged, the jobs on the
// devices after it go on reaching their own device with each request they
// open. The other devices take the free numbers in order.
void CLibusbDriver::KeepOpenNumbersLocked(Listing& listing) const {
    std::map<int, std::size_t> kept;  // number -> position in the listing
    for (const auto& [key, device] : devices_) {
        for (const std::size_t position : listing.order) {
            if (LocationKey(listing.locations[position]) == key) kept[device->index] = position;
        }
    }
    if (kept.empty()) return;
    std::vector<std::size_t> order(std::max(listing.order.size(), static_cast<std::size_t>(kept.rbegin()->first) + 1),
                                   kNoDevice);
    for (const auto& [index, position] : kept) order[static_cast<std::size_t>(index)] = position;
    auto free = order.begin();
    for (const std::size_t position : listing.order) {
        if (std::any_of(kept.begin(), kept.end(), [position](const auto& entry) { return entry.second == position; })) {
            continue;
        }
        free = std::find(free, order.end(), kNoDevice);
        *free = position;
    }
    listing.order = std::move(order);
}

std::uint64_t CLibusbDriver::BusGeneration() {
    if (context_ == nullptr) return 0;
    if (hotplug_) {
        // The callbacks run inside event handling: a look that does not wait
        // delivers those pending. libusb lets any thread handle events beside
        // the jobs' transfers, which handle their own.
        timeval now{0, 0};
        libusb_handle_events_timeout_completed(context_, &now, nullptr);
        return generation_.load();
    }
    const std::lock_guard<std::mutex> guard(pollLock_);
    const auto now = std::chrono::steady_clock::now();
    if (polled_ && now - lastPoll_ < kPollInterval) return generation_.load();
    lastPoll_ = now;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return generation_.load();
    std::vector<std::string> keys;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS ||
            !IsEzusbDevice(descriptor.idVendor, descriptor.idProduct)) {
            continue;
        }
        keys.push_back(LocationKey(LocationOf(list[i], descriptor.idVendor, descriptor.idProduct)));
    }
    libusb_free_device_list(list, 1);
    std::sort(keys.begin(), keys.end());
    if (polled_ && keys != polledKeys_) generation_.fetch_add(1);
    polled_ = true;
    polledKeys_ = std::move(keys);
    return generation_.load();
}

std::string CLibusbDriver::PlaceOf(int index) {
    if (context_ == nullptr || index < 0) return {};
    const std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [key, open] : devices_) {
        if (open->index == index) return key.substr(0, key.find('@'));
    }
    const Listing* listing = ListingForLocked(index);
    if (listing == nullptr || static_cast<std::size_t>(index) >= listing->order.size() ||
        listing->order[index] == kNoDevice) {
        return {};
    }
    return PortPath(listing->locations[listing->order[index]]);
}

std::shared_ptr<CLibusbDriver::SharedDevice> CLibusbDriver::OpenDeviceLocked(std::unique_lock<std::mutex>& guard,
                                                                             int index, const std::string& path) {
    libusb_device* usbDevice = nullptr;
    std::string key;
    std::string place;
    for (;;) {
        for (const auto& [known, open] : devices_) {
            if (open->index == index) return open;
        }
        const Listing* listing = ListingForLocked(index);
        if (listing == nullptr) return nullptr;
        if (static_cast<std::size_t>(index) >= listing->order.size() || listing->order[index] == kNoDevice) {
            Trace(StrPrintf("USB back end: no device %s (%zu EZ-USB devices attached)", path.c_str(),
                            static_cast<std::size_t>(std::count_if(listing->order.begin(), listing->order.end(),
                                                                   [](std::size_t p) { return p != kNoDevice; }))));
            return nullptr;
        }
        usbDevice = listing->list[listing->order[index]];
        const UsbLocation& location = listing->locations[listing->order[index]];
        key = LocationKey(location);
        place = PortPath(location);
        const auto known = devices_.find(key);
        if (known != devices_.end()) return known->second;
        if (changing_.count(key) == 0) break;
        // Another thread opens or closes this device: its outcome first.
        settled_.wait(guard);
    }

    // Opening and claiming take round trips to the device: other devices'
    // requests go on meanwhile. The key marks the open in progress; the
    // reference keeps the device while another open replaces the listing.
    changing_.insert(key);
    libusb_ref_device(usbDevice);
    guard.unlock();
    std::shared_ptr<SharedDevice> device;
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(usbDevice, &handle);
    if (opened == LIBUSB_SUCCESS) {
        device = std::make_shared<SharedDevice>();
        device->key = key;
        device->index = index;
        device->name = DeviceNameFromPath(path);
        device->handle = handle;
        libusb_get_device_descriptor(usbDevice, &device->descriptor);
        device->endpoints = InterfaceEndpoints(usbDevice);
        // A kernel driver bound to interface 0 is set aside while we hold
        // it and bound again when we let go.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        ClaimLocked(*device);  // nobody else sees the device yet
    }
    libusb_unref_device(usbDevice);
    guard.lock();
    changing_.erase(key);
    settled_.notify_all();
    if (!device) {
        Trace(StrPrintf("USB back end: cannot open %s (USB device %s): %s", path.c_str(), key.c_str(),
                        ErrorName(opened).c_str()));
        if (opened == LIBUSB_ERROR_ACCESS) accessDenied_[place] = DeviceNameFromPath(path);
        return nullptr;
    }
    devices_[key] = device;
    return device;
}

std::string CLibusbDriver::TakeAccessProblem() {
    std::map<std::string, std::string> denied;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        denied.swap(accessDenied_);
    }
    if (denied.empty()) return {};
    std::string devices;
    for (const auto& [place, name] : denied) {
        devices += StrPrintf("\n    %s (USB port %s)", name.c_str(), place.c_str());
    }
    const bool one = denied.size() == 1;
    return StrPrintf("%zu USB device%s could not be opened because this user may not use %s:%s\n\n%s\n"
                     "Until then %s not shown.",
                     denied.size(), one ? "" : "s", one ? "it" : "them", devices.c_str(),
                     UdevRulesAdvice(InstalledUdevRules()).c_str(), one ? "it is" : "they are");
}

int CLibusbDriver::EnumerationCount() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return enumerations_;
}

bool CLibusbDriver::ClaimLocked(SharedDevice& device) {
    if (device.claimed) return true;
    const int claimed = libusb_claim_interface(device.handle, kInterface);
    if (claimed != LIBUSB_SUCCESS) {
        // Descriptor and control requests work without the claim; bulk
        // transfers try again, so a device another program holds for a
        // moment is not lost for good.
        Trace(StrPrintf("USB back end: %s: cannot claim interface 0: %s", device.name.c_str(),
                        ErrorName(claimed).c_str()));
        return false;
    }
    device.claimed = true;
    return true;
}

void CLibusbDriver::ReleaseLocked(std::unique_lock<std::mutex>& guard, const std::shared_ptr<SharedDevice>& device) {
    if (device->opens > 0 || device->inFlight > 0) return;
    // Unreachable from here on; closing waits for libusb's event handling,
    // so it happens outside the lock, and an open of the device waits for it.
    devices_.erase(device->key);
    changing_.insert(device->key);
    guard.unlock();
    if (device->claimed) libusb_release_interface(device->handle, kInterface);
    libusb_close(device->handle);
    device->handle = nullptr;
    device->claimed = false;
    guard.lock();
    changing_.erase(device->key);
    settled_.notify_all();
}

void CLibusbDriver::Close(DeviceHandle handle) {
    std::unique_lock<std::mutex> guard(lock_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) return;
    const std::shared_ptr<SharedDevice> device = found->second;
    handles_.erase(found);
    --device->opens;
    ReleaseLocked(guard, device);
}

bool CLibusbDriver::IoControl(DeviceHandle handle, std::uint32_t code, const std::uint8_t* in,
                              std::uint32_t inLength, std::uint8_t* out, std::uint32_t outLength,
                              std::uint32_t* returned) {
    if (returned != nullptr) *returned = 0;
    const Use use(*this, handle);
    if (!use.device()) {
        Trace(StrPrintf("USB back end: request 0x%X on a handle that is not open", code));
        return false;
    }
    SharedDevice& device = *use.device();
    if (out == nullptr && outLength > 0) return false;

    switch (code) {
        case ioctl::kGetDeviceDescriptor:
            return DeviceDescriptor(device, out, outLength, returned);

        case ioctl::kGetStringDescriptor: {
            const std::optional<ControlSetup> setup = StringDescriptorSetup(in, inLength, outLength);
            if (!setup) break;
            return Control(device, "string descriptor", setup->requestType, setup->request, setup->value,
                           setup->index, out, setup->length, returned, false);
        }

        case ioctl::kVendorOrClassRequest: {
            const std::optional<ControlSetup> setup = VendorRequestSetup(in, inLength, outLength);
            if (!setup) break;
            return Control(device, "vendor request", setup->requestType, setup->request, setup->value,
                           setup->index, out, setup->length, returned);
        }

        case ioctl::kVendorRequest: {
            const std::optional<ShortVendorWrite> write = ResetRequestSetup(in, inLength);
            if (!write) break;
            std::uint8_t data = write->data;
            return Control(device, "short vendor request", write->setup.requestType, write->setup.request,
                           write->setup.value, write->setup.index, &data, write->setup.length, nullptr);
        }

        case ioctl::kAnchorDownload: {
            const std::optional<std::vector<AnchorChunk>> chunks = SplitAnchorDownload(in, inLength, outLength);
            if (!chunks) break;
            std::uint32_t total = 0;
            for (const AnchorChunk& chunk : *chunks) {
                std::uint32_t moved = 0;
                if (!Control(device, "anchor download", chunk.setup.requestType, chunk.setup.request,
                             chunk.setup.value, chunk.setup.index, out + chunk.offset, chunk.setup.length,
                             &moved)) {
                    return false;
                }
                total += moved;
            }
            if (returned != nullptr) *returned = total;
            return true;
        }

        case ioctl::kBulkRead:
            return Bulk(use.device(), true, in, inLength, out, outLength, returned);
        case ioctl::kBulkWrite:
            return Bulk(use.device(), false, in, inLength, out, outLength, returned);

        default:
            Trace(StrPrintf("USB back end: %s: unknown request 0x%X", device.name.c_str(), code));
            return false;
    }
    Trace(StrPrintf("USB back end: %s: request 0x%X with a malformed request block", device.name.c_str(), code));
    return false;
}

bool CLibusbDriver::DeviceDescriptor(SharedDevice& device, std::uint8_t* out, std::uint32_t outLength,
                                     std::uint32_t* returned) {
    const std::array<std::uint8_t, 18> bytes = EncodeDeviceDescriptor(device.descriptor);
    if (outLength < bytes.size()) {
        Trace(StrPrintf("USB back end: %s: no room for the device descriptor", device.name.c_str()));
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), out);
    if (returned != nullptr) *returned = static_cast<std::uint32_t>(bytes.size());
    return true;
}

bool CLibusbDriver::Control(SharedDevice& device, const char* what, std::uint8_t requestType, std::uint8_t request,
                            std::uint16_t value, std::uint16_t index, std::uint8_t* data, std::uint16_t length,
                            std::uint32_t* returned, bool exact) {
    const int result =
        libusb_control_transfer(device.handle, requestType, request, value, index, data, length, kTransferTimeoutMs);
    if (result < 0) {
        Trace(StrPrintf("USB back end: %s: %s 0x%02X (value 0x%04X, index 0x%04X, %u bytes) failed: %s",
                        device.name.c_str(), what, request, value, index, length, ErrorName(result).c_str()));
        return false;
    }
    // A descriptor is as long as it is; any other data stage must move every
    // byte, or the caller would take part of a value for the whole.
    if (exact && result < length) {
        Trace(StrPrintf("USB back end: %s: %s 0x%02X (value 0x%04X, index 0x%04X) moved %d of %u bytes: short transfer",
                        device.name.c_str(), what, request, value, index, result, length));
        return false;
    }
    if (returned != nullptr) *returned = static_cast<std::uint32_t>(result);
    return true;
}

bool CLibusbDriver::Bulk(const std::shared_ptr<SharedDevice>& device, bool deviceToHost, const std::uint8_t* in,
                         std::uint32_t inLength, std::uint8_t* data, std::uint32_t length, std::uint32_t* returned) {
    if (in == nullptr || inLength < 4 || length > static_cast<std::uint32_t>(INT_MAX)) return false;
    const std::uint32_t pipe = DecodeLe32(in);
    std::string reason;
    const std::optional<std::uint8_t> endpoint = EndpointForPipe(device->endpoints, pipe, deviceToHost, &reason);
    if (!endpoint) {
        Trace(StrPrintf("USB back end: %s: bulk %s: %s", device->name.c_str(), deviceToHost ? "read" : "write",
                        reason.c_str()));
        return false;
    }
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (!ClaimLocked(*device)) return false;
    }
    int transferred = 0;
    // For a write libusb only reads `data`.
    const int result = libusb_bulk_transfer(device->handle, *endpoint, data, static_cast<int>(length), &transferred,
                                            kTransferTimeoutMs);
    if (result != LIBUSB_SUCCESS) {
        Trace(StrPrintf("USB back end: %s: bulk %s of %u bytes on pipe %u failed: %s", device->name.c_str(),
                        deviceToHost ? "read" : "write", length, pipe, ErrorName(result).c_str()));
        return false;
    }
    if (static_cast<std::uint32_t>(transferred) < length) {
        Trace(StrPrintf("USB back end: %s: bulk %s on pipe %u moved %d of %u bytes: short transfer",
                        device->name.c_str(), deviceToHost ? "read" : "write", pipe, transferred, length));
        return false;
    }
    if (returned != nullptr) *returned = static_cast<std::uint32_t>(transferred);
    return true;
}

}  // namespace spindle::usb
