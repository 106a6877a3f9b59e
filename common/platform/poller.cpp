#include "common/platform/poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace corvane::platform {

Result<Poller> Poller::create()
{
    UniqueFd fd(::epoll_create1(EPOLL_CLOEXEC));
    if (!fd)
        return os_error("epoll_create1");
    return Poller(std::move(fd));
}

Result<void> Poller::add(int fd, unsigned interest, std::uint64_t token)
{
    epoll_event event{};
    event.events = EPOLLET | EPOLLRDHUP;
    if (interest & readable)
        event.events |= EPOLLIN;
    if (interest & writable)
        event.events |= EPOLLOUT;
    event.data.u64 = token;
    if (::epoll_ctl(m_fd.get(), EPOLL_CTL_ADD, fd, &event) != 0)
        return os_error("epoll_ctl");
    return {};
}

void Poller::remove(int fd)
{
    epoll_event unused{};
    (void)::epoll_ctl(m_fd.get(), EPOLL_CTL_DEL, fd, &unused);
}

Result<std::size_t> Poller::wait(std::span<Event> out, int timeout_ms)
{
    constexpr std::size_t batch = 256;
    epoll_event events[batch];
    int max = static_cast<int>(out.size() < batch ? out.size() : batch);
    int n = ::epoll_wait(m_fd.get(), events, max, timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) {
        if (errno == EINTR)
            return std::size_t{0};
        return os_error("epoll_wait");
    }
    for (int i = 0; i < n; ++i) {
        unsigned bits = 0;
        if (events[i].events & EPOLLIN)
            bits |= readable;
        if (events[i].events & EPOLLOUT)
            bits |= writable;
        if (events[i].events & EPOLLRDHUP)
            bits |= peer_closed;
        if (events[i].events & (EPOLLHUP | EPOLLERR))
            bits |= hung_up;
        out[static_cast<std::size_t>(i)] = Event{events[i].data.u64, bits};
    }
    return static_cast<std::size_t>(n);
}

Result<Wakeup> Wakeup::create()
{
    UniqueFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!fd)
        return os_error("eventfd");
    return Wakeup(std::move(fd));
}

void Wakeup::signal() const
{
    std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_fd.get(), &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

bool Wakeup::clear() const
{
    std::uint64_t count = 0;
    ssize_t n;
    do {
        n = ::read(m_fd.get(), &count, sizeof count);
    } while (n < 0 && errno == EINTR);
    return n == sizeof count && count > 0;
}

}  // namespace corvane::platform
