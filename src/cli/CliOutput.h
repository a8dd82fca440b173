#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "CliSession.h"

namespace spindle::cli {

using OrderedJson = nlohmann::ordered_json;

// The device's tree label without the blanks around it, for messages.
std::string DeviceName(const DeviceInfo& info);
void PrintJson(const OrderedJson& document);
OrderedJson DeviceJson(const DeviceInfo& info);

// Finds the device a selector names in the tree as it stands (no values
// read). False with the reason reported and `status` set when there is none.
bool FindDeviceOnTree(CCliSession& session, const std::string& device, DeviceInfo& info, int& status);

}  // namespace spindle::cli
