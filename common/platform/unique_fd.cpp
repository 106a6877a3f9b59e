#include "common/platform/unique_fd.h"

#include <unistd.h>

namespace corvane::platform {

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);  // POSIX leaves the descriptor closed even on EINTR here
    m_fd = fd;
}

}  // namespace corvane::platform
