#include "inventory/Classification.h"

#include <algorithm>
#include <cctype>

#include <array>

#include "inventory/DeviceRecord.h"

namespace spindle {

namespace {
constexpr const char* kUnprogrammed = "Unprogrammed Vexa USB Devices";

constexpr std::array<ClassificationRow, 16> kTable = {{
    {0x0547, 0x2131, family::kUnprogrammedEzusb, "USB Device %d", 9, kUnprogrammed, false},
    {0x0547, 0x2235, family::kUnprogrammedEzusb, "USB Device %d", 9, kUnprogrammed, false},
    {0x04B4, 0x8613, family::kUnprogrammedFx2, "USB Device %d", 9, kUnprogrammed, false},
    {kMakerVendorId, 0x1002, family::kKestrel, "[%d] Kestrel - %s \n", 2, "Kestrel Devices", true},
    {kMakerVendorId, 0x1004, family::kHeron, "[%d] Heron - %s \n", 3, "Heron Devices", true},
    {kMakerVendorId, 0x100A, family::kOsprey, "[%d] Osprey - %s \n", 4, "Osprey Devices", true},
    {kMakerVendorId, 0x101E, family::kKestrelPlus, "[%d] Kestrel+ - %s \n", 15, "Kestrel+ Devices", true},
    {kMakerVendorId, 0x1022, family::kHarrier, "[%d] Harrier - %s \n", 2, "Harrier Devices", true},
    {kMakerVendorId, 0x1012, family::kFalcon, "[%d] Falcon - %s \n", 12, "Falcon Devices", true},
    {kMakerVendorId, 0x1016, family::kFalcon, "[%d] Osprey+ - %s \n", 5, "Osprey+ Devices", true},
    {kMakerVendorId, 0x1018, family::kCondor, "[%d] Condor - %s \n", 6, "Condor Devices", true},
    {kMakerVendorId, 0x100C, family::kIbis, "[%d] Gannet - %s \n", 11, "Ibis Devices", true},
    {kMakerVendorId, 0x1010, family::kIbis, "[%d] Skua - %s \n", 11, "Ibis Devices", true},
    {kMakerVendorId, 0x1014, family::kWren, "[%d] Wren - %s \n", 14, "Wren Devices", true},
    {kMakerVendorId, 0x1024, family::kFinch, "[%d] Finch - %s \n", 16, "Finch Devices", true},
    {kMakerVendorId, 0x1006, family::kMerlin, "[%d] Merlin - %s \n", 10, "Merlin Devices", true},
}};

constexpr std::array<const char*, 13> kCategories = {
    "Kestrel Devices", "Wren Devices",   "Finch Devices",  "Heron Devices",    "Osprey Devices",
    "Osprey+ Devices", "Falcon Devices", "Condor Devices", "Ibis Devices",     "Merlin Devices",
    "Kestrel+ Devices", "Harrier Devices", kUnprogrammed,
};

constexpr std::array<const char*, 13> kExpansionOrder = {
    "Kestrel Devices", "Kestrel+ Devices", "Wren Devices",   "Finch Devices",  "Harrier Devices",
    "Heron Devices",   kUnprogrammed,      "Osprey Devices", "Osprey+ Devices", "Falcon Devices",
    "Condor Devices",  "Ibis Devices",     "Merlin Devices",
};
}  // namespace

std::span<const ClassificationRow> ClassificationTable() { return kTable; }

const ClassificationRow* Classify(std::uint16_t vendor, std::uint16_t product) {
    for (const auto& row : kTable) {
        if (row.vendor == vendor && row.product == product) return &row;
    }
    return nullptr;
}

std::string ModelName(const ClassificationRow& row) {
    std::string name = row.category;
    constexpr std::string_view kSuffix = " Devices";
    if (name.ends_with(kSuffix)) name.resize(name.size() - kSuffix.size());
    return name;
}

std::optional<int> FamilyByModelName(std::string_view name) {
    const auto same = [name](const std::string& model) {
        return model.size() == name.size() && std::equal(model.begin(), model.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               });
    };
    for (const auto& row : kTable) {
        if (same(ModelName(row))) return row.family;
    }
    return std::nullopt;
}

std::span<const char* const> CategoryLabels() { return kCategories; }
std::span<const char* const> CategoryExpansionOrder() { return kExpansionOrder; }

}  // namespace spindle
