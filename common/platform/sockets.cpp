#include "common/platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace corvane::platform {

namespace {

IoResult send_outcome(ssize_t n)
{
    if (n >= 0)
        return IoResult{n > 0 ? IoStatus::ok : IoStatus::would_block, static_cast<std::size_t>(n), 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return IoResult{IoStatus::would_block, 0, 0};
    return IoResult{IoStatus::failed, 0, errno};
}

std::optional<Endpoint> endpoint_of(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = "";
    Endpoint endpoint;
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        endpoint.port = ntohs(in.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        endpoint.port = ntohs(in6.sin6_port);
    } else {
        return std::nullopt;
    }
    endpoint.address = text;
    return endpoint;
}

}  // namespace

Result<UniqueFd> listen_tcp(std::string_view address, int port)
{
    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.empty() && address != "0.0.0.0") {
        std::string copy(address);
        if (copy.find('\0') != std::string::npos || ::inet_pton(AF_INET, copy.c_str(), &socket_address.sin_addr) != 1)
            return os_error_code(EINVAL, "listen", copy);
    }
    if (port < 0 || port > 65535)
        return os_error_code(EINVAL, "listen", "port " + std::to_string(port));
    socket_address.sin_port = htons(static_cast<std::uint16_t>(port));

    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
        return os_error("socket");
    int one = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        return os_error("setsockopt");
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&socket_address), sizeof socket_address) != 0)
        return os_error("bind");
    if (::listen(fd.get(), SOMAXCONN) != 0)
        return os_error("listen");
    return fd;
}

Result<Accepted> accept_connection(int listener)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd;
    do {
        fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return os_error("accept");
    Accepted accepted{UniqueFd(fd), {}};
    if (auto endpoint = endpoint_of(peer))
        accepted.peer = std::move(*endpoint);
    return accepted;
}

std::optional<Endpoint> local_address(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return std::nullopt;
    return endpoint_of(address);
}

std::optional<Endpoint> peer_address(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return std::nullopt;
    return endpoint_of(address);
}

IoResult send_two(int socket, std::string_view first, std::string_view second, bool more_follows)
{
    iovec pieces[2] = {{const_cast<char*>(first.data()), first.size()},
                       {const_cast<char*>(second.data()), second.size()}};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = 2;
    if (first.empty() && second.empty())
        return IoResult{IoStatus::ok, 0, 0};
    ssize_t n;
    do {
        n = ::sendmsg(socket, &message, MSG_NOSIGNAL | (more_follows ? MSG_MORE : 0));
    } while (n < 0 && errno == EINTR);
    return send_outcome(n);
}

IoResult send_file_some(int socket, int file, std::uint64_t offset, std::size_t count)
{
    if (count == 0)
        return IoResult{IoStatus::ok, 0, 0};
    off_t position = static_cast<off_t>(offset);
    ssize_t n;
    do {
        n = ::sendfile(socket, file, &position, count);
    } while (n < 0 && errno == EINTR);
    // sendfile gives 0 at the file's end: the file shrank under us.
    if (n == 0)
        return IoResult{IoStatus::failed, 0, ENODATA};
    return send_outcome(n);
}

IoStatus discard_received(int socket, std::size_t max_bytes)
{
    char discard[4096];
    std::size_t dropped = 0;
    while (dropped < max_bytes) {
        ssize_t n = ::recv(socket, discard, sizeof discard, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            return IoStatus::closed;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? IoStatus::would_block : IoStatus::failed;
    }
    return IoStatus::ok;
}

}  // namespace corvane::platform
