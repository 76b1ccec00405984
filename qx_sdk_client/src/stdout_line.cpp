#include "qx_sdk_client/src/stdout_line.hpp"

#include <unistd.h>
#include <cerrno>
#include <mutex>
#include <string>

namespace qx_sdk_client::util {

void print_stdout_line(std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');

    // A write cut short (a signal, a socket's buffer) is finished before
    // another thread's line may start, so the scan's workers print whole lines.
    static std::mutex writing;
    std::lock_guard lock(writing);
    const char* next = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, next, left);
        if (n > 0) {
            next += n;
            left -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // closed or broken stdout: drop the line
        }
    }
}

}  // namespace qx_sdk_client::util
