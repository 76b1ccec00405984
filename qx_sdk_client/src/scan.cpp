#include "qx_sdk_client/src/scan.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "qx_sdk_client/src/stdout_line.hpp"

namespace qx_sdk_client::client {
namespace {

using error::Error;
using error::Result;
using std::chrono::steady_clock;

std::unexpected<Error> discovery_error(std::string text) {
    return std::unexpected(Error(Error::Kind::DeviceDiscoveryError, std::move(text)));
}

// Up to this many services are connected at once: an address that never
// answers holds its worker for the client's timeout, and these run side by
// side instead of adding up while the caller waits.
constexpr std::size_t CONNECT_WORKERS = 16;

// What the workers hand back; several of them write at once. Each device
// comes with the number of its service in the order the services were
// taken from the channel.
class Findings {
public:
    void keep(std::size_t number, device::Device device) {
        std::lock_guard lock(mutex_);
        devices_.emplace_back(number, std::move(device));
    }
    void mark_failed() noexcept { failed_ = true; }
    bool failed() const noexcept { return failed_; }
    // In the order their services were taken, whichever was created first;
    // only once every worker has ended.
    std::vector<device::Device> take() {
        std::lock_guard lock(mutex_);
        std::ranges::sort(devices_, {}, &Numbered::first);
        std::vector<device::Device> devices;
        devices.reserve(devices_.size());
        for (auto& [number, device] : devices_) {
            devices.push_back(std::move(device));
        }
        devices_.clear();
        return devices;
    }

private:
    using Numbered = std::pair<std::size_t, device::Device>;
    std::mutex mutex_;
    std::vector<Numbered> devices_;
    std::atomic<bool> failed_ = false;
};

// A connection failure is the device's problem, not the scan's: it is
// reported and the scan goes on without it.
void connect_and_keep(const ServiceConnector& connect, std::size_t number, const mdns::ResolvedService& service,
                      Findings& found) {
    Result<device::Device> device = connect(service);
    if (device) {
        found.keep(number, std::move(*device));
    } else if (device.error().kind() == Error::Kind::ClientSoftwareTooOldForDevice) {
        util::print_stdout_line("Encountered a device with newer (incompatible) firmware");
    } else {
        util::print_stdout_line("Failed to connect to device " + device.error().debug_text());
    }
}

// A daemon that does not stop within the bound still closes the channel, so
// the workers end; the devices already found are kept and the leftover stop
// is only reported. False when no thread could be had for the stop: the
// daemon then runs on as it was.
bool stop_daemon(mdns::ServiceDaemon& daemon, std::chrono::milliseconds bound) noexcept {
    try {
        std::expected<void, mdns::ShutdownFailure> stopped = daemon.shutdown(bound);
        if (stopped || stopped.error().kind == mdns::ShutdownFailure::Kind::AlreadyShutDown) {
            return true;
        }
        if (stopped.error().kind == mdns::ShutdownFailure::Kind::NoThread) {
            return false;
        }
        util::print_stdout_line("Failed to shut down MDNS Service Daemon: " + stopped.error().text);
        return true;
    } catch (...) {
        // Out of memory on the way: whether the stop began is unknown, and
        // asking again once the workers are gone settles it.
        return false;
    }
}

// The scan's workers, taking services from the channel, which hands each to
// one of them. A worker that takes a service when no other is left waiting
// for the next starts another, up to CONNECT_WORKERS: a service reported
// while the others are busy connecting is taken at once, and a scan of a
// few quick devices runs one or two threads, not a pool's worth to wake and
// join at its end. On every way out of the scan the daemon is asked to stop
// and every worker is joined, so no joinable thread is destroyed, no worker
// waits on a channel that stays open, and none outlives the scan.
class Workers {
public:
    Workers(const ServiceConnector& connect, mdns::Receiver& receiver, Findings& found, mdns::ServiceDaemon& daemon,
            std::chrono::milliseconds bound)
        : connect_(connect), receiver_(receiver), found_(found), daemon_(daemon), bound_(bound) {
        // Never grown past this, so a thread object stays where stop() finds it.
        threads_.reserve(CONNECT_WORKERS);
    }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    ~Workers() { stop(); }

    // Throws what std::thread throws when the thread cannot be started.
    void start_first() {
        std::lock_guard lock(mutex_);
        start_locked();
    }

    void stop() noexcept {
        if (!daemon_stopped_) {
            daemon_stopped_ = true;
            if (!stop_daemon(daemon_, bound_)) {
                // The workers hold every thread the process may start. The
                // channel is closed from this end, so they end once they
                // have taken what is queued; then their threads are free for
                // the stop. A thread that has just ended may still count
                // against the limit for a moment: failing again, the daemon
                // is stopped here, without a bound.
                daemon_.close_channels();
                join_all();
                if (!stop_daemon(daemon_, bound_)) {
                    daemon_.stop_here();
                }
            }
        }
        join_all();
    }

private:
    // Joined in the order started. A worker may start another until it
    // ends, so the list is read again after every join; once all listed
    // have ended, nobody is left to add one.
    void join_all() noexcept {
        for (std::size_t next = 0;; ++next) {
            std::thread* thread = nullptr;
            {
                std::lock_guard lock(mutex_);
                if (next == threads_.size()) {
                    return;
                }
                thread = &threads_[next];
            }
            try {
                if (thread->joinable()) {
                    thread->join();
                }
            } catch (...) {
            }
        }
    }

    void start_locked() {
        threads_.emplace_back(&Workers::work, this);
        ++idle_;
    }

    // Until the daemon has stopped and everything it queued before that is
    // taken.
    void work() noexcept {
        try {
            while (true) {
                std::optional<Taken> next = take_next();
                if (!next) {
                    return;
                }
                took_one();
                connect_and_keep(connect_, next->number, next->service, found_);
                free_again();
            }
        } catch (...) {
            // Only memory exhaustion gets here; the scan reports it rather
            // than return a list that silently lacks devices.
            found_.mark_failed();
        }
    }

    struct Taken {
        std::size_t number;
        mdns::ResolvedService service;
    };

    // One worker at a time takes from the channel, so that the numbers
    // follow the order in which the daemon queued the services. Nothing
    // once the channel is closed and drained.
    std::optional<Taken> take_next() {
        std::lock_guard lock(taking_);
        std::expected<mdns::ResolvedService, mdns::RecvError> service = receiver_.recv();
        if (!service) {
            return std::nullopt;
        }
        return Taken{taken_++, std::move(*service)};
    }

    void took_one() noexcept {
        std::lock_guard lock(mutex_);
        --idle_;
        if (idle_ == 0 && threads_.size() < CONNECT_WORKERS) {
            try {
                start_locked();
            } catch (...) {
                // Fewer workers only make dead services cost more of the
                // caller's time.
            }
        }
    }

    void free_again() {
        std::lock_guard lock(mutex_);
        ++idle_;
    }

    const ServiceConnector& connect_;
    mdns::Receiver& receiver_;
    Findings& found_;
    mdns::ServiceDaemon& daemon_;
    std::chrono::milliseconds bound_;
    bool daemon_stopped_ = false;
    std::mutex taking_;
    std::size_t taken_ = 0;  // guarded by taking_
    std::mutex mutex_;
    // Guarded by mutex_: the workers, and how many of them are free to take
    // the next service.
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
};

steady_clock::time_point saturating_deadline(steady_clock::time_point start, std::chrono::nanoseconds duration) {
    const auto room = steady_clock::time_point::max() - start;
    return duration >= room ? steady_clock::time_point::max()
                            : start + std::chrono::duration_cast<steady_clock::duration>(duration);
}

[[nodiscard]] Result<std::vector<device::Device>> scan(std::string_view service_type, const ServiceConnector& connect,
                                                       std::chrono::nanoseconds scan_duration,
                                                       std::chrono::milliseconds shutdown_bound) {
    // The library's own texts are dropped: these are the texts callers see.
    std::expected<mdns::ServiceDaemon, std::string> daemon = mdns::ServiceDaemon::create();
    if (!daemon) {
        return discovery_error("Failed to create MDNS Service Daemon");
    }
    std::expected<mdns::Receiver, std::string> receiver = daemon->browse(service_type);
    if (!receiver) {
        return discovery_error("Failed to browse for service");
    }

    Findings found;
    Workers workers(connect, *receiver, found, *daemon, shutdown_bound);
    try {
        workers.start_first();
    } catch (const std::system_error&) {
        return discovery_error("Failed to start the discovery worker thread");
    }
    const steady_clock::time_point started = steady_clock::now();

    if (scan_duration > std::chrono::nanoseconds::zero()) {
        std::this_thread::sleep_until(saturating_deadline(started, scan_duration));
    }
    workers.stop();

    if (found.failed()) {
        return discovery_error("The discovery worker failed while connecting devices");
    }
    std::vector<device::Device> devices = found.take();
    sort_devices(devices);
    return devices;
}

}  // namespace

Result<std::vector<device::Device>> run_scan(std::string_view service_type, const ServiceConnector& connect,
                                             std::chrono::nanoseconds scan_duration,
                                             std::chrono::milliseconds shutdown_bound) {
    if (scan_duration < std::chrono::nanoseconds::zero()) {
        return discovery_error("Scan duration must not be negative");
    }
    try {
        return scan(service_type, connect, scan_duration, shutdown_bound);
    } catch (const std::exception& failure) {
        return discovery_error(std::string("Scan failed: ") + failure.what());
    } catch (...) {
        return discovery_error("Scan failed");
    }
}

void sort_devices(std::vector<device::Device>& devices) {
    std::ranges::stable_sort(devices, {}, [](const device::Device& device) {
        return std::tuple(device.get_ean(), device.get_serial_number());
    });
}

}  // namespace qx_sdk_client::client
