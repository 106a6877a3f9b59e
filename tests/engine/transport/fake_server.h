// A small scripted server on 127.0.0.1 for the faults a real mail server
// will not produce on demand: replies cut into odd pieces, a stall, a close
// in the middle of a message. The test gives a function that plays the
// server's part on each accepted connection; the server stops (and joins
// its thread) when it goes out of scope. Every wait is bounded, so a
// script that goes wrong fails the test instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::testing {

class FakeConnection {
public:
    explicit FakeConnection(int fd) : m_fd(fd) {}

    // One line without its CR LF; false at end of stream or when nothing
    // came for timeout_ms.
    bool read_line(std::string& line, int timeout_ms = 5000)
    {
        for (;;) {
            auto lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                line = m_buffer.substr(0, lf);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                m_buffer.erase(0, lf + 1);
                return true;
            }
            if (!fill(timeout_ms))
                return false;
        }
    }
    // Reads exactly n bytes (or fewer at end of stream / timeout).
    std::string read_bytes(std::size_t n, int timeout_ms = 5000)
    {
        while (m_buffer.size() < n && fill(timeout_ms)) {
        }
        std::string out = m_buffer.substr(0, n);
        m_buffer.erase(0, out.size());
        return out;
    }
    void write(std::string_view bytes)
    {
        while (!bytes.empty()) {
            ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    // Sends bytes in pieces of chunk bytes, each its own TCP segment,
    // pausing between them.
    void write_in_pieces(std::string_view bytes, std::size_t chunk, int pause_ms = 2)
    {
        while (!bytes.empty()) {
            write(bytes.substr(0, chunk));
            bytes.remove_prefix(std::min(chunk, bytes.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
    }
    // True when the peer has closed (reads end of stream) within timeout_ms.
    bool wait_for_close(int timeout_ms = 5000)
    {
        while (fill(timeout_ms)) {
        }
        return m_eof;
    }
    void close()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    int fd() const { return m_fd; }
    std::string peer_address() const
    {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return {};
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
        return text;
    }
    ~FakeConnection() { close(); }

private:
    bool fill(int timeout_ms)
    {
        if (m_fd < 0 || m_eof)
            return false;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return false;
        char chunk[65536];
        ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            m_eof = true;
            return false;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int m_fd;
    std::string m_buffer;
    bool m_eof = false;
};

class FakeServer {
public:
    using Script = std::function<void(FakeConnection&)>;

    // Serves up to max_connections connections, one after the other, each
    // with the script.
    explicit FakeServer(Script script, int max_connections = 1) : m_script(std::move(script))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(m_listen);
            m_listen = -1;
            return;
        }
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this, max_connections] {
            for (int i = 0; i < max_connections && !m_stop; ++i) {
                pollfd p{m_listen, POLLIN, 0};
                int waited = 0;
                while (!m_stop && ::poll(&p, 1, 50) == 0)
                    if ((waited += 50) > 20000)
                        return;
                if (m_stop)
                    return;
                int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0)
                    return;
                int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                FakeConnection connection(fd);
                {
                    std::lock_guard lock(m_mutex);
                    m_peers.push_back(connection.peer_address());
                }
                m_script(connection);
                m_served.fetch_add(1);
            }
        });
    }
    ~FakeServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    int port() const { return m_port; }
    // Waits for the scripts to end (bounded).
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    int served() const { return m_served.load(); }
    std::vector<std::string> peers()
    {
        std::lock_guard lock(m_mutex);
        return m_peers;
    }

private:
    Script m_script;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_peers;
};

}  // namespace corvane::testing
