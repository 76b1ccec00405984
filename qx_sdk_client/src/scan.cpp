#include "qx_sdk_client/src/scan.hpp"

#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "qx_sdk_client/src/stdout_line.hpp"

namespace qx_sdk_client::client {
namespace {

using error::Error;
using error::Result;
using std::chrono::steady_clock;

std::unexpected<Error> discovery_error(std::string text) {
    return std::unexpected(Error(Error::Kind::DeviceDiscoveryError, std::move(text)));
}

// A connection failure is the device's problem, not the scan's: it is
// reported and the scan goes on without it.
void connect_and_keep(const Client& client, const mdns::ResolvedService& service,
                      std::vector<device::Device>& found) {
    Result<device::Device> device = client.connect_device(service);
    if (device) {
        found.push_back(std::move(*device));
    } else if (device.error().kind() == Error::Kind::ClientSoftwareTooOldForDevice) {
        util::print_stdout_line("Encountered a device with newer (incompatible) firmware");
    } else {
        util::print_stdout_line("Failed to connect to device " + device.error().debug_text());
    }
}

// Handles services one at a time in the order reported, until the daemon
// has stopped and everything it queued before that is handled.
void drain(const Client& client, mdns::Receiver& receiver, std::vector<device::Device>& found,
           bool& failed) noexcept {
    try {
        while (true) {
            std::expected<mdns::ResolvedService, mdns::RecvError> service = receiver.recv();
            if (!service) {
                return;
            }
            connect_and_keep(client, *service, found);
        }
    } catch (...) {
        // Only memory exhaustion gets here; the scan reports it rather than
        // return a list that silently lacks devices.
        failed = true;
    }
}

// A daemon that does not stop within the bound still closes the channel, so
// the worker ends; the devices already found are kept and the leftover stop
// is only reported.
void stop_daemon(mdns::ServiceDaemon& daemon, std::chrono::milliseconds bound) noexcept {
    try {
        std::expected<void, std::string> stopped = daemon.shutdown(bound);
        if (!stopped) {
            util::print_stdout_line("Failed to shut down MDNS Service Daemon: " + stopped.error());
        }
    } catch (...) {
    }
}

// Asks the daemon to stop and joins the worker on every way out of the
// scan, so a joinable thread is never destroyed and the worker never
// waits on a channel that stays open.
class WorkerStop {
public:
    WorkerStop(mdns::ServiceDaemon& daemon, std::thread& worker, std::chrono::milliseconds bound)
        : daemon_(daemon), worker_(worker), bound_(bound) {}
    WorkerStop(const WorkerStop&) = delete;
    WorkerStop& operator=(const WorkerStop&) = delete;
    ~WorkerStop() { stop(); }

    void stop() noexcept {
        if (!daemon_stopped_) {
            daemon_stopped_ = true;
            stop_daemon(daemon_, bound_);
        }
        try {
            if (worker_.joinable()) {
                worker_.join();
            }
        } catch (...) {
        }
    }

private:
    mdns::ServiceDaemon& daemon_;
    std::thread& worker_;
    std::chrono::milliseconds bound_;
    bool daemon_stopped_ = false;
};

steady_clock::time_point saturating_deadline(steady_clock::time_point start, std::chrono::nanoseconds duration) {
    const auto room = steady_clock::time_point::max() - start;
    return duration >= room ? steady_clock::time_point::max()
                            : start + std::chrono::duration_cast<steady_clock::duration>(duration);
}

[[nodiscard]] Result<std::vector<device::Device>> scan(const Client& client, std::chrono::nanoseconds scan_duration,
                                         std::chrono::milliseconds shutdown_bound) {
    // The library's own texts are dropped: these are the texts callers see.
    std::expected<mdns::ServiceDaemon, std::string> daemon = mdns::ServiceDaemon::create();
    if (!daemon) {
        return discovery_error("Failed to create MDNS Service Daemon");
    }
    std::expected<mdns::Receiver, std::string> receiver = daemon->browse(SERVICE_TYPE);
    if (!receiver) {
        return discovery_error("Failed to browse for service");
    }

    std::vector<device::Device> found;
    bool worker_failed = false;
    std::thread worker;
    try {
        worker = std::thread(drain, std::cref(client), std::ref(*receiver), std::ref(found),
                             std::ref(worker_failed));
    } catch (const std::system_error&) {
        stop_daemon(*daemon, shutdown_bound);
        return discovery_error("Failed to start the discovery worker thread");
    }
    const steady_clock::time_point started = steady_clock::now();
    WorkerStop worker_stop(*daemon, worker, shutdown_bound);

    if (scan_duration > std::chrono::nanoseconds::zero()) {
        std::this_thread::sleep_until(saturating_deadline(started, scan_duration));
    }
    worker_stop.stop();

    if (worker_failed) {
        return discovery_error("The discovery worker failed while connecting devices");
    }
    sort_devices(found);
    return found;
}

}  // namespace

Result<std::vector<device::Device>> run_scan(const Client& client, std::chrono::nanoseconds scan_duration,
                                             std::chrono::milliseconds shutdown_bound) {
    if (scan_duration < std::chrono::nanoseconds::zero()) {
        return discovery_error("Scan duration must not be negative");
    }
    try {
        return scan(client, scan_duration, shutdown_bound);
    } catch (const std::exception& failure) {
        return discovery_error(std::string("Scan failed: ") + failure.what());
    } catch (...) {
        return discovery_error("Scan failed");
    }
}

}  // namespace qx_sdk_client::client
