#include "qx_sdk_client/src/mdns/browse_session.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include <avahi-common/domain.h>
#include <avahi-common/error.h>
#include <avahi-common/timeval.h>

namespace qx_sdk_client::mdns {

namespace {

// DNS names compare without regard to ASCII case.
void append_lowercase(std::string& sink, const char* text) {
    for (; *text != '\0'; ++text) {
        const char c = *text;
        sink.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
}

// None of the three parts can hold a NUL, so NUL separates them.
std::string merge_key(const char* name, const char* type, const char* domain) {
    std::string key;
    append_lowercase(key, name);
    key.push_back('\0');
    append_lowercase(key, type);
    key.push_back('\0');
    append_lowercase(key, domain);
    return key;
}

std::string full_name(const std::string& name, const std::string& type, const std::string& domain) {
    char joined[AVAHI_DOMAIN_NAME_MAX];
    std::string text;
    if (avahi_service_name_join(joined, sizeof joined, name.c_str(), type.c_str(), domain.c_str()) == 0) {
        text = joined;
    } else {
        text = name + "." + type + "." + domain;
    }
    if (!text.ends_with('.')) {
        text.push_back('.');
    }
    return text;
}

bool to_service_address(const AvahiAddress& address, AvahiIfIndex interface, ServiceAddress& out) {
    if (address.proto == AVAHI_PROTO_INET) {
        Ipv4Address v4;
        static_assert(sizeof v4.octets == sizeof address.data.ipv4.address);
        std::memcpy(v4.octets.data(), &address.data.ipv4.address, v4.octets.size());
        out = v4;
        return true;
    }
    if (address.proto == AVAHI_PROTO_INET6) {
        Ipv6Address v6;
        static_assert(sizeof v6.octets == sizeof address.data.ipv6.address);
        std::memcpy(v6.octets.data(), address.data.ipv6.address, v6.octets.size());
        v6.scope_id = interface >= 0 ? static_cast<std::uint32_t>(interface) : 0;
        out = v6;
        return true;
    }
    return false;
}

}  // namespace

BrowseSession::BrowseSession(AvahiServer* server, const AvahiPoll* poll_api, std::shared_ptr<EventChannel> channel)
    : server_(server), poll_api_(poll_api), channel_(std::move(channel)) {}

std::expected<std::unique_ptr<BrowseSession>, std::string> BrowseSession::start(AvahiServer* server,
                                                                                const AvahiPoll* poll_api,
                                                                                const BrowseTarget& target,
                                                                                std::shared_ptr<EventChannel> channel) {
    std::unique_ptr<BrowseSession> session(new BrowseSession(server, poll_api, std::move(channel)));
    session->reaper_ = poll_api->timeout_new(poll_api, nullptr, &BrowseSession::on_reap, session.get());
    if (session->reaper_ == nullptr) {
        return std::unexpected(std::string("failed to create a timer on the mDNS poll loop"));
    }
    session->browser_ = avahi_s_service_browser_new(server, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, target.type.c_str(),
                                                    target.domain.c_str(), static_cast<AvahiLookupFlags>(0),
                                                    &BrowseSession::on_browse, session.get());
    if (session->browser_ == nullptr) {
        std::string text = "failed to browse for ";
        text += target.type;
        text += " in ";
        text += target.domain;
        text += ": ";
        text += avahi_strerror(avahi_server_errno(server));
        return std::unexpected(std::move(text));
    }
    return session;
}

BrowseSession::~BrowseSession() {
    free_browsing();
    if (reaper_ != nullptr) {
        poll_api_->timeout_free(reaper_);
        reaper_ = nullptr;
    }
}

void BrowseSession::free_browsing() {
    free_retired();
    for (auto& [key, service] : pending_) {
        free_avahi_objects(*service);
    }
    pending_.clear();
    if (browser_ != nullptr) {
        avahi_s_service_browser_free(browser_);
        browser_ = nullptr;
    }
}

void BrowseSession::finish_after_stop() {
    // A service still waiting for its other addresses goes out with those it
    // has, rather than being lost to the shutdown.
    std::vector<PendingService*> ready;
    for (auto& [key, service] : pending_) {
        if (!service->addresses.empty()) {
            ready.push_back(service.get());
        }
    }
    for (PendingService* service : ready) {
        deliver(*service);
    }
    free_browsing();
    channel_->close();
}

// Callbacks come from C: nothing may be thrown through them.

void BrowseSession::on_browse(AvahiSServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                              AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                              AvahiLookupResultFlags, void* userdata) {
    if (event != AVAHI_BROWSER_NEW || name == nullptr || type == nullptr || domain == nullptr) {
        return;
    }
    try {
        static_cast<BrowseSession*>(userdata)->service_appeared(interface, protocol, name, type, domain);
    } catch (...) {
    }
}

void BrowseSession::on_resolve(AvahiSServiceResolver*, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
                               const char*, const char*, const char*, const char*, const AvahiAddress* address,
                               std::uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* userdata) {
    auto& slot = *static_cast<ResolverSlot*>(userdata);
    try {
        if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
            slot.service->session->address_found(slot, interface, *address, port);
        } else if (event == AVAHI_RESOLVER_FAILURE) {
            slot.service->session->resolver_failed(slot);
        }
    } catch (...) {
    }
}

void BrowseSession::on_deadline(AvahiTimeout*, void* userdata) {
    auto& service = *static_cast<PendingService*>(userdata);
    try {
        if (!service.finished && !service.addresses.empty()) {
            service.session->deliver(service);
        }
    } catch (...) {
    }
}

void BrowseSession::on_reap(AvahiTimeout*, void* userdata) { static_cast<BrowseSession*>(userdata)->free_retired(); }

void BrowseSession::service_appeared(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
                                     const char* domain) {
    std::string key = merge_key(name, type, domain);
    if (delivered_.contains(key)) {
        return;
    }
    auto& owner = pending_[key];
    if (!owner) {
        owner = std::make_unique<PendingService>();
        owner->session = this;
        owner->key = std::move(key);
        owner->name = name;
        owner->type = type;
        owner->domain = domain;
    }
    // A raw pointer: a resolver callback may retire the service, which moves
    // its owner out of pending_ but keeps the object until the reaper runs.
    PendingService* service = owner.get();
    const std::pair where{interface, protocol};
    if (std::ranges::find(service->resolving_on, where) != service->resolving_on.end()) {
        return;
    }
    service->resolving_on.push_back(where);
    // The resolver yields one address per family; one per family gathers
    // both for a dual-stack host.
    for (const AvahiProtocol family : {AVAHI_PROTO_INET, AVAHI_PROTO_INET6}) {
        auto& slot = service->slots.emplace_back(std::make_unique<ResolverSlot>(ResolverSlot{service}));
        ResolverSlot* raw = slot.get();
        raw->resolver = avahi_s_service_resolver_new(server_, interface, protocol, service->name.c_str(),
                                                     service->type.c_str(), service->domain.c_str(), family,
                                                     AVAHI_LOOKUP_NO_TXT, &BrowseSession::on_resolve, raw);
        if (raw->resolver == nullptr) {
            raw->answered = true;
        }
    }
    if (!service->finished) {
        settle_if_complete(*service);
    }
}

void BrowseSession::address_found(ResolverSlot& slot, AvahiIfIndex interface, const AvahiAddress& address,
                                  std::uint16_t port) {
    PendingService& service = *slot.service;
    if (service.finished) {
        return;
    }
    slot.answered = true;
    ServiceAddress converted;
    if (to_service_address(address, interface, converted)) {
        if (!service.has_port) {
            service.port = port;
            service.has_port = true;
        }
        if (std::ranges::find(service.addresses, converted) == service.addresses.end()) {
            service.addresses.push_back(converted);
        }
    }
    if (service.deadline == nullptr && !service.addresses.empty()) {
        timeval when{};
        avahi_elapse_time(&when, static_cast<unsigned>(extra_address_wait.count()), 0);
        service.deadline = poll_api_->timeout_new(poll_api_, &when, &BrowseSession::on_deadline, &service);
        if (service.deadline == nullptr) {
            // Without a timer there is no waiting for more.
            deliver(service);
            return;
        }
    }
    settle_if_complete(service);
}

void BrowseSession::resolver_failed(ResolverSlot& slot) {
    PendingService& service = *slot.service;
    if (service.finished) {
        return;
    }
    slot.answered = true;
    settle_if_complete(service);
}

void BrowseSession::settle_if_complete(PendingService& service) {
    const bool all_answered = std::ranges::all_of(service.slots, [](const auto& slot) { return slot->answered; });
    if (!all_answered) {
        return;
    }
    if (!service.addresses.empty()) {
        deliver(service);
    } else {
        // Left undelivered, so the instance may be tried again if it reappears.
        retire(service);
    }
}

void BrowseSession::deliver(PendingService& service) {
    ResolvedService resolved;
    resolved.fullname = full_name(service.name, service.type, service.domain);
    resolved.addresses = service.addresses;
    resolved.port = service.port;
    channel_->push(std::move(resolved));
    delivered_.insert(service.key);
    retire(service);
}

void BrowseSession::retire(PendingService& service) {
    service.finished = true;
    auto node = pending_.extract(service.key);
    if (!node.empty()) {
        retired_.push_back(std::move(node.mapped()));
    }
    timeval now{};
    avahi_elapse_time(&now, 0, 0);
    poll_api_->timeout_update(reaper_, &now);
}

void BrowseSession::free_retired() {
    for (auto& service : retired_) {
        free_avahi_objects(*service);
    }
    retired_.clear();
}

void BrowseSession::free_avahi_objects(PendingService& service) {
    for (auto& slot : service.slots) {
        if (slot->resolver != nullptr) {
            avahi_s_service_resolver_free(slot->resolver);
            slot->resolver = nullptr;
        }
    }
    if (service.deadline != nullptr) {
        poll_api_->timeout_free(service.deadline);
        service.deadline = nullptr;
    }
}

}  // namespace qx_sdk_client::mdns
