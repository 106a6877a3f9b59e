#include "common/platform/connect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

namespace corvane::platform {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::optional<in_addr> ipv4_of(std::string_view text)
{
    if (text.empty() || text.size() > 15)
        return std::nullopt;
    char buffer[16];
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    in_addr addr{};
    if (::inet_pton(AF_INET, buffer, &addr) != 1)
        return std::nullopt;
    return addr;
}

// Waits for a non-blocking connect to finish; 0 or the errno value.
int finish_connect(int fd, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        int n = ::poll(&p, 1, remaining_ms(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ETIMEDOUT;
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
            return errno;
        return error;
    }
}

// One attempt at one address; the socket on success.
Result<UniqueFd> attempt(const sockaddr* target, socklen_t target_len, const std::optional<in_addr>& local,
                         Clock::time_point deadline, std::string_view host)
{
    UniqueFd fd(::socket(target->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
        return os_error("socket for", host);
    if (local) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr = *local;
        from.sin_port = 0;
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
            return os_error("bind local address for", host);
    }
    // Commands are small and answered one by one: waiting to fill a segment
    // would only add a round trip's delay to each.
    int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int rc = ::connect(fd.get(), target, target_len);
    if (rc != 0 && errno != EINPROGRESS && errno != EINTR)
        return os_error("connect to", host);
    if (rc != 0) {
        int error = finish_connect(fd.get(), deadline);
        if (error != 0)
            return os_error_code(error, "connect to", host);
    }
    return fd;
}

std::string endpoint_text(const sockaddr_storage& addr)
{
    char text[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (addr.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        port = ntohs(in.sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        port = ntohs(in6.sin6_port);
    } else {
        return {};
    }
    return std::string(text) + ":" + std::to_string(port);
}

}  // namespace

bool is_bind_address(std::string_view text)
{
    auto addr = ipv4_of(text);
    return addr && addr->s_addr != htonl(INADDR_ANY);
}

Result<UniqueFd> connect_tcp(std::string_view host, int port, std::string_view bind_address, int timeout_ms)
{
    if (timeout_ms < 1)
        timeout_ms = 30000;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    if (port < 1 || port > 65535)
        return os_error_code(EINVAL, "connect to", std::string(host) + " port " + std::to_string(port));
    std::optional<in_addr> local;
    if (is_bind_address(bind_address))
        local = ipv4_of(bind_address);

    std::string name(host);
    if (name.empty() || name.find('\0') != std::string::npos)
        return os_error_code(EHOSTUNREACH, "resolve", "an empty host name");
    addrinfo hints{};
    hints.ai_family = local ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(name.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        if (rc == EAI_SYSTEM)
            return os_error("resolve", host);
        return Error{EHOSTUNREACH, "resolve " + name + ": " + ::gai_strerror(rc)};
    }
    Result<UniqueFd> result = Error{EHOSTUNREACH, "resolve " + name + ": no address"};
    for (addrinfo* a = found; a; a = a->ai_next) {
        result = attempt(a->ai_addr, a->ai_addrlen, local, deadline, host);
        if (result.ok() || remaining_ms(deadline) == 0)
            break;
    }
    ::freeaddrinfo(found);
    return result;
}

IoResult receive_some(int fd, char* buffer, std::size_t room)
{
    for (;;) {
        ssize_t n = ::recv(fd, buffer, room, 0);
        if (n > 0)
            return {IoStatus::ok, static_cast<std::size_t>(n), 0};
        if (n == 0)
            return {IoStatus::closed, 0, 0};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return {IoStatus::would_block, 0, 0};
        return {IoStatus::failed, 0, errno};
    }
}

IoResult send_some(int fd, std::string_view data)
{
    for (;;) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n >= 0)
            return {n > 0 ? IoStatus::ok : IoStatus::would_block, static_cast<std::size_t>(n), 0};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return {IoStatus::would_block, 0, 0};
        return {IoStatus::failed, 0, errno};
    }
}

Result<Readiness> wait_socket(int fd, bool want_read, bool want_write, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    pollfd p{fd, static_cast<short>((want_read ? POLLIN : 0) | (want_write ? POLLOUT : 0)), 0};
    for (;;) {
        int n = ::poll(&p, 1, timeout_ms < 0 ? -1 : remaining_ms(deadline));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return os_error("poll");
        }
        Readiness ready;
        if (n == 0) {
            ready.timed_out = true;
            return ready;
        }
        ready.readable = (p.revents & POLLIN) != 0;
        ready.writable = (p.revents & POLLOUT) != 0;
        ready.hung_up = (p.revents & (POLLHUP | POLLERR)) != 0;
        if (p.revents & POLLNVAL)
            return os_error_code(EBADF, "poll");
        return ready;
    }
}

void shutdown_sending(int fd)
{
    ::shutdown(fd, SHUT_WR);
}

std::string local_endpoint(int fd)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return endpoint_text(addr);
}

std::string peer_endpoint(int fd)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return endpoint_text(addr);
}

}  // namespace corvane::platform
