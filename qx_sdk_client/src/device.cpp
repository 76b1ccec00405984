#include "qx_sdk_client/src/device.hpp"

#include <string>

#include "qx_sdk_client/src/exchange.hpp"
#include "qx_sdk_client/src/request_names.hpp"
#include "qx_sdk_client/src/stdout_line.hpp"
#include "qx_sdk_protocol/src/device.hpp"

namespace qx_sdk_client::device {
namespace {

namespace proto = qx_sdk_protocol::device;
namespace names = request_name;
using error::Result;

// The version request is the one request packed before the version is known.
[[nodiscard]] auto pack_version_request(uint32_t, std::span<uint8_t> buffer) { return proto::pack_get_version(buffer); }
[[nodiscard]] auto unpack_version_reply(uint32_t, std::span<const uint8_t> buffer) {
    return proto::unpack_get_version(buffer);
}

void report_timeout_failure(std::string_view what, const net::IoResult<void>& outcome) {
    if (!outcome) {
        util::print_stdout_line(std::string(what) + outcome.error().describe());
    }
}

}  // namespace

Result<Device> Device::create(net::SocketAddress address, net::TcpStream stream, std::chrono::nanoseconds timeout) {
    report_timeout_failure("Failed to set TCP read timeout ", stream.set_read_timeout(timeout));
    report_timeout_failure("Failed to set TCP write timeout ", stream.set_write_timeout(timeout));
    // On any failure below the device, and with it the stream, goes away.
    Device device(std::move(address), SharedConnection(std::move(stream)));
    for (auto step : {&Device::update_protocol_version, &Device::update_ean, &Device::update_serial_number}) {
        if (Result<void> done = (device.*step)(); !done) {
            return std::unexpected(std::move(done).error());
        }
    }
    return device;
}

Result<void> Device::update_protocol_version() {
    Result<ConnectionGuard> guard = lock_connection(connection_);
    if (!guard) {
        return std::unexpected(std::move(guard).error());
    }
    DeviceConnection& locked = guard->connection();
    Result<uint16_t> version =
        exchange(locked, names::update_protocol_version, pack_version_request, unpack_version_reply);
    if (!version) {
        return std::unexpected(std::move(version).error());
    }
    locked.protocol_version = *version;
    return {};
}

Result<void> Device::update_ean() {
    return request(connection_, names::update_ean, proto::pack_get_ean, proto::unpack_get_ean,
                   [&](uint64_t ean) -> Result<void> {
                       ean_ = ean;
                       return {};
                   });
}

Result<void> Device::update_serial_number() {
    return request(connection_, names::update_serial_number, proto::pack_get_serial_number,
                   proto::unpack_get_serial_number, [&](uint64_t serial_number) -> Result<void> {
                       serial_number_ = serial_number;
                       return {};
                   });
}

Result<std::string> Device::get_name() const {
    return request(connection_, names::device_get_name, proto::pack_get_device_name, proto::unpack_get_device_name);
}

Result<std::string> Device::get_nickname() const {
    return request(connection_, names::device_get_nickname, proto::pack_get_device_nickname,
                   proto::unpack_get_device_nickname);
}

Result<void> Device::set_nickname(std::string_view nickname) const {
    return request(connection_, names::device_set_nickname, pack_step(proto::pack_set_device_nickname, nickname),
                   proto::unpack_set_device_nickname);
}

Result<void> Device::reset_nickname() const { return set_nickname(""); }

Result<std::vector<interface::Interface>> Device::get_interfaces() const {
    return request(connection_, names::device_get_interfaces, proto::pack_get_num_interfaces,
                   proto::unpack_get_num_interfaces, [&](uint16_t count) -> Result<std::vector<interface::Interface>> {
                       std::vector<interface::Interface> interfaces;
                       interfaces.reserve(count);
                       for (uint32_t index = 0; index < count; ++index) {
                           interfaces.emplace_back(connection_, static_cast<uint16_t>(index));
                       }
                       return interfaces;
                   });
}

Result<uint64_t> Device::get_firmware_ean() const {
    return request(connection_, names::device_get_firmware_ean, proto::pack_get_firmware_ean,
                   proto::unpack_get_firmware_ean);
}

Result<std::string> Device::get_pcb_revision() const {
    return request(connection_, names::device_get_pcb_revision, proto::pack_get_pcb_revision,
                   proto::unpack_get_pcb_revision);
}

Result<std::string> Device::get_firmware_version() const {
    return request(connection_, names::device_get_firmware_version, proto::pack_get_firmware_version,
                   proto::unpack_get_firmware_version);
}

Result<std::string> Device::get_bootloader_version() const {
    return request(connection_, names::device_get_bootloader_version, proto::pack_get_bootloader_version,
                   proto::unpack_get_bootloader_version);
}

Result<std::chrono::sys_seconds> Device::get_manufacturing_date() const {
    return request(connection_, names::device_get_manufacturing_date, proto::pack_get_manufacturing_date,
                   proto::unpack_get_manufacturing_date);
}

Result<void> Device::identify() const {
    return request(connection_, names::device_identify, proto::pack_identify_device, proto::unpack_identify_device,
                   error::service_status_to_result);
}

}  // namespace qx_sdk_client::device
