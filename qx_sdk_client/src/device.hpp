// One connected device. The address, EAN and serial number are fixed at
// creation and read without the lock; every other operation asks the device
// anew, one exchange on its shared connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/firmware_update_callbacks.hpp"
#include "qx_sdk_client/src/interface.hpp"
#include "qx_sdk_client/src/socket_address.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"

namespace qx_sdk_client::device {

class Device {
public:
    // Sets both socket timeouts to `timeout` (a failure prints a line and is
    // not an error), then asks for the protocol version, the EAN and the
    // serial number. On failure the stream is closed.
    [[nodiscard]] static error::Result<Device> create(net::SocketAddress address, net::TcpStream stream,
                                                      std::chrono::nanoseconds timeout);

    // The address the stream was connected to.
    const net::SocketAddress& address() const { return address_; }
    // The connection, shared with every interface taken from this device.
    const SharedConnection& connection() const { return connection_; }

    // Kept from creation; no exchange, no lock, answers even when the lock is broken.
    uint64_t get_ean() const { return ean_; }
    uint64_t get_serial_number() const { return serial_number_; }

    [[nodiscard]] error::Result<std::string> get_name() const;
    // Protocol version 2.
    [[nodiscard]] error::Result<std::string> get_nickname() const;
    // Protocol version 2. UTF-8 without NUL bytes, at most 4,090 bytes; a non-success status is the error.
    [[nodiscard]] error::Result<void> set_nickname(std::string_view nickname) const;
    // set_nickname("").
    [[nodiscard]] error::Result<void> reset_nickname() const;
    // One handle per reported interface, indices 0 up, each sharing the connection.
    [[nodiscard]] error::Result<std::vector<interface::Interface>> get_interfaces() const;
    [[nodiscard]] error::Result<uint64_t> get_firmware_ean() const;
    [[nodiscard]] error::Result<std::string> get_pcb_revision() const;
    [[nodiscard]] error::Result<std::string> get_firmware_version() const;
    [[nodiscard]] error::Result<std::string> get_bootloader_version() const;
    // The Unix epoch plus the seconds the device reports.
    [[nodiscard]] error::Result<std::chrono::sys_seconds> get_manufacturing_date() const;
    // Makes the device signal itself; a non-success status is the error.
    [[nodiscard]] error::Result<void> identify() const;

    // Sends `image` in the chunks the device asks for, holding the lock
    // throughout, callbacks included; both socket timeouts are
    // FIRMWARE_UPDATE_TIMEOUT (firmware_update.hpp) meanwhile. Only the
    // finalize reply decides what update_finished is told; an earlier
    // failure skips it.
    [[nodiscard]] error::Result<void> update_firmware_from_blob(std::span<const uint8_t> image,
                                                                const FirmwareUpdateCallbacks& callbacks) const;
    // Reads the whole file first: FileOpenError / FileReadError before the
    // lock is taken or any callback runs.
    [[nodiscard]] error::Result<void> update_firmware_from_path(const std::string& path,
                                                                const FirmwareUpdateCallbacks& callbacks) const;

private:
    Device(net::SocketAddress address, SharedConnection connection)
        : address_(std::move(address)), connection_(std::move(connection)) {}

    [[nodiscard]] error::Result<void> update_protocol_version();
    [[nodiscard]] error::Result<void> update_ean();
    [[nodiscard]] error::Result<void> update_serial_number();

    net::SocketAddress address_;
    SharedConnection connection_;
    uint64_t ean_ = 0;
    uint64_t serial_number_ = 0;
};

}  // namespace qx_sdk_client::device
