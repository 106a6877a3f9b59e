#include "common/platform/io.h"

#include <unistd.h>

#include <cerrno>

namespace corvane::platform {

namespace {

IoResult outcome(ssize_t n, bool reading)
{
    if (n > 0)
        return IoResult{IoStatus::ok, static_cast<std::size_t>(n), 0};
    if (n == 0)
        return reading ? IoResult{IoStatus::closed, 0, 0} : IoResult{IoStatus::would_block, 0, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return IoResult{IoStatus::would_block, 0, 0};
    return IoResult{IoStatus::failed, 0, errno};
}

}  // namespace

IoResult read_some(int fd, char* buffer, std::size_t room)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, room);
    } while (n < 0 && errno == EINTR);
    return outcome(n, true);
}

IoResult write_some(int fd, std::string_view data)
{
    if (data.empty())
        return IoResult{IoStatus::ok, 0, 0};
    ssize_t n;
    do {
        n = ::write(fd, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    return outcome(n, false);
}

}  // namespace corvane::platform
