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
    // Non-blocking, so that opening a FIFO does not wait for a writer; a
    // terminal must not become the process's controlling one either.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        return open_failed();
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<uint64_t>(info.st_size) > size_limit) {
        return read_failed();
    }

    constexpr size_t minimum_step = 64 * 1024;
    std::vector<uint8_t> contents;
    try {
        // One byte more, so that reaching the end needs no second allocation.
        contents.reserve(static_cast<size_t>(info.st_size) + 1);
        size_t used = 0;
        for (;;) {
            if (used == contents.size()) {
                if (used > size_limit) {
                    return read_failed();
                }
                contents.resize(std::min<size_t>(std::max({contents.capacity(), used + minimum_step, used * 2}),
                                                 size_limit + 1));
            }
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
