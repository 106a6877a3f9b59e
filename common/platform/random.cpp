#include "common/platform/random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace corvane::platform {

namespace {

bool from_urandom(unsigned char* out, std::size_t size)
{
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    while (size > 0) {
        ssize_t n = ::read(fd, out, size);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
    return true;
}

}  // namespace

void random_bytes(void* buffer, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t n = ::getrandom(out, size, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (!from_urandom(out, size))
                std::abort();
            return;
        }
        out += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::uint32_t random_u32()
{
    std::uint32_t value = 0;
    random_bytes(&value, sizeof value);
    return value;
}

std::uint32_t random_below(std::uint32_t bound)
{
    // Reject the top partial range so every result is equally likely.
    std::uint32_t limit = UINT32_MAX - (UINT32_MAX % bound);
    for (;;) {
        std::uint32_t value = random_u32();
        if (value < limit)
            return value % bound;
    }
}

}  // namespace corvane::platform
