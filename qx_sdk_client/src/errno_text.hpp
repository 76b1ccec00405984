// The one text form of an errno value, for every failure line that names one.
#pragma once

#include <string>

namespace qx_sdk_client::util {

// "EAGAIN (11): Resource temporarily unavailable"; a value the system does
// not know still gives its number.
std::string errno_text(int code);

}  // namespace qx_sdk_client::util
