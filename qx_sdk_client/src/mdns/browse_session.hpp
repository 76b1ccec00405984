// One browse for one service type on a running avahi server: finds the
// instances, resolves each once with every address it can gather, and queues
// the result on the browse's channel.
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <avahi-common/watch.h>
#include <avahi-core/core.h>
#include <avahi-core/lookup.h>

#include "qx_sdk_client/src/mdns/event_channel.hpp"
#include "qx_sdk_client/src/mdns/service_type.hpp"

namespace qx_sdk_client::mdns {

// After the first address of a service is known, how long its other
// resolvers (the other address family, other interfaces) may still add
// theirs. Responders usually send A and AAAA together, so this is only a
// margin for one that does not; it delays only services whose host lacks
// one family.
inline constexpr std::chrono::milliseconds extra_address_wait{50};

class BrowseSession {
public:
    // Call with the poll's lock held, or before its thread runs.
    [[nodiscard]] static std::expected<std::unique_ptr<BrowseSession>, std::string> start(
        AvahiServer* server, const AvahiPoll* poll_api, const BrowseTarget& target,
        std::shared_ptr<EventChannel> channel);

    // Call only once the poll's thread has stopped: queues every service
    // that already has an address, frees every avahi object, closes the
    // channel.
    void finish_after_stop();

    ~BrowseSession();
    BrowseSession(const BrowseSession&) = delete;
    BrowseSession& operator=(const BrowseSession&) = delete;

private:
    struct PendingService;
    struct ResolverSlot {
        PendingService* service;
        AvahiSServiceResolver* resolver = nullptr;
        bool answered = false;
    };
    struct PendingService {
        BrowseSession* session;
        std::string key;
        std::string name, type, domain;
        std::vector<std::pair<AvahiIfIndex, AvahiProtocol>> resolving_on;
        std::vector<std::unique_ptr<ResolverSlot>> slots;
        bool has_port = false;
        std::uint16_t port = 0;
        std::vector<ServiceAddress> addresses;
        AvahiTimeout* deadline = nullptr;
        bool finished = false;
    };

    BrowseSession(AvahiServer* server, const AvahiPoll* poll_api, std::shared_ptr<EventChannel> channel);

    static void on_browse(AvahiSServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent, const char* name,
                          const char* type, const char* domain, AvahiLookupResultFlags, void* userdata);
    static void on_resolve(AvahiSServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent, const char* name,
                           const char* type, const char* domain, const char* host_name, const AvahiAddress* address,
                           std::uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* userdata);
    static void on_deadline(AvahiTimeout*, void* userdata);
    static void on_reap(AvahiTimeout*, void* userdata);

    void service_appeared(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
                          const char* domain);
    void address_found(ResolverSlot& slot, AvahiIfIndex interface, const AvahiAddress& address, std::uint16_t port);
    void resolver_failed(ResolverSlot& slot);
    void settle_if_complete(PendingService& service);
    void deliver(PendingService& service);
    void retire(PendingService& service);
    void free_retired();
    // Frees the resolvers still at work and the browser.
    void free_browsing();
    void free_avahi_objects(PendingService& service);

    AvahiServer* server_;
    const AvahiPoll* poll_api_;
    std::shared_ptr<EventChannel> channel_;
    AvahiSServiceBrowser* browser_ = nullptr;
    // Resolvers are freed from a timeout of their own, never from inside
    // avahi's dispatch of one of their callbacks.
    AvahiTimeout* reaper_ = nullptr;
    std::unordered_map<std::string, std::unique_ptr<PendingService>> pending_;
    std::vector<std::unique_ptr<PendingService>> retired_;
    // Avahi reports an instance once per interface and protocol; it is
    // delivered once per browse.
    std::unordered_set<std::string> delivered_;
};

}  // namespace qx_sdk_client::mdns
