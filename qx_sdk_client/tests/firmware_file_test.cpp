// Reading a firmware image from a path: contents byte for byte, what is
// refused, and what reading costs. Refusals seen through an update, with no
// callback and nothing sent, are in firmware_update_test.cpp.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "qx_sdk_client/src/firmware_file.hpp"

namespace {

using namespace std::chrono_literals;
using qx_sdk_client::device::LARGEST_FIRMWARE_IMAGE;
using qx_sdk_client::device::read_firmware_file;
using qx_sdk_client::error::Error;

std::vector<uint8_t> pattern(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((i * 167 + i / 251) & 0xFF);
    return bytes;
}

std::vector<uint8_t> read_with_ifstream(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ScratchFile {
public:
    explicit ScratchFile(const std::vector<uint8_t>& contents)
        : path_((std::filesystem::temp_directory_path() /
                 ("firmware_file_test." + std::to_string(::getpid()) + "." + std::to_string(counter_++)))
                    .string()) {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    }
    ~ScratchFile() { std::filesystem::remove(path_); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const std::string& path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::string path_;
};

// Runs `body` in a child process and gives back what it returned; absent if
// the child did not finish within `limit` (it is killed then) or died.
std::optional<std::string> in_child(const std::function<std::string()>& body, std::chrono::milliseconds limit) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_fds[0]);
        const std::string said = body();
        const bool written = ::write(pipe_fds[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipe_fds[1]);
    std::string heard;
    bool finished = false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (child > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{pipe_fds[0], POLLIN, 0};
        if (left <= 0ms || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
        char bytes[256];
        const ssize_t n = ::read(pipe_fds[0], bytes, sizeof bytes);
        if (n <= 0) {
            finished = n == 0;
            break;
        }
        heard.append(bytes, static_cast<size_t>(n));
    }
    ::close(pipe_fds[0]);
    if (child < 0) return std::nullopt;
    if (!finished) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return heard;
}

TEST(FirmwareFile, RegularFilesAreReadWhole) {
    // Around the first buffer of a file whose size is unknown, and past one read's room.
    for (const size_t length :
         {size_t{0}, size_t{1}, size_t{65'535}, size_t{65'536}, size_t{65'537}, size_t{4 * 1024 * 1024 + 3}}) {
        SCOPED_TRACE(length);
        const std::vector<uint8_t> contents = pattern(length);
        const ScratchFile file(contents);
        const auto read = read_firmware_file(file.path());
        ASSERT_TRUE(read.has_value()) << read.error().debug_text();
        EXPECT_TRUE(*read == contents) << read->size() << " bytes read";
    }
}

// Files under /proc report size 0; their contents are read to the end all the same.
TEST(FirmwareFile, AFileThatReportsSizeZeroIsReadToItsEnd) {
    const std::string path = "/proc/self/cmdline";
    ASSERT_EQ(std::filesystem::file_size(path), 0u);
    const auto read = read_firmware_file(path);
    ASSERT_TRUE(read.has_value()) << read.error().debug_text();
    EXPECT_FALSE(read->empty());
    EXPECT_TRUE(*read == read_with_ifstream(path));
}

// /proc/self/pagemap is a regular file that reports size 0 and holds eight
// bytes for every page of the address space: far beyond the limit. It is
// refused there, and the buffer never holds more than the limit and a byte
// nor two large copies at once. Measured in a child of its own, whose peak
// starts from where the child started.
TEST(FirmwareFile, AnEndlessFileIsRefusedAtTheLimitWithinBoundedMemory) {
    const std::string path = "/proc/self/pagemap";
    ASSERT_EQ(std::filesystem::file_size(path), 0u);
    const auto peak_resident_kib = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const auto said = in_child(
        [&] {
            const long before = peak_resident_kib();
            const auto read = read_firmware_file(path);
            const long growth = peak_resident_kib() - before;
            return std::to_string(growth) + " " + (read ? "read" : read.error().debug_text());
        },
        60s);
    ASSERT_TRUE(said.has_value()) << "the child did not finish";
    const size_t space = said->find(' ');
    ASSERT_NE(space, std::string::npos) << *said;
    EXPECT_EQ(said->substr(space + 1), Error(Error::Kind::FileReadError, "Failed to read file " + path).debug_text());
    const long growth_kib = std::stol(said->substr(0, space));
    EXPECT_LT(growth_kib, static_cast<long>((LARGEST_FIRMWARE_IMAGE + 64 * 1024 * 1024) / 1024));
}

// The file is opened for reading through /proc; where /proc is not mounted
// the path itself is opened again, and a regular file still reads.
TEST(FirmwareFile, IsReadWhereProcIsNotMounted) {
    const std::vector<uint8_t> contents = pattern(100'000);
    const ScratchFile file(contents);
    const auto said = in_child(
        [&]() -> std::string {
            if (::unshare(CLONE_NEWNS) != 0) return "skip: no mount namespace";
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::umount2("/proc", MNT_DETACH) != 0) {
                return "skip: /proc stays";
            }
            if (::access("/proc/self/fd", F_OK) == 0) return "skip: /proc still there";
            const auto read = read_firmware_file(file.path());
            if (!read) return read.error().debug_text();
            return *read == contents ? "same" : "different contents";
        },
        20s);
    ASSERT_TRUE(said.has_value()) << "the child did not finish";
    if (said->starts_with("skip")) GTEST_SKIP() << *said;
    EXPECT_EQ(*said, "same");
}

}  // namespace
