// qx_fake_device: a fake device on loopback, for Python tests and benchmarks.
//
//   qx_fake_device [--port N] [--control-port N] [--bind ADDRESS]
//                  [--version V] [--ean E] [--serial S] [--name NAME]
//                  [--nickname NAME] [--interfaces N]
//                  [--set FIELD=VALUE]... [--iset INDEX:FIELD=VALUE]...
//                  [--no-stdin]
//
// Options apply in the order given. Once listening it prints "PORT <n>" and
// then "CONTROL <n>" on standard output, each on a line of its own, and
// serves until standard input reaches its end (unless --no-stdin), until
// SIGTERM or SIGINT, or until a control client sends "quit".
//
// The control channel listens on 127.0.0.1 at the CONTROL port and takes one
// command per line; each is answered with "OK", "OK <value>" or
// "ERR <message>":
//
//   set <field> <value>            a device field, e.g. "set name Bench 1"
//   get <field>                    -> OK <value>
//   iset <index> <field> <value>   a field of interface <index>
//   iget <index> <field>           -> OK <value>
//   fault <command|next> <times|always> <kind> [arguments]
//       kinds: error <status> | raw <hex> | delay <ms> | close [reply bytes]
//              | noreply | oversize <length> | split [piece bytes] [gap ms]
//              | twice <gap ms> [nagle]
//   clear_faults
//   requests                       -> OK <n>, then n lines, each one frame in hex
//   handled                        -> OK <n>: of those, the ones the device is done with
//   clear                          forget the recorded requests
//   connections                    -> OK <open> <accepted>
//   quit                           -> OK, then the tool exits
//
// Field names are the member paths of the state (e.g. protocol_version,
// ean, firmware.chunk_size, firmware.image; per interface e.g. link_mode,
// dcq.sqi, packet_generator.enabled); texts may be given as "hex:<bytes>".
// qx_sdk_client/tests/support/README.md has the full list.

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "qx_sdk_client/tests/support/control_commands.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"
#include "qx_sdk_client/tests/support/state_fields.hpp"

namespace {

using qx_test::DeviceState;
using qx_test::FakeDevice;

constexpr size_t max_control_line = 4 << 20;  // a raw fault of a whole frame fits easily

struct Settings {
    DeviceState state;
    FakeDevice::Options options;
    uint16_t control_port = 0;
    bool watch_stdin = true;
};

[[noreturn]] void usage_error(const std::string& message) {
    std::cerr << "qx_fake_device: " << message << "\n"
              << "usage: qx_fake_device [--port N] [--control-port N] [--bind ADDRESS] [--version V] [--ean E]\n"
              << "       [--serial S] [--name NAME] [--nickname NAME] [--interfaces N] [--set FIELD=VALUE]...\n"
              << "       [--iset INDEX:FIELD=VALUE]... [--no-stdin]\n";
    std::exit(2);
}

void apply(std::expected<void, std::string> result) {
    if (!result) usage_error(result.error());
}

uint16_t port_number(std::string_view text) {
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) {
        usage_error("bad port " + std::string(text));
    }
    return static_cast<uint16_t>(value);
}

Settings parse_arguments(int argc, char** argv) {
    Settings settings;
    // Options that name one state field.
    const struct {
        std::string_view option;
        std::string_view field;
    } field_options[] = {
        {"--version", "protocol_version"}, {"--ean", "ean"},
        {"--serial", "serial_number"},     {"--name", "name"},
        {"--nickname", "nickname"},        {"--interfaces", "interfaces"},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--no-stdin") {
            settings.watch_stdin = false;
            continue;
        }
        if (option == "--help") usage_error("a fake device for tests");
        if (i + 1 >= argc) usage_error("missing value for " + std::string(option));
        const std::string_view value = argv[++i];
        bool known = false;
        for (const auto& f : field_options) {
            if (option == f.option) {
                apply(qx_test::set_device_field(settings.state, f.field, value));
                known = true;
            }
        }
        if (known) continue;
        if (option == "--port") {
            settings.options.port = port_number(value);
        } else if (option == "--control-port") {
            settings.control_port = port_number(value);
        } else if (option == "--bind") {
            settings.options.bind_address = value;
        } else if (option == "--set") {
            const size_t eq = value.find('=');
            if (eq == std::string_view::npos) usage_error("--set wants FIELD=VALUE");
            apply(qx_test::set_device_field(settings.state, value.substr(0, eq), value.substr(eq + 1)));
        } else if (option == "--iset") {
            const size_t colon = value.find(':');
            const size_t eq = value.find('=');
            if (colon == std::string_view::npos || eq == std::string_view::npos || eq < colon) {
                usage_error("--iset wants INDEX:FIELD=VALUE");
            }
            const std::string index_text(value.substr(0, colon));
            char* end = nullptr;
            const unsigned long index = std::strtoul(index_text.c_str(), &end, 10);
            if (index_text.empty() || *end != '\0') usage_error("bad interface index " + index_text);
            apply(qx_test::set_interface_field(settings.state, index, value.substr(colon + 1, eq - colon - 1),
                                               value.substr(eq + 1)));
        } else {
            usage_error("unknown option " + std::string(option));
        }
    }
    return settings;
}

// A benchmark holds a thousand idle connections; make room for them.
void raise_descriptor_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int listen_loopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        std::perror("qx_fake_device: control channel");
        std::exit(1);
    }
    return fd;
}

uint16_t bound_port(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

struct ControlClient {
    int fd;
    std::string pending;
};

// Replies are short; a client that stops reading for two seconds is dropped.
bool send_reply(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

// False when the client is done (closed, misbehaved or asked to quit); sets
// `quit` when the tool should end.
bool serve_control_client(FakeDevice& device, ControlClient& client, bool& quit) {
    char buffer[4096];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;
    client.pending.append(buffer, static_cast<size_t>(n));
    size_t line_end;
    while ((line_end = client.pending.find('\n')) != std::string::npos) {
        const std::string line = client.pending.substr(0, line_end);
        client.pending.erase(0, line_end + 1);
        const qx_test::ControlResponse response = qx_test::run_control_command(device, line);
        if (!send_reply(client.fd, response.text)) return false;
        if (response.quit) {
            quit = true;
            return false;
        }
    }
    return client.pending.size() <= max_control_line;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings = parse_arguments(argc, argv);
    raise_descriptor_limit();

    // Blocked before any thread starts, so every thread inherits the mask
    // and the signals arrive only through the signalfd below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signal_fd = ::signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signal_fd < 0) {
        std::perror("qx_fake_device: signalfd");
        return 1;
    }

    std::optional<FakeDevice> device;
    try {
        device.emplace(std::move(settings.state), settings.options);
    } catch (const std::exception& e) {
        std::cerr << "qx_fake_device: " << e.what() << "\n";
        return 1;
    }
    const int control_fd = listen_loopback(settings.control_port);
    std::printf("PORT %u\nCONTROL %u\n", static_cast<unsigned>(device->port()),
                static_cast<unsigned>(bound_port(control_fd)));
    std::fflush(stdout);

    std::vector<ControlClient> clients;
    bool quit = false;
    while (!quit) {
        std::vector<pollfd> watched = {{signal_fd, POLLIN, 0}, {control_fd, POLLIN, 0}};
        watched.push_back({settings.watch_stdin ? STDIN_FILENO : -1, POLLIN, 0});
        for (const ControlClient& c : clients) watched.push_back({c.fd, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), 1000) < 0 && errno != EINTR) break;

        if (watched[0].revents != 0) break;
        if (watched[2].revents != 0) {
            char scratch[256];
            const ssize_t n = ::read(STDIN_FILENO, scratch, sizeof scratch);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        }
        // Clients first, by index: accepting below appends to the list.
        for (size_t i = clients.size(); i-- > 0;) {
            if (watched[3 + i].revents == 0) continue;
            if (!serve_control_client(*device, clients[i], quit)) {
                ::close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (watched[1].revents != 0) {
            const int fd = ::accept4(control_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                const timeval send_limit{2, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
                clients.push_back({fd, {}});
            }
        }
    }
    for (const ControlClient& c : clients) ::close(c.fd);
    ::close(control_fd);
    ::close(signal_fd);
    device.reset();  // joins the connection threads
    return 0;
}
