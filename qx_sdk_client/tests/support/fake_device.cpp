#include "qx_sdk_client/tests/support/fake_device.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "qx_sdk_client/tests/support/device_behaviour.hpp"

namespace qx_test {
namespace {

using std::chrono::milliseconds;

// No single wait is longer than this; each loop re-checks the stop signal.
constexpr int poll_slice_ms = 500;

[[noreturn]] void throw_errno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

enum class Wait { Ready, Stopped };

Wait wait_for(int fd, short events, int stop_fd) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
        const int n = ::poll(fds, 2, poll_slice_ms);
        if (n < 0 && errno != EINTR) return Wait::Stopped;  // nothing sensible left to wait for
        if (fds[1].revents != 0) return Wait::Stopped;
        if (fds[0].revents != 0) return Wait::Ready;  // readiness, hang-up or error: the next call tells
    }
}

// False when the device stopped during the pause.
bool pause(int stop_fd, milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        pollfd stop{stop_fd, POLLIN, 0};
        const int n = ::poll(&stop, 1, static_cast<int>(std::min<long>(left.count(), poll_slice_ms)));
        if (n > 0) return false;
    }
}

bool receive_exact(int fd, int stop_fd, uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n == 0) {
            return false;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (wait_for(fd, POLLIN, stop_fd) == Wait::Stopped) return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool send_all(int fd, int stop_fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes = bytes.subspan(static_cast<size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (wait_for(fd, POLLOUT, stop_fd) == Wait::Stopped) return false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool set_no_delay(int fd, bool on) {
    const int value = on ? 1 : 0;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

// True once the peer has acknowledged every byte sent so far (so nothing is
// held back either).
bool all_acknowledged(int fd) {
    int unacknowledged = 0;
    return ::ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
}

}  // namespace

FakeDevice::FakeDevice(DeviceState state) : FakeDevice(std::move(state), Options()) {}

FakeDevice::FakeDevice(DeviceState state, Options options) : options_(std::move(options)), state_(std::move(state)) {
    sockaddr_storage address{};
    socklen_t address_size = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, options_.bind_address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(options_.port);
        address_size = sizeof *v4;
    } else if (::inet_pton(AF_INET6, options_.bind_address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(options_.port);
        address_size = sizeof *v6;
    } else {
        throw std::system_error(EINVAL, std::generic_category(), "fake device: not a numeric address");
    }

    int stop_pipe[2];
    if (::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw_errno("fake device: pipe");
    stop_read_fd_ = stop_pipe[0];
    stop_write_fd_ = stop_pipe[1];

    listen_fd_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (listen_fd_ < 0 || ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), address_size) != 0 ||
        ::listen(listen_fd_, 4096) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &address_size) != 0) {
        const int error = errno;
        if (listen_fd_ >= 0) ::close(listen_fd_);
        ::close(stop_read_fd_);
        ::close(stop_write_fd_);
        throw std::system_error(error, std::generic_category(), "fake device: listen");
    }
    port_ = ntohs(address.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    accept_thread_ = std::thread([this] { accept_loop(); });
}

FakeDevice::~FakeDevice() {
    const char stop = 1;
    while (::write(stop_write_fd_, &stop, 1) < 0 && errno == EINTR) {
    }
    accept_thread_.join();
    for (Connection& connection : connections_) connection.thread.join();
    ::close(listen_fd_);
    ::close(stop_read_fd_);
    ::close(stop_write_fd_);
}

void FakeDevice::accept_loop() {
    for (;;) {
        if (wait_for(listen_fd_, POLLIN, stop_read_fd_) == Wait::Stopped) return;
        reap_finished_connections();
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or an aborted handshake: try again shortly
            // rather than spin on a listening socket that stays readable.
            if (!pause(stop_read_fd_, milliseconds(10))) return;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // small pieces leave one by one
        {
            std::lock_guard lock(mutex_);
            ++open_connections_;
            ++accepted_connections_;
        }
        changed_.notify_all();
        Connection& connection = connections_.emplace_back();
        try {
            connection.thread = std::thread([this, fd, &connection] {
                serve(fd);
                connection.finished = true;
            });
        } catch (const std::system_error&) {
            connections_.pop_back();
            ::close(fd);
            std::lock_guard lock(mutex_);
            --open_connections_;
        }
    }
}

void FakeDevice::reap_finished_connections() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (it->finished) {
            it->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void FakeDevice::serve(int fd) {
    // True while Nagle's algorithm is on (Fault::Sending::nagle). Turning it
    // off would push out at once whatever it holds, so that waits for a
    // request whose reply finds everything acknowledged; from there on both
    // ways of sending behave alike.
    bool nagle = false;
    for (;;) {
        Bytes request(header_size);
        if (!receive_exact(fd, stop_read_fd_, request.data(), header_size)) break;
        const FrameHeader header = parse_header(std::span<const uint8_t, header_size>(request.data(), header_size));
        request.resize(header_size + header.length);
        if (!receive_exact(fd, stop_read_fd_, request.data() + header_size, header.length)) break;
        size_t number = 0;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            number = received_total_++;
        }
        changed_.notify_all();

        const std::span<const uint8_t> payload(request.data() + header_size, header.length);
        const auto answer = [&] {
            std::lock_guard lock(mutex_);
            return answer_request(state_, header.command, payload);
        };
        if (nagle && all_acknowledged(fd) && set_no_delay(fd, true)) nagle = false;
        const std::optional<Fault> fault = take_fault(header.command);
        bool keep_open = true;
        if (!fault) {
            keep_open = send_all(fd, stop_read_fd_, answer());
        } else {
            switch (fault->kind) {
                case Fault::Kind::ErrorPacket:
                    keep_open = send_all(fd, stop_read_fd_, error_frame(fault->status));
                    break;
                case Fault::Kind::RawBytes: keep_open = send_all(fd, stop_read_fd_, fault->bytes); break;
                case Fault::Kind::Delay:
                    keep_open = pause(stop_read_fd_, fault->delay) && send_all(fd, stop_read_fd_, answer());
                    break;
                case Fault::Kind::Close:
                    if (fault->reply_prefix > 0) {
                        const Bytes reply = answer();
                        send_all(fd, stop_read_fd_,
                                 std::span(reply).first(std::min(fault->reply_prefix, reply.size())));
                    }
                    keep_open = false;
                    break;
                case Fault::Kind::NoReply: break;
                case Fault::Kind::OversizeHeader: {
                    Bytes reply = frame(static_cast<uint16_t>(header.command + 1));
                    reply[2] = static_cast<uint8_t>(fault->announced_length);
                    reply[3] = static_cast<uint8_t>(fault->announced_length >> 8);
                    reply.resize(header_size + fault->announced_length, 0);
                    keep_open = send_all(fd, stop_read_fd_, reply);
                    break;
                }
                case Fault::Kind::ReplyTwice: {
                    if (fault->sending == Fault::Sending::nagle && set_no_delay(fd, false)) nagle = true;
                    const Bytes reply = answer();
                    keep_open = send_all(fd, stop_read_fd_, reply) && pause(stop_read_fd_, fault->delay) &&
                                send_all(fd, stop_read_fd_, reply);
                    break;
                }
                case Fault::Kind::SplitReply: {
                    const Bytes reply = fault->bytes.empty() ? answer() : fault->bytes;
                    for (size_t at = 0; keep_open && at < reply.size(); at += fault->piece_size) {
                        if (at > 0) keep_open = pause(stop_read_fd_, fault->delay);
                        const size_t n = std::min(fault->piece_size, reply.size() - at);
                        keep_open = keep_open && send_all(fd, stop_read_fd_, std::span(reply).subspan(at, n));
                    }
                    break;
                }
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (number >= first_recorded_) ++handled_requests_;
        }
        changed_.notify_all();
        if (!keep_open) break;
    }
    ::close(fd);
    {
        std::lock_guard lock(mutex_);
        --open_connections_;
    }
    changed_.notify_all();
}

std::optional<Fault> FakeDevice::take_from(std::deque<Injection>& queue) {
    while (!queue.empty()) {
        Injection& front = queue.front();
        if (front.remaining == 0) {
            queue.pop_front();
            continue;
        }
        Fault fault = front.fault;
        if (front.remaining > 0 && --front.remaining == 0) queue.pop_front();
        return fault;
    }
    return std::nullopt;
}

std::optional<Fault> FakeDevice::take_fault(uint16_t command) {
    std::lock_guard lock(mutex_);
    if (auto fault = take_from(next_faults_)) return fault;
    const auto it = command_faults_.find(command);
    return it == command_faults_.end() ? std::nullopt : take_from(it->second);
}

DeviceState FakeDevice::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void FakeDevice::set_state(DeviceState state) {
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
}

void FakeDevice::update_state(const std::function<void(DeviceState&)>& change) {
    std::lock_guard lock(mutex_);
    change(state_);
}

void FakeDevice::inject(uint16_t command, Fault fault, int times) {
    if (times == 0 || times < always) return;
    std::lock_guard lock(mutex_);
    command_faults_[command].push_back({std::move(fault), times});
}

void FakeDevice::inject_next(Fault fault, int times) {
    if (times == 0 || times < always) return;
    std::lock_guard lock(mutex_);
    next_faults_.push_back({std::move(fault), times});
}

void FakeDevice::clear_faults() {
    std::lock_guard lock(mutex_);
    next_faults_.clear();
    command_faults_.clear();
}

std::vector<Bytes> FakeDevice::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<uint16_t> FakeDevice::request_commands() const {
    std::lock_guard lock(mutex_);
    std::vector<uint16_t> commands;
    commands.reserve(requests_.size());
    for (const Bytes& r : requests_) commands.push_back(static_cast<uint16_t>(r[0] | r[1] << 8));
    return commands;
}

size_t FakeDevice::request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

size_t FakeDevice::handled_request_count() const {
    std::lock_guard lock(mutex_);
    return handled_requests_;
}

void FakeDevice::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    first_recorded_ = received_total_;
    handled_requests_ = 0;
}

bool FakeDevice::wait_for_requests(size_t count, milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool FakeDevice::wait_for_handled_requests(size_t count, milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return handled_requests_ >= count; });
}

size_t FakeDevice::open_connections() const {
    std::lock_guard lock(mutex_);
    return open_connections_;
}

size_t FakeDevice::accepted_connections() const {
    std::lock_guard lock(mutex_);
    return accepted_connections_;
}

bool FakeDevice::wait_for_open_connections(size_t count, milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return open_connections_ == count; });
}

}  // namespace qx_test
