#include "qx_sdk_client/src/mdns/service_daemon.hpp"

#include <mutex>
#include <utility>

#include <avahi-common/error.h>
#include <avahi-core/core.h>
#include <avahi-core/log.h>

#include "qx_sdk_client/src/mdns/bounded_run.hpp"
#include "qx_sdk_client/src/mdns/browse_session.hpp"
#include "qx_sdk_client/src/mdns/poll_thread.hpp"
#include "qx_sdk_client/src/mdns/server_descriptors.hpp"
#include "qx_sdk_client/src/mdns/service_type.hpp"

namespace qx_sdk_client::mdns {

// Everything that lives on the daemon's thread. Destroying it stops that
// thread first, so nothing below runs concurrently with avahi.
struct DaemonCore {
    std::unique_ptr<PollThread> loop;
    AvahiServer* server = nullptr;
    std::vector<std::unique_ptr<BrowseSession>> sessions;

    DaemonCore() = default;
    DaemonCore(const DaemonCore&) = delete;
    DaemonCore& operator=(const DaemonCore&) = delete;

    ~DaemonCore() {
        if (loop) {
            loop->stop();
        }
        for (auto& session : sessions) {
            session->finish_after_stop();
        }
        sessions.clear();
        if (server != nullptr) {
            avahi_server_free(server);
        }
        loop.reset();
    }
};

namespace {

// Avahi logs interface changes and more to stderr by default; the library
// has no logging of its own, so none of it may reach the user.
void drop_avahi_log(AvahiLogLevel, const char*) {}

void silence_avahi() {
    static std::once_flag once;
    std::call_once(once, [] { avahi_set_log_function(&drop_avahi_log); });
}

void on_server_state(AvahiServer*, AvahiServerState, void*) {}

// Held while a daemon's poll loop and server open their descriptors, from
// the reservation of what the server opens until avahi has opened it, so
// that another daemon's start cannot take a slot that one has just freed.
std::mutex daemon_start_mutex;

// A pure browser: it must not announce a host name or records of its own,
// so that a responder already running on this host sees no conflict, and it
// must leave the port shareable.
void configure_as_browser_only(AvahiServerConfig& config) {
    config.use_ipv4 = 1;
    config.use_ipv6 = 1;
    config.disable_publishing = 1;
    config.publish_hinfo = 0;
    config.publish_addresses = 0;
    config.publish_workstation = 0;
    config.publish_domain = 0;
    config.publish_aaaa_on_ipv4 = 0;
    config.publish_a_on_ipv6 = 0;
    config.add_service_cookie = 0;
    config.disallow_other_stacks = 0;
    config.enable_reflector = 0;
    config.enable_wide_area = 0;
    config.use_iff_running = 0;
}

std::string avahi_failure(std::string_view what, int error) {
    std::string text(what);
    text += ": ";
    text += avahi_strerror(error);
    return text;
}

}  // namespace

std::expected<ResolvedService, RecvError> Receiver::recv() {
    if (!channel_) {
        return std::unexpected(RecvError::Closed);
    }
    return channel_->recv(std::nullopt);
}

std::expected<ResolvedService, RecvError> Receiver::recv_for(std::chrono::milliseconds timeout) {
    if (!channel_) {
        return std::unexpected(RecvError::Closed);
    }
    return channel_->recv(std::chrono::steady_clock::now() + timeout);
}

std::size_t Receiver::queued() const { return channel_ ? channel_->queued() : 0; }

ServiceDaemon::ServiceDaemon(std::unique_ptr<DaemonCore> core) : core_(std::move(core)) {}

ServiceDaemon::ServiceDaemon(ServiceDaemon&&) noexcept = default;

ServiceDaemon& ServiceDaemon::operator=(ServiceDaemon&& other) noexcept {
    if (this != &other) {
        stop_if_running();
        core_ = std::move(other.core_);
        channels_ = std::move(other.channels_);
    }
    return *this;
}

ServiceDaemon::~ServiceDaemon() { stop_if_running(); }

void ServiceDaemon::stop_if_running() noexcept {
    if (!core_) {
        return;
    }
    try {
        (void)shutdown();
    } catch (...) {
    }
    // Still here when no thread could be had for the bounded stop.
    if (core_) {
        stop_here();
    }
}

std::expected<ServiceDaemon, std::string> ServiceDaemon::create() {
    silence_avahi();
    auto core = std::make_unique<DaemonCore>();
    AvahiServerConfig config;
    avahi_server_config_init(&config);
    configure_as_browser_only(config);
    int error = 0;
    {
        std::lock_guard starting(daemon_start_mutex);
        core->loop = PollThread::create();
        if (!core->loop) {
            avahi_server_config_free(&config);
            return std::unexpected(std::string("failed to create the mDNS poll loop"));
        }
        std::expected<ServerDescriptors, std::string> descriptors = ServerDescriptors::reserve(config);
        if (!descriptors) {
            avahi_server_config_free(&config);
            return std::unexpected(std::move(descriptors.error()));
        }
        // Given back at the last moment: avahi opens its sockets first
        // thing, and another daemon's start waits for the mutex, so only a
        // descriptor opened by something else in between could take one of
        // the freed slots.
        descriptors->release();
        core->server = avahi_server_new(core->loop->api(), &config, &on_server_state, nullptr, &error);
    }
    avahi_server_config_free(&config);
    if (core->server == nullptr) {
        return std::unexpected(avahi_failure("failed to start the mDNS server", error));
    }
    if (!core->loop->start()) {
        return std::unexpected(std::string("failed to start the mDNS daemon's thread"));
    }
    return ServiceDaemon(std::move(core));
}

std::expected<Receiver, std::string> ServiceDaemon::browse(std::string_view service_type) {
    if (!core_) {
        return std::unexpected(std::string("the mDNS daemon has been shut down"));
    }
    auto target = split_service_type(service_type);
    if (!target) {
        return std::unexpected(std::move(target.error()));
    }
    auto channel = std::make_shared<EventChannel>();
    {
        std::lock_guard lock(*core_->loop);
        auto session = BrowseSession::start(core_->server, core_->loop->api(), *target, channel);
        if (!session) {
            return std::unexpected(std::move(session.error()));
        }
        core_->sessions.push_back(std::move(*session));
    }
    channels_.push_back(channel);
    return Receiver(std::move(channel));
}

std::expected<void, ShutdownFailure> ServiceDaemon::shutdown(std::chrono::milliseconds bound) {
    using Kind = ShutdownFailure::Kind;
    if (!core_) {
        return std::unexpected(ShutdownFailure{Kind::AlreadyShutDown, "the mDNS daemon has already been shut down"});
    }
    DaemonCore* core = core_.get();
    const BoundedRunOutcome outcome = run_bounded([core] { delete core; }, bound);
    if (outcome == BoundedRunOutcome::NoThread) {
        return std::unexpected(ShutdownFailure{Kind::NoThread, "could not start a thread to stop the mDNS daemon"});
    }
    // Owned by the stopping thread from its start: if the stop outlasts the
    // bound, that thread still frees everything when it ends.
    (void)core_.release();
    // On success the core has closed them behind the queued events already;
    // otherwise no receiver may be left waiting for a daemon that will not
    // stop, and whatever it reports later is dropped.
    close_channels();
    channels_.clear();
    if (outcome == BoundedRunOutcome::TimedOut) {
        return std::unexpected(ShutdownFailure{Kind::Overran, "the mDNS daemon did not stop within " +
                                                                  std::to_string(bound.count()) +
                                                                  " ms; it is left to stop on its own"});
    }
    return {};
}

void ServiceDaemon::close_channels() noexcept {
    for (auto& channel : channels_) {
        channel->close();
    }
}

void ServiceDaemon::stop_here() noexcept {
    core_.reset();
    close_channels();
    channels_.clear();
}

}  // namespace qx_sdk_client::mdns
