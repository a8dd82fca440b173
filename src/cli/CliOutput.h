#pragma once
#include <memory>
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

// Opens a session with the device selected in the tree (its values read, as
// selecting it in the window does); null with `status` set when it cannot.
std::unique_ptr<CCliSession> OpenSelectedDevice(const GlobalOptions& options, const std::string& device, int& status,
                                                DeviceInfo& info);

}  // namespace spindle::cli
