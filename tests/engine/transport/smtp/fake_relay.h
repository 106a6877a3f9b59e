// A scripted SMTP relay for the faults a real server will not produce on
// demand: replies in odd pieces, garbage, a stall, a hang-up in mid-reply.
// The script runs on a thread of its own against one connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace corvane::testing {

class Conversation {
public:
    explicit Conversation(int fd) : m_fd(fd) {}
    void send(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }
    // Sends bytes one at a time with a pause between them.
    void trickle(const std::string& bytes, int pause_ms)
    {
        for (char c : bytes) {
            send(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        }
    }
    // The next line from the client (without CR LF); "" at the end.
    std::string line()
    {
        for (;;) {
            std::size_t nl = m_buffer.find("\r\n");
            if (nl != std::string::npos) {
                std::string l = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 2);
                lines.push_back(l);
                return l;
            }
            char chunk[4096];
            ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                m_eof = true;
                return {};
            }
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Reads until the client's end of data; returns the data.
    std::string data()
    {
        std::string out;
        for (std::string l = line(); l != "." && !m_eof; l = line())
            out += l + "\r\n";
        return out;
    }
    void close() { ::shutdown(m_fd, SHUT_RDWR); }

    std::vector<std::string> lines;

private:
    int m_fd;
    bool m_eof = false;
    std::string m_buffer;
};

class FakeRelay {
public:
    explicit FakeRelay(std::function<void(Conversation&)> script)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 1);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this, script] {
            int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            Conversation c(fd);
            script(c);
            m_lines = c.lines;
            // Let the client see the end before the socket goes.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ::close(fd);
        });
    }
    ~FakeRelay()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    int port() const { return m_port; }
    // What the client sent (after the script has ended).
    std::vector<std::string> lines()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_lines;
    }

private:
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::vector<std::string> m_lines;
};

}  // namespace corvane::testing
