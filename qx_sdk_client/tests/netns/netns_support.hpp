// Helpers for tests that send multicast: the namespace guard, an mDNS
// advertiser in a child process, and process resource counts.
#pragma once

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <expected>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace qx_netns_test {

// Names of the interfaces other than lo in this process's network
// namespace; empty means multicast cannot leave it.
inline std::vector<std::string> interfaces_besides_loopback() {
    std::vector<std::string> others;
    struct if_nameindex* list = ::if_nameindex();
    if (list == nullptr) {
        others.emplace_back("<interfaces could not be listed>");
        return others;
    }
    for (const struct if_nameindex* entry = list; entry->if_index != 0; ++entry) {
        if (std::string(entry->if_name) != "lo") {
            others.emplace_back(entry->if_name);
        }
    }
    if_freenameindex(list);
    return others;
}

inline std::size_t count_entries(const char* directory) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
        ++count;
    }
    return count;
}

inline std::size_t thread_count() { return count_entries("/proc/self/task"); }
inline std::size_t open_fd_count() { return count_entries("/proc/self/fd"); }

// Why this namespace must not be used for multicast, or empty when it holds
// nothing but loopback.
inline std::string multicast_refusal() {
    const auto others = interfaces_besides_loopback();
    if (others.empty()) {
        return {};
    }
    std::string names;
    for (const auto& name : others) {
        names += " " + name;
    }
    return "refusing to send multicast: this network namespace has" + names +
           " besides lo; run through scripts/in_netns.sh";
}

// Sends a file descriptor (1 or 2) to a temporary file for as long as it lives.
class FdCapture {
public:
    explicit FdCapture(int fd) : fd_(fd), file_(std::tmpfile()) {
        flush();
        saved_ = dup(fd_);
        if (file_ != nullptr && saved_ >= 0) {
            dup2(fileno(file_), fd_);
        }
    }
    ~FdCapture() {
        restore();
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;

    bool active() const { return file_ != nullptr && saved_ >= 0; }

    // Restores the descriptor and returns what was written to it meanwhile.
    std::string finish() {
        restore();
        std::string text;
        if (file_ != nullptr) {
            std::rewind(file_);
            char buffer[512];
            std::size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
                text.append(buffer, n);
            }
        }
        return text;
    }

private:
    void flush() const { std::fflush(fd_ == 1 ? stdout : stderr); }
    void restore() {
        if (saved_ >= 0) {
            flush();
            dup2(saved_, fd_);
            close(saved_);
            saved_ = -1;
        }
    }

    int fd_;
    std::FILE* file_;
    int saved_ = -1;
};

// Lines of `text`; a last line without its line feed is marked as such.
inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start) + "<no line feed>");
    }
    return lines;
}

// advertise.py in a child process: services of the browsed type on
// 127.0.0.1, named "<prefix>-<i>" with the i-th port; with `each`, every
// service from a responder of its own, as separate devices would be.
class Advertiser {
public:
    struct Options {
        std::vector<std::uint16_t> ports;
        bool ipv6 = false;
        bool each = false;
        std::string name_prefix = "qx-test";
    };

    static std::expected<Advertiser, std::string> start(const Options& options) {
        signal(SIGPIPE, SIG_IGN);
        int to_child[2];
        int from_child[2];
        if (pipe2(to_child, O_CLOEXEC) != 0) {
            return std::unexpected(std::string("pipe failed"));
        }
        if (pipe2(from_child, O_CLOEXEC) != 0) {
            close(to_child[0]);
            close(to_child[1]);
            return std::unexpected(std::string("pipe failed"));
        }
        std::vector<std::string> args{"/usr/bin/python3",  QX_ADVERTISE_SCRIPT, "--name",
                                      options.name_prefix, "--lifetime",        "90"};
        for (const auto port : options.ports) {
            args.push_back("--port");
            args.push_back(std::to_string(port));
        }
        if (options.ipv6) {
            args.push_back("--ipv6");
        }
        if (options.each) {
            args.push_back("--each");
        }
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(to_child[0]);
        close(from_child[1]);
        if (spawned != 0) {
            close(to_child[1]);
            close(from_child[0]);
            return std::unexpected(std::string("could not start ") + argv[0]);
        }
        Advertiser advertiser(pid, to_child[1], from_child[0]);
        if (!advertiser.wait_ready()) {
            return std::unexpected(std::string("advertise.py did not report READY"));
        }
        return advertiser;
    }

    // Withdraws every service and registers it anew.
    bool reregister() {
        static constexpr char command[] = "reregister\n";
        if (write(stdin_, command, sizeof command - 1) != static_cast<ssize_t>(sizeof command - 1)) {
            return false;
        }
        return wait_ready();
    }

    Advertiser(Advertiser&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)),
          stdin_(std::exchange(other.stdin_, -1)),
          stdout_(std::exchange(other.stdout_, -1)),
          pending_(std::move(other.pending_)) {}
    Advertiser& operator=(Advertiser&&) = delete;
    Advertiser(const Advertiser&) = delete;

    // Closing stdin asks it to withdraw its services; it gets a few seconds
    // before it is killed.
    ~Advertiser() {
        if (stdin_ >= 0) {
            close(stdin_);
        }
        if (pid_ > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            int status = 0;
            while (waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(pid_, SIGKILL);
                    waitpid(pid_, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        if (stdout_ >= 0) {
            close(stdout_);
        }
    }

private:
    Advertiser(pid_t pid, int to_stdin, int from_stdout) : pid_(pid), stdin_(to_stdin), stdout_(from_stdout) {}

    bool wait_ready() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (true) {
            const auto line_end = pending_.find('\n');
            if (line_end != std::string::npos) {
                const std::string line = pending_.substr(0, line_end);
                pending_.erase(0, line_end + 1);
                if (line == "READY") {
                    return true;
                }
                continue;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd readable{stdout_, POLLIN, 0};
            if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[256];
            const ssize_t n = read(stdout_, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    pid_t pid_;
    int stdin_;
    int stdout_;
    std::string pending_;
};

}  // namespace qx_netns_test
