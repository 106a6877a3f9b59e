#include "common/platform/io.h"

#include <fcntl.h>
#include <sys/stat.h>
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

Result<UniqueFd> open_for_appending(const std::string& path, unsigned mode)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, mode));
    if (!fd)
        return os_error("open", path);
    return fd;
}

std::optional<std::uint64_t> size_of(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace corvane::platform
