// A real OpenLDAP slapd for tests and benchmarks, on 127.0.0.1 and a free
// port, with its state in a temporary directory; started by run-slapd
// beside this file and loaded from people.ldif.
//
// The server dies with the process that started it (parent-death signal),
// so a crashed test leaves no slapd behind. Start-up is bounded: a server
// that does not accept connections within ten seconds counts as failed.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#ifndef CORVANE_SOURCE_DIR
#error "CORVANE_SOURCE_DIR must name the source tree"
#endif

namespace corvane::testing {

// A port that was free a moment ago (bind to port 0, read it, close).
inline int free_loopback_port()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

inline bool loopback_port_accepts(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

class SlapdPeer {
public:
    static constexpr const char* base = "dc=corvane,dc=test";

    SlapdPeer() = default;
    SlapdPeer(const SlapdPeer&) = delete;
    SlapdPeer& operator=(const SlapdPeer&) = delete;
    ~SlapdPeer() { stop(); }

    // Empty when the server runs, otherwise why it does not.
    std::string start()
    {
        if (::access("/usr/sbin/slapd", X_OK) != 0)
            return "slapd is not installed (scripts/install-deps installs it)";
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::string pattern = "/tmp/corvane-slapd-XXXXXX";
            if (!::mkdtemp(pattern.data()))
                return "mkdtemp failed";
            m_dir = pattern;
            m_port = free_loopback_port();
            if (m_port <= 0)
                return "no free port";
            if (spawn() && wait_ready())
                return {};
            stop();
        }
        return "slapd did not start (see run-slapd)";
    }

    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
        if (!m_dir.empty()) {
            std::string command = "rm -rf '" + m_dir + "'";
            if (std::system(command.c_str()) != 0) {
                // A leftover directory in /tmp does not change any result.
            }
            m_dir.clear();
        }
    }

    int port() const { return m_port; }
    // "127.0.0.1:PORT", as a directory host text.
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    bool spawn()
    {
        std::string script = std::string(CORVANE_SOURCE_DIR) + "/tests/peers/slapd/run-slapd";
        std::string port = std::to_string(m_port);
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
            }
            ::execl("/bin/bash", "bash", script.c_str(), m_dir.c_str(), port.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        m_pid = pid;
        return true;
    }

    bool wait_ready()
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (loopback_port_accepts(m_port))
                return true;
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string m_dir;
    int m_port = -1;
    pid_t m_pid = -1;
};

}  // namespace corvane::testing
