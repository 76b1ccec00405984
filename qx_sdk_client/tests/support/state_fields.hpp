// The state's fields by name, for the tool's command line and control
// channel. Names are the member paths of DeviceState ("name",
// "firmware.chunk_size") and of InterfaceState ("dcq.sqi").
//
// Values: numbers in decimal or with 0x; flags as 0/1 or false/true; texts
// as the rest of the line, or "hex:" and two hex digits per byte for any
// bytes at all (invalid UTF-8 included); an optional number as "none" or a
// number; lists of numbers separated by single spaces. What `get` prints
// `set` accepts.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "qx_sdk_client/tests/support/device_state.hpp"

namespace qx_test {

// "interfaces" sets the number of interfaces (new ones get the defaults).
std::expected<void, std::string> set_device_field(DeviceState& state, std::string_view name, std::string_view value);
std::expected<std::string, std::string> get_device_field(const DeviceState& state, std::string_view name);

std::expected<void, std::string> set_interface_field(DeviceState& state, size_t index, std::string_view name,
                                                     std::string_view value);
std::expected<std::string, std::string> get_interface_field(const DeviceState& state, size_t index,
                                                            std::string_view name);

std::vector<std::string_view> device_field_names();
std::vector<std::string_view> interface_field_names();

}  // namespace qx_test
