// A real third-party server for tests and benchmarks, run by a script of
// ours on 127.0.0.1 and a free port, with its state in a temporary
// directory.
//
// The script replaces itself with the server (so the process id is the
// server's); the server dies with the process that started it
// (parent-death signal), so a crashed test leaves nothing running.
// Start-up is bounded: a server that does not accept connections within
// ten seconds counts as failed, and three attempts are made on fresh ports.
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
#include <vector>

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

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() { stop(); }

    // Runs "bash script DIR PORT args..." until its port accepts. Empty
    // when the server runs, otherwise why it does not.
    std::string start(const std::string& script, const std::vector<std::string>& args, const char* name)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::string pattern = std::string("/tmp/corvane-") + name + "-XXXXXX";
            if (!::mkdtemp(pattern.data()))
                return "mkdtemp failed";
            m_dir = pattern;
            m_port = free_loopback_port();
            if (m_port <= 0)
                return "no free port";
            if (spawn(script, args) && wait_ready())
                return {};
            stop();
        }
        return std::string(name) + " did not start (see " + script + ")";
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
    const std::string& dir() const { return m_dir; }

private:
    bool spawn(const std::string& script, const std::vector<std::string>& args)
    {
        std::vector<std::string> words = {"bash", script, m_dir, std::to_string(m_port)};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
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
            ::execv("/bin/bash", argv.data());
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
