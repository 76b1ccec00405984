#include "qx_sdk_client/src/errno_text.hpp"

#include <cstring>

namespace qx_sdk_client::util {

std::string errno_text(int code) {
    const char* name = ::strerrorname_np(code);
    const char* description = ::strerrordesc_np(code);
    std::string text = name != nullptr ? name : "errno";
    text += " (" + std::to_string(code) + "): ";
    text += description != nullptr ? description : "Unknown error";
    return text;
}

}  // namespace qx_sdk_client::util
