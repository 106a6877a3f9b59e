#include "common/platform/input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace corvane::platform {

Result<InputFile> InputFile::open(const std::string& path)
{
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return os_error("open", path);
    return InputFile(UniqueFd(fd));
}

std::size_t InputFile::read(char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size && m_fd.valid()) {
        const ssize_t n = ::read(m_fd.get(), buffer + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            m_error = errno;
            break;
        }
    }
    return done;
}

bool InputFile::read_into(std::string& out, std::size_t size)
{
    const std::size_t before = out.size();
    out.resize(before + size);
    const std::size_t n = read(out.data() + before, size);
    out.resize(before + n);
    return n > 0;
}

}  // namespace corvane::platform
