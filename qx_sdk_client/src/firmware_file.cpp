#include "qx_sdk_client/src/firmware_file.hpp"

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx_sdk_client::device {
namespace {

using error::Error;
using error::Result;

constexpr size_t size_limit = LARGEST_FIRMWARE_IMAGE;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool is_regular_within_limit(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_size >= 0 && static_cast<uint64_t>(info.st_size) <= size_limit;
}

// Opens for reading the very file that `location` (an O_PATH descriptor)
// stands for, so that nothing put at the path meanwhile is opened instead.
int open_for_reading(const FileDescriptor& location, const std::string& path) {
    const std::string same_file = "/proc/self/fd/" + std::to_string(location.get());
    const int fd = ::open(same_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) {
        return fd;
    }
    // No /proc: the path once more. Whatever this opens is compared with
    // `location` afterwards; non-blocking and without becoming the
    // controlling terminal in case it is not the same file.
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// The next capacity of a full buffer: doubling while the copy is small, then
// one step to the limit. Reserved memory costs only as it is filled, so a
// file that never ends takes the limit and a byte, never two large buffers.
size_t grown_capacity(size_t capacity) {
    constexpr size_t first = 64 * 1024;
    constexpr size_t last_doubled = 4 * 1024 * 1024;
    if (capacity >= last_doubled) {
        return size_limit + 1;
    }
    return std::min(std::max(capacity * 2, first), size_limit + 1);
}

}  // namespace

Result<std::vector<uint8_t>> read_firmware_file(const std::string& path) {
    const auto open_failed = [&] {
        return std::unexpected(Error(Error::Kind::FileOpenError, "Failed to open file " + path));
    };
    const auto read_failed = [&] {
        return std::unexpected(Error(Error::Kind::FileReadError, "Failed to read file " + path));
    };

    // The system would silently open the path cut at the NUL byte.
    if (path.find('\0') != std::string::npos) {
        return open_failed();
    }
    // Only a reference to the file, which opens nothing: a FIFO's waiting
    // writer stays waiting, a device's open routine never runs.
    const FileDescriptor location(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (location.get() < 0) {
        return open_failed();
    }
    struct stat found {};
    if (::fstat(location.get(), &found) != 0 || !is_regular_within_limit(found)) {
        return read_failed();
    }
    const FileDescriptor file(open_for_reading(location, path));
    if (file.get() < 0) {
        return open_failed();
    }
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0 || opened.st_dev != found.st_dev || opened.st_ino != found.st_ino ||
        !is_regular_within_limit(opened)) {
        return read_failed();
    }

    // The size is only a hint: files under /proc say 0 and may never end, and
    // a file may grow meanwhile. Each read gets at most this much room, so the
    // zero-filling of vector::resize stays just ahead of the data.
    constexpr size_t read_step = 4 * 1024 * 1024;
    std::vector<uint8_t> contents;
    try {
        // One byte more than a known size, so that reaching the end needs no
        // second allocation.
        contents.reserve(opened.st_size > 0 ? static_cast<size_t>(opened.st_size) + 1 : grown_capacity(0));
        size_t used = 0;
        for (;;) {
            if (used == contents.capacity()) {
                if (used > size_limit) {
                    return read_failed();
                }
                contents.reserve(grown_capacity(used));
            }
            contents.resize(std::min(contents.capacity(), used + read_step));
            const ssize_t n = ::read(file.get(), contents.data() + used, contents.size() - used);
            if (n > 0) {
                used += static_cast<size_t>(n);
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                return read_failed();
            }
        }
        if (used > size_limit) {
            return read_failed();
        }
        contents.resize(used);
    } catch (const std::bad_alloc&) {
        return read_failed();
    }
    return contents;
}

}  // namespace qx_sdk_client::device
