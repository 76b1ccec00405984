// The line commands of the fake device's control channel (one command per
// line, answered with "OK", "OK <value>" or "ERR <message>"):
//
//   set <field> <value>            a device field (see state_fields.hpp)
//   get <field>                    -> OK <value>
//   iset <index> <field> <value>   a field of interface <index>
//   iget <index> <field>           -> OK <value>
//   fault <command|next> <times|always> <kind> [arguments]
//       kinds: error <status> | raw <hex> | delay <ms> | close [reply bytes]
//              | noreply | oversize <length> | split [piece bytes] [gap ms]
//              | twice <gap ms> [nagle]
//   clear_faults
//   requests                       -> OK <n>, then n lines, each one frame in hex
//   handled                        -> OK <n>: of those, the ones the device is done with
//   clear                          forget the recorded requests
//   connections                    -> OK <open> <accepted>
//   quit                           -> OK, then the tool exits
#pragma once

#include <string>
#include <string_view>

#include "qx_sdk_client/tests/support/fake_device.hpp"

namespace qx_test {

struct ControlResponse {
    std::string text;  // one or more lines, each ending in a line feed
    bool quit = false;
};

ControlResponse run_control_command(FakeDevice& device, std::string_view line);

}  // namespace qx_test
