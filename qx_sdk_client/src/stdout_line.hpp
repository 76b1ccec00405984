// The SDK's few diagnostic lines go straight to file descriptor 1.
#pragma once

#include <string_view>

namespace qx_sdk_client::util {

// Writes `line` and a line feed to file descriptor 1 in one write call where
// the system allows, and never interleaved with another line of the SDK, so
// lines from different threads stay whole and nothing waits in a user-space
// buffer behind the host interpreter's output.
// A failure to write is ignored: diagnostics never change a result.
void print_stdout_line(std::string_view line);

}  // namespace qx_sdk_client::util
