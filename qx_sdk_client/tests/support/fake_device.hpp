// A device on loopback that speaks the device protocol from a scripted state,
// with faults injected per request. Each connection is served by a thread
// of its own; every wait in it is bounded and ends when the device stops.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qx_sdk_client/tests/support/device_state.hpp"
#include "qx_sdk_client/tests/support/fault.hpp"
#include "qx_sdk_client/tests/support/wire_bytes.hpp"

namespace qx_test {

class FakeDevice {
public:
    struct Options {
        std::string bind_address = "127.0.0.1";  // numeric IPv4 or IPv6
        uint16_t port = 0;                       // 0: an ephemeral port
    };

    // For inject(): how many requests a fault applies to.
    static constexpr int always = -1;

    // Listens at once; throws std::system_error if it cannot.
    explicit FakeDevice(DeviceState state = DeviceState());
    FakeDevice(DeviceState state, Options options);
    ~FakeDevice();  // stops: closes every connection and joins every thread
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    uint16_t port() const { return port_; }
    const std::string& address() const { return options_.bind_address; }

    DeviceState state() const;
    void set_state(DeviceState state);
    void update_state(const std::function<void(DeviceState&)>& change);

    // Faults queue up: the first with uses left applies. "Next" faults apply
    // to the next requests whatever their command and come before the
    // per-command ones. `times` is a count or `always`.
    void inject(uint16_t command, Fault fault, int times = 1);
    void inject_next(Fault fault, int times = 1);
    void clear_faults();

    // Every request frame received (header and payload), in arrival order.
    std::vector<Bytes> requests() const;
    std::vector<uint16_t> request_commands() const;
    size_t request_count() const;
    // Of those, the requests the device is done with: whatever it sends for
    // one (a copy sent after a gap included) has been handed to the system.
    size_t handled_request_count() const;
    void clear_requests();
    // False if fewer than `count` requests arrived within `timeout`.
    bool wait_for_requests(size_t count, std::chrono::milliseconds timeout) const;
    // As above, for handled requests.
    bool wait_for_handled_requests(size_t count, std::chrono::milliseconds timeout) const;

    size_t open_connections() const;
    size_t accepted_connections() const;
    // False if the number of open connections did not become `count` within `timeout`.
    bool wait_for_open_connections(size_t count, std::chrono::milliseconds timeout) const;

private:
    struct Injection {
        Fault fault;
        int remaining;  // `always` for no limit
    };
    struct Connection {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void accept_loop();
    void serve(int fd);
    std::optional<Fault> take_fault(uint16_t command);
    static std::optional<Fault> take_from(std::deque<Injection>& queue);
    void reap_finished_connections();

    Options options_;
    uint16_t port_ = 0;
    int listen_fd_ = -1;
    int stop_read_fd_ = -1;  // readable once the device stops
    int stop_write_fd_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    DeviceState state_;
    std::deque<Injection> next_faults_;
    std::map<uint16_t, std::deque<Injection>> command_faults_;
    std::vector<Bytes> requests_;
    size_t received_total_ = 0;    // requests ever received; a request's number
    size_t first_recorded_ = 0;    // the number of the first request in requests_
    size_t handled_requests_ = 0;  // of requests_
    size_t open_connections_ = 0;
    size_t accepted_connections_ = 0;

    std::list<Connection> connections_;  // touched by the accept thread, then by the destructor
    std::thread accept_thread_;
};

}  // namespace qx_test
