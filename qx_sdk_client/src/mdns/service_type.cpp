#include "qx_sdk_client/src/mdns/service_type.hpp"

#include <avahi-common/domain.h>

namespace qx_sdk_client::mdns {

namespace {

// The rejected text is shown with control bytes as \xNN, so a NUL or an
// escape sequence in it cannot garble the message.
std::unexpected<std::string> invalid(std::string_view service_type, std::string_view why) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string text = "invalid service type \"";
    for (const char c : service_type) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 0xf];
        } else {
            text += c;
        }
    }
    text += "\": ";
    text += why;
    return std::unexpected(std::move(text));
}

}  // namespace

std::expected<BrowseTarget, std::string> split_service_type(std::string_view service_type) {
    std::string_view name = service_type;
    if (name.ends_with('.')) {
        name.remove_suffix(1);
    }
    // Avahi's checks read C strings, so an embedded NUL would cut the text
    // short and let a different type pass.
    if (name.find('\0') != std::string_view::npos) {
        return invalid(service_type, "contains a NUL byte");
    }
    const auto first_dot = name.find('.');
    const auto second_dot = first_dot == std::string_view::npos ? first_dot : name.find('.', first_dot + 1);
    if (second_dot == std::string_view::npos) {
        return invalid(service_type, "expected \"_service._tcp.<domain>.\"");
    }
    BrowseTarget target{std::string(name.substr(0, second_dot)), std::string(name.substr(second_dot + 1))};
    if (!avahi_is_valid_service_type_strict(target.type.c_str())) {
        return invalid(service_type, "expected \"_service._tcp\" or \"_service._udp\" before the domain");
    }
    const std::string_view domain = target.domain;
    if (domain.empty() || domain.starts_with('.') || domain.ends_with('.') ||
        domain.find("..") != std::string_view::npos || !avahi_is_valid_domain_name(target.domain.c_str())) {
        return invalid(service_type, "the domain is not a valid domain name");
    }
    return target;
}

}  // namespace qx_sdk_client::mdns
