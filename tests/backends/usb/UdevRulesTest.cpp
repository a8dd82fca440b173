// The udev rules shipped for the USB back end open exactly the devices the
// back end numbers: every pair of the classification table, nothing more.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "inventory/Classification.h"

namespace spindle {
namespace {

TEST(UdevRules, GrantTheSeatUserExactlyTheClassifiedDevices) {
    std::ifstream file(std::string(SPINDLE_SOURCE_DIR) + "/scripts/60-spindle.rules");
    ASSERT_TRUE(file.is_open());
    const std::regex rule(R"re(^SUBSYSTEM=="usb", ENV\{DEVTYPE\}=="usb_device", ATTR\{idVendor\}=="([0-9a-f]{4})", )re"
                          R"re(ATTR\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess"$)re");
    std::set<std::pair<unsigned, unsigned>> granted, table;
    std::smatch match;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        ASSERT_TRUE(std::regex_match(line, match, rule)) << "not a rule of the expected form: " << line;
        granted.insert({std::stoul(match[1], nullptr, 16), std::stoul(match[2], nullptr, 16)});
    }
    for (const ClassificationRow& row : ClassificationTable()) table.insert({row.vendor, row.product});
    EXPECT_EQ(granted, table);
}

}  // namespace
}  // namespace spindle
