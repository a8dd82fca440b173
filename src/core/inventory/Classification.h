#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "device/Families.h"

namespace spindle {

// One row of the classification table: a vendor/product pair, the family it
// means, the tree label format, the tree image and the category it goes under.
struct ClassificationRow {
    std::uint16_t vendor;
    std::uint16_t product;
    int family;
    const char* labelFormat;  // "%d" the index (and "%s" the serial for maker rows)
    int image;
    const char* category;
    bool readsSerial;  // maker rows read the serial; unprogrammed chips get "None"
};

// The table in matching order.
std::span<const ClassificationRow> ClassificationTable();
// The first row matching the pair, if any.
const ClassificationRow* Classify(std::uint16_t vendor, std::uint16_t product);

// The model the tree groups a row under: its category without " Devices"
// ("Kestrel", "Osprey+", "Unprogrammed Vexa USB").
std::string ModelName(const ClassificationRow& row);
// The family of the first row whose model is `name`, in any letter case.
std::optional<int> FamilyByModelName(std::string_view name);

// Tree skeleton: the root and the thirteen categories in insertion order, and
// the order in which the refresh expands them.
inline constexpr const char* kRootLabel = "Computer";
inline constexpr int kRootImage = 0;
inline constexpr int kCategoryImage = 1;
inline constexpr int kLanternImage = 7;
std::span<const char* const> CategoryLabels();
std::span<const char* const> CategoryExpansionOrder();

}  // namespace spindle
