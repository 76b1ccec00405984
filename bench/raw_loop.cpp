// The floor the benchmark compares against: the same request and reply
// frames as the library exchanges, over a plain blocking socket, with no
// codec, no lock and no error mapping. One request is in flight at a time.
//
//   qx_bench_raw --port N [--index I] [--link-mode M] [--same-calls]
//
// --same-calls makes the system calls the library makes besides: before each
// request a drain of whatever waits, each frame sent from one buffer with
// send(), and after each whole reply an immediate acknowledgement. Without
// it, one sendmsg() and the reads: the physical limit.
//
// Commands on stdin, one per line; every answer is one line on stdout:
//   timer COUNT           -> "OK cpu ns..."  cost of an empty timed region
//   calls OP COUNT        -> "OK cpu ns..."  one sample per exchange (OP: status, name, set_eth)
//   once OP               -> "OK"        one exchange, untimed (to compare frames)
//   firmware SIZE CHUNK COUNT -> "OK ns..."  COUNT whole updates of a SIZE-byte image
// where cpu is the process's CPU time over the whole batch, in ns.
//   quit
// Failures answer "ERR text" and end the program.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int64_t cpu_time_ns() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

constexpr uint16_t get_device_name = 3;
constexpr uint16_t get_interface_status = 19;
constexpr uint16_t set_eth_config = 25;
constexpr uint16_t firmware_start = 49;
constexpr uint16_t firmware_chunk = 51;
constexpr uint16_t firmware_finalize = 53;
constexpr uint16_t error_packet = 0xBAAD;
constexpr size_t header_size = 4;

[[noreturn]] void fail(const std::string& text) {
    std::cout << "ERR " << text << std::endl;
    std::exit(1);
}

void put16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t get16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | in[1] << 8); }

class Connection {
public:
    Connection(uint16_t port, bool same_calls) : same_calls_(same_calls) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) fail("socket: " + std::string(std::strerror(errno)));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            fail("connect: " + std::string(std::strerror(errno)));
        }
        // The same bound the library puts on each read and write, so a
        // silent device ends the run instead of hanging it.
        const timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { ::close(fd_); }

    // Sends the pieces as one frame, then reads one reply frame into
    // reply_; returns its payload length. Usually one send and one receive.
    size_t exchange(const iovec* pieces, int count, uint16_t request) {
        if (same_calls_) {
            drain();
            send_joined(pieces, count);
        } else {
            send_pieces(pieces, count);
        }

        size_t have = 0;
        size_t want = header_size;
        while (have < want) {
            const ssize_t n = ::recv(fd_, reply_.data() + have, reply_.size() - have, 0);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                fail("receive failed or connection closed");
            }
            have += static_cast<size_t>(n);
            if (have >= header_size) want = header_size + get16(reply_.data() + 2);
            if (want > reply_.size()) fail("reply larger than the buffer");
        }
        if (have != want) fail("more bytes than one reply frame");
        if (same_calls_) quick_ack();
        const uint16_t command = get16(reply_.data());
        if (command == error_packet) fail("device answered with an error packet");
        if (command != request + 1) fail("unexpected reply command " + std::to_string(command));
        return want - header_size;
    }

    const uint8_t* payload() const { return reply_.data() + header_size; }

private:
    void send_pieces(const iovec* pieces, int count) {
        msghdr message{};
        message.msg_iov = const_cast<iovec*>(pieces);
        message.msg_iovlen = static_cast<size_t>(count);
        size_t total = 0;
        for (int i = 0; i < count; ++i) total += pieces[i].iov_len;
        const ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (sent != static_cast<ssize_t>(total)) fail("short or failed send");
    }

    // The library packs each frame into one buffer and sends that.
    void send_joined(const iovec* pieces, int count) {
        size_t total = 0;
        for (int i = 0; i < count; ++i) {
            if (pieces[i].iov_len > frame_.size() - total) fail("frame larger than the buffer");
            std::memcpy(frame_.data() + total, pieces[i].iov_base, pieces[i].iov_len);
            total += pieces[i].iov_len;
        }
        const ssize_t sent = ::send(fd_, frame_.data(), total, MSG_NOSIGNAL);
        if (sent != static_cast<ssize_t>(total)) fail("short or failed send");
    }

    // As the library before each request: reads without waiting until
    // nothing is left. In this benchmark the first read finds nothing.
    void drain() {
        uint8_t scratch[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && errno == EINTR)) continue;
            if (n == 0) fail("connection closed");
            if (errno != EAGAIN && errno != EWOULDBLOCK) fail("drain: " + std::string(std::strerror(errno)));
            return;
        }
    }

    void quick_ack() {
        const int one = 1;
        if (::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one) != 0) {
            fail("TCP_QUICKACK: " + std::string(std::strerror(errno)));
        }
    }

    int fd_ = -1;
    bool same_calls_ = false;
    std::array<uint8_t, 65536 + header_size> reply_{};
    std::array<uint8_t, 65536 + header_size> frame_{};
};

struct Frame {
    std::array<uint8_t, 8> bytes{};
    size_t size = 0;
    uint16_t command = 0;
};

Frame make_frame(const std::string& op, uint16_t index, uint16_t link_mode) {
    Frame frame;
    if (op == "name") {
        frame.command = get_device_name;
        frame.size = header_size;
    } else if (op == "status") {
        frame.command = get_interface_status;
        frame.size = header_size + 2;
        put16(frame.bytes.data() + 4, index);
    } else if (op == "set_eth") {
        frame.command = set_eth_config;
        frame.size = header_size + 4;
        put16(frame.bytes.data() + 4, index);
        put16(frame.bytes.data() + 6, link_mode);
    } else {
        fail("unknown operation " + op);
    }
    put16(frame.bytes.data(), frame.command);
    put16(frame.bytes.data() + 2, static_cast<uint16_t>(frame.size - header_size));
    return frame;
}

// The reply must be what the library would accept, so the floor does not
// skip work that a success needs (a status of 0 for the set request).
void check_reply(Connection& connection, const Frame& frame, size_t length) {
    if (frame.command == set_eth_config && (length < 2 || get16(connection.payload()) != 0)) {
        fail("set request refused");
    }
}

void run_once(Connection& connection, const Frame& frame) {
    iovec piece{const_cast<uint8_t*>(frame.bytes.data()), frame.size};
    check_reply(connection, frame, connection.exchange(&piece, 1, frame.command));
}

// The first element is the batch's CPU time, the others one sample each.
std::vector<int64_t> run_calls(Connection& connection, const Frame& frame, size_t count) {
    std::vector<int64_t> samples(count + 1);
    const int64_t cpu_start = cpu_time_ns();
    iovec piece{const_cast<uint8_t*>(frame.bytes.data()), frame.size};
    for (size_t i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const size_t length = connection.exchange(&piece, 1, frame.command);
        const auto end = Clock::now();
        check_reply(connection, frame, length);
        samples[i + 1] = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
    }
    samples[0] = cpu_time_ns() - cpu_start;
    return samples;
}

std::vector<int64_t> run_timer(size_t count) {
    std::vector<int64_t> samples(count + 1);
    const int64_t cpu_start = cpu_time_ns();
    for (size_t i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const auto end = Clock::now();
        samples[i + 1] = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
    }
    samples[0] = cpu_time_ns() - cpu_start;
    return samples;
}

// The image the Python side sends too: byte i is i * 7 mod 251.
std::vector<uint8_t> make_image(size_t size) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 % 251);
    return image;
}

// Start, every chunk (header and chunk header in front of a view into the
// image, no copy), finalize. The chunk size is the one the device asks for.
void update_firmware(Connection& connection, const std::vector<uint8_t>& image, size_t expected_chunk) {
    uint8_t start[header_size + 5];
    put16(start, firmware_start);
    put16(start + 2, 5);
    start[4] = 0;
    const auto size = static_cast<uint32_t>(image.size());
    std::memcpy(start + 5, &size, 4);  // little-endian host
    iovec start_piece{start, sizeof start};
    if (connection.exchange(&start_piece, 1, firmware_start) < 2) fail("short start reply");
    const size_t chunk = get16(connection.payload());
    if (chunk == 0 || chunk != expected_chunk) fail("device asked for chunk size " + std::to_string(chunk));

    uint8_t chunk_header[header_size + 4];
    put16(chunk_header, firmware_chunk);
    uint16_t index = 0;
    for (size_t offset = 0; offset < image.size(); offset += chunk, ++index) {
        const size_t length = std::min(chunk, image.size() - offset);
        put16(chunk_header + 2, static_cast<uint16_t>(4 + length));
        put16(chunk_header + 4, index);
        put16(chunk_header + 6, static_cast<uint16_t>(length));
        const iovec pieces[2] = {{chunk_header, sizeof chunk_header},
                                 {const_cast<uint8_t*>(image.data() + offset), length}};
        if (connection.exchange(pieces, 2, firmware_chunk) < 2 || get16(connection.payload()) != 0) {
            fail("chunk refused");
        }
    }
    uint8_t finalize[header_size];
    put16(finalize, firmware_finalize);
    put16(finalize + 2, 0);
    iovec finalize_piece{finalize, sizeof finalize};
    if (connection.exchange(&finalize_piece, 1, firmware_finalize) < 2 || get16(connection.payload()) != 0) {
        fail("finalize refused");
    }
}

void answer(const std::vector<int64_t>& samples) {
    std::string line = "OK";
    line.reserve(samples.size() * 8 + 2);
    for (const int64_t sample : samples) {
        line += ' ';
        line += std::to_string(sample);
    }
    std::cout << line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long port = 0;
    unsigned long index = 0;
    unsigned long link_mode = 0;
    bool same_calls = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--same-calls") {
            same_calls = true;
            continue;
        }
        if (i + 1 == argc) fail("option " + option + " needs a value");
        const unsigned long value = std::strtoul(argv[++i], nullptr, 0);
        if (option == "--port") {
            port = value;
        } else if (option == "--index") {
            index = value;
        } else if (option == "--link-mode") {
            link_mode = value;
        } else {
            fail("unknown option " + option);
        }
    }
    if (port == 0 || port > 65535 || index > 65535 || link_mode > 65535) {
        fail("usage: --port N [--index I] [--link-mode M] [--same-calls]");
    }

    Connection connection(static_cast<uint16_t>(port), same_calls);
    const auto index16 = static_cast<uint16_t>(index);
    const auto mode16 = static_cast<uint16_t>(link_mode);
    std::vector<uint8_t> image;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "quit") {
            std::cout << "OK" << std::endl;
            return 0;
        }
        if (command == "timer") {
            size_t count = 0;
            words >> count;
            answer(run_timer(count));
        } else if (command == "calls") {
            std::string op;
            size_t count = 0;
            words >> op >> count;
            answer(run_calls(connection, make_frame(op, index16, mode16), count));
        } else if (command == "once") {
            std::string op;
            words >> op;
            run_once(connection, make_frame(op, index16, mode16));
            std::cout << "OK" << std::endl;
        } else if (command == "firmware") {
            size_t size = 0;
            size_t chunk = 0;
            size_t count = 0;
            words >> size >> chunk >> count;
            if (size == 0 || size > 0xFFFFFFFFu || chunk == 0) fail("bad firmware command");
            if (image.size() != size) image = make_image(size);
            std::vector<int64_t> samples;
            for (size_t i = 0; i < count; ++i) {
                const auto start = Clock::now();
                update_firmware(connection, image, chunk);
                const auto end = Clock::now();
                samples.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
            }
            answer(samples);
        } else {
            fail("unknown command " + command);
        }
    }
    return 0;
}
