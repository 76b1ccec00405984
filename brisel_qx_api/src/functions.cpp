#include "brisel_qx_api/src/functions.hpp"

#include <cstdint>
#include <string>
#include <tuple>

#include "brisel_qx_api/src/method.hpp"
#include "qx_sdk_client/src/util.hpp"

namespace brisel_qx_api {
namespace {

// From the project's version (CMakeLists.txt), which the wheel's metadata also reads.
constexpr uint32_t api_version_major = QX_API_VERSION_MAJOR;
constexpr uint32_t api_version_minor = QX_API_VERSION_MINOR;
constexpr uint32_t api_version_patch = QX_API_VERSION_PATCH;

std::tuple<uint32_t, uint32_t, uint32_t> get_api_version() {
    return {api_version_major, api_version_minor, api_version_patch};
}

std::string get_api_version_string() {
    return std::to_string(api_version_major) + "." + std::to_string(api_version_minor) + "." +
           std::to_string(api_version_patch);
}

std::string format_ean(uint64_t ean) { return qx_sdk_client::util::format_ean(ean); }

}  // namespace

PyMethodDef& get_api_version_function() {
    static PyMethodDef def = function<"get_api_version", get_api_version>(
        "Gets the version of this API\n"
        "\n"
        "Returns:\n"
        "    (int, int, int): A tuple with (major, minor, patch)"_doc);
    return def;
}

PyMethodDef& get_api_version_string_function() {
    static PyMethodDef def = function<"get_api_version_string", get_api_version_string>(
        "Gets the version string of this api\n"
        "\n"
        "Returns:\n"
        "    (str): A string using semver format: X.X.X"_doc);
    return def;
}

PyMethodDef& format_ean_function() {
    static PyMethodDef def = function<"format_ean", format_ean, "ean">(
        "A helper function to format the given ean as:\n"
        "XX-XXXXX-XXXXX-X\n"
        "\n"
        "Parameters:\n"
        "    ean (int): Ean to format\n"
        "\n"
        "Returns:\n"
        "    (str): A formatted string"_doc);
    return def;
}

}  // namespace brisel_qx_api
