#include "common/platform/sigpipe.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace corvane::platform {

Result<void> write_all_without_sigpipe(int fd, std::string_view data)
{
    sigset_t pipe_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool already_pending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t old_mask;
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old_mask);

    Result<void> result;
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            result = os_error_code(error, "write");
            if (error == EPIPE && !already_pending) {
                const timespec no_wait{0, 0};
                while (sigtimedwait(&pipe_set, nullptr, &no_wait) < 0 && errno == EINTR) {
                }
            }
            break;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return result;
}

}  // namespace corvane::platform
