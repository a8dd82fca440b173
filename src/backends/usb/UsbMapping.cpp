#include "usb/UsbMapping.h"

#include <libusb.h>

#include <algorithm>

#include "device/EzusbDriver.h"
#include "device/EzusbRequests.h"
#include "inventory/Classification.h"
#include "platform/Format.h"

namespace spindle::usb {

namespace {

constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kTypeVendor = 2 << 5;
constexpr std::uint8_t kRequestGetDescriptor = 0x06;
constexpr std::uint8_t kDescriptorTypeString = 0x03;
constexpr std::uint32_t kMaxControlData = 0xFFFF;
constexpr std::uint32_t kMaxStringDescriptor = 255;

void PutLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

bool IsEzusbDevice(std::uint16_t vendor, std::uint16_t product) { return Classify(vendor, product) != nullptr; }

std::vector<std::size_t> OrderEzusbDevices(const std::vector<UsbLocation>& devices) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (IsEzusbDevice(devices[i].vendor, devices[i].product)) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&devices](std::size_t a, std::size_t b) {
        const UsbLocation& left = devices[a];
        const UsbLocation& right = devices[b];
        if (left.bus != right.bus) return left.bus < right.bus;
        if (left.ports != right.ports) return left.ports < right.ports;
        return left.address < right.address;
    });
    return order;
}

std::optional<int> ParseEzusbPath(const std::string& path) {
    const std::optional<int> index = DeviceIndexFromPath(path);
    // Only the exact path the driver would publish: prefix present, the
    // number written without padding.
    if (!index || path != DevicePath(DeviceName(*index))) return std::nullopt;
    return index;
}

std::optional<ControlSetup> VendorRequestSetup(const std::uint8_t* in, std::uint32_t inLength,
                                               std::uint32_t dataLength) {
    if (in == nullptr || inLength < 10 || dataLength > kMaxControlData) return std::nullopt;
    const VendorRequestControl block = VendorRequestControl::Decode(in);
    // The block names the request type and recipient; every caller asks for
    // vendor (2) and device (0). Type 3 and recipients above 3 are reserved.
    if (block.requestType > 2 || block.recipient > 3) return std::nullopt;
    ControlSetup setup;
    setup.requestType = static_cast<std::uint8_t>((block.direction != 0 ? kDirectionIn : 0) |
                                                  (block.requestType << 5) | block.recipient);
    setup.request = block.request;
    setup.value = block.value;
    setup.index = block.index;
    setup.length = static_cast<std::uint16_t>(dataLength);
    return setup;
}

std::optional<ShortVendorWrite> ResetRequestSetup(const std::uint8_t* in, std::uint32_t inLength) {
    if (in == nullptr || inLength < 10) return std::nullopt;
    const ResetRequestBlock block = ResetRequestBlock::Decode(in);
    if (block.direction != 0 || block.length > 1) return std::nullopt;
    ShortVendorWrite write;
    write.setup.requestType = kTypeVendor;
    write.setup.request = block.request;
    write.setup.value = block.value;
    write.setup.index = block.index;
    write.setup.length = block.length;
    write.data = block.data;
    return write;
}

std::optional<ControlSetup> StringDescriptorSetup(const std::uint8_t* in, std::uint32_t inLength,
                                                  std::uint32_t replyRoom) {
    if (in == nullptr || inLength < 4 || replyRoom == 0) return std::nullopt;
    ControlSetup setup;
    setup.requestType = kDirectionIn;  // standard, device
    setup.request = kRequestGetDescriptor;
    setup.value = static_cast<std::uint16_t>((kDescriptorTypeString << 8) | in[0]);
    setup.index = DecodeLe16(&in[2]);  // the caller's language, as sent
    setup.length = static_cast<std::uint16_t>(std::min(replyRoom, kMaxStringDescriptor));
    return setup;
}

std::optional<std::vector<AnchorChunk>> SplitAnchorDownload(const std::uint8_t* in, std::uint32_t inLength,
                                                            std::uint32_t length) {
    if (in == nullptr || inLength < 2) return std::nullopt;
    const std::uint32_t address = DecodeLe16(in);
    // A load that ran past the top of the 8051's 64 KiB would wrap around to
    // address 0 and overwrite the start of the program.
    if (address + static_cast<std::uint64_t>(length) > 0x10000) return std::nullopt;
    std::vector<AnchorChunk> chunks;
    for (std::uint32_t offset = 0; offset < length; offset += kAnchorChunkBytes) {
        AnchorChunk chunk;
        chunk.setup.requestType = kTypeVendor;
        chunk.setup.request = kAnchorLoadRequest;
        chunk.setup.value = static_cast<std::uint16_t>(address + offset);
        chunk.setup.index = 0;
        chunk.setup.length = static_cast<std::uint16_t>(std::min(kAnchorChunkBytes, length - offset));
        chunk.offset = offset;
        chunks.push_back(chunk);
    }
    return chunks;
}

std::optional<std::uint8_t> EndpointForPipe(const std::vector<EndpointInfo>& endpoints, std::uint32_t pipe,
                                            bool deviceToHost, std::string* reason) {
    auto refuse = [reason](std::string why) -> std::optional<std::uint8_t> {
        if (reason != nullptr) *reason = std::move(why);
        return std::nullopt;
    };
    if (pipe >= endpoints.size()) {
        return refuse(StrPrintf("no pipe %u (interface 0 has %zu endpoints)", pipe, endpoints.size()));
    }
    const EndpointInfo& endpoint = endpoints[pipe];
    const bool isIn = (endpoint.address & 0x80) != 0;
    if (isIn != deviceToHost) {
        return refuse(StrPrintf("pipe %u is endpoint 0x%02X, %s", pipe, endpoint.address,
                                isIn ? "device to host" : "host to device"));
    }
    // Bulk and interrupt endpoints both take a bulk transfer through usbfs;
    // control and isochronous ones cannot.
    const int type = endpoint.attributes & 0x03;
    if (type == LIBUSB_TRANSFER_TYPE_CONTROL || type == LIBUSB_TRANSFER_TYPE_ISOCHRONOUS) {
        return refuse(StrPrintf("pipe %u is endpoint 0x%02X, not a bulk or interrupt endpoint", pipe,
                                endpoint.address));
    }
    return endpoint.address;
}

std::array<std::uint8_t, 18> EncodeDeviceDescriptor(const ::libusb_device_descriptor& descriptor) {
    std::array<std::uint8_t, 18> bytes{};
    bytes[0] = descriptor.bLength;
    bytes[1] = descriptor.bDescriptorType;
    PutLe16(&bytes[2], descriptor.bcdUSB);
    bytes[4] = descriptor.bDeviceClass;
    bytes[5] = descriptor.bDeviceSubClass;
    bytes[6] = descriptor.bDeviceProtocol;
    bytes[7] = descriptor.bMaxPacketSize0;
    PutLe16(&bytes[8], descriptor.idVendor);
    PutLe16(&bytes[10], descriptor.idProduct);
    PutLe16(&bytes[12], descriptor.bcdDevice);
    bytes[14] = descriptor.iManufacturer;
    bytes[15] = descriptor.iProduct;
    bytes[16] = descriptor.iSerialNumber;
    bytes[17] = descriptor.bNumConfigurations;
    return bytes;
}

}  // namespace spindle::usb
