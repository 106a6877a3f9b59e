#include "tests/webserver/server_harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/text/strings.h"

extern char** environ;

namespace corvane::testing {

namespace {

using clock = std::chrono::steady_clock;

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

bool HttpResponse::has_header(const std::string& name) const
{
    for (const auto& h : headers) {
        if (text::istarts_with(h, name + ":"))
            return true;
    }
    return false;
}

std::string HttpResponse::header(const std::string& name) const
{
    for (const auto& h : headers) {
        if (text::istarts_with(h, name + ":"))
            return std::string(text::trim(std::string_view(h).substr(name.size() + 1)));
    }
    return "";
}

HttpResponse parse_response(const std::string& raw)
{
    HttpResponse r;
    r.raw = raw;
    auto end = raw.find("\r\n\r\n");
    std::string head = raw.substr(0, end);
    if (end != std::string::npos)
        r.body = raw.substr(end + 4);
    std::size_t pos = 0;
    bool first = true;
    while (pos < head.size()) {
        auto eol = head.find("\r\n", pos);
        if (eol == std::string::npos)
            eol = head.size();
        std::string line = head.substr(pos, eol - pos);
        if (first) {
            r.status_line = line;
            if (line.rfind("HTTP/", 0) == 0 && line.size() >= 12)
                r.status = std::atoi(line.c_str() + 9);
            first = false;
        } else {
            r.headers.push_back(line);
        }
        pos = eol + 2;
    }
    return r;
}

int connect_to(int port, const std::string& source)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void send_all(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string read_until_closed(int fd, std::chrono::milliseconds limit)
{
    std::string out;
    auto deadline = clock::now() + limit;
    char buffer[65536];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        int n = ::poll(&p, 1, static_cast<int>(left));
        if (n <= 0)
            break;
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
}

HttpResponse http(int port, const std::string& request, const std::string& source)
{
    int fd = connect_to(port, source);
    if (fd < 0)
        return {};
    // A writer thread, so that a large body cannot dead-lock against a
    // server that answers before it has read everything.
    std::thread writer([fd, &request] { send_all(fd, request); });
    std::string raw = read_until_closed(fd);
    writer.join();
    ::close(fd);
    return parse_response(raw);
}

int free_port()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// ---- ServerTree -------------------------------------------------------------------

ServerTree::ServerTree() : m_port(free_port())
{
    for (const char* dir : {"HTML", "cgi-bin", "Temp", "Logs"})
        ::mkdir((m_dir / dir).c_str(), 0755);
}

void ServerTree::write_ini(const std::string& section, const std::string& extra_in_section,
                           const std::string& extra_sections)
{
    std::ostringstream ini;
    ini << "[General]\nRunAsService=No\nLogLevel=1\n"
        << "[Directories]\nTempDir=" << path("Temp") << "\nLogDir=" << path("Logs") << "\nBaseDir=" << root() << "\n"
        << "[" << section << "]\nPort=" << m_port << "\nBindAddress=127.0.0.1\nHtmlDir=" << path("HTML")
        << "\nCgiDir=" << path("cgi-bin") << "\n"
        << extra_in_section << extra_sections;
    write("Corvane.ini", ini.str());
}

void ServerTree::write(const std::string& relative, const std::string& content, unsigned mode)
{
    std::string p = path(relative);
    auto slash = p.rfind('/');
    std::string dir = p.substr(0, slash);
    std::string command = "mkdir -p '" + dir + "'";
    if (std::system(command.c_str()) != 0)
        return;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    ::chmod(p.c_str(), mode);
}

std::string ServerTree::read(const std::string& relative) const
{
    return read_text(path(relative));
}

bool ServerTree::exists(const std::string& relative) const
{
    struct stat st {};
    return ::lstat(path(relative).c_str(), &st) == 0;
}

bool ServerTree::wait_for(const std::string& relative, const std::string& text, std::chrono::milliseconds limit) const
{
    auto deadline = clock::now() + limit;
    for (;;) {
        if (read(relative).find(text) != std::string::npos)
            return true;
        if (clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// ---- ServerProcess ----------------------------------------------------------------

ServerProcess::~ServerProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (!m_stderr_path.empty())
        ::unlink(m_stderr_path.c_str());
}

bool ServerProcess::start(const std::string& program, const std::string& ini, const std::string& log_dir,
                          const std::vector<std::string>& args, const std::string& pid_name)
{
    static std::atomic<int> counter{0};
    std::string instance = "wst" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "CORVANE_INI=", 12) != 0 && std::strncmp(*e, "CORVANE_INSTANCE=", 17) != 0)
            env_strings.emplace_back(*e);
    }
    if (!ini.empty())
        env_strings.push_back("CORVANE_INI=" + ini);
    env_strings.push_back("CORVANE_INSTANCE=" + instance);
    std::vector<char*> envp;
    for (auto& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> arg_strings = {program};
    arg_strings.insert(arg_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : arg_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    m_stderr_path = "/tmp/corvane-server-stderr-" + instance;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    int rc = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    std::string pid_file = log_dir + "/" + pid_name;
    auto deadline = clock::now() + std::chrono::seconds(20);
    while (clock::now() < deadline) {
        if (!running())
            return false;
        struct stat st {};
        if (!log_dir.empty() && ::stat(pid_file.c_str(), &st) == 0 && st.st_size > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool ServerProcess::running()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_status = status;
        m_pid = -1;
        return false;
    }
    return true;
}

int ServerProcess::wait_exit(std::chrono::milliseconds limit)
{
    auto deadline = clock::now() + limit;
    while (running()) {
        if (clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_status;
}

int ServerProcess::stop()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGTERM);
    return wait_exit();
}

const std::string& ServerProcess::stderr_text()
{
    m_stderr = read_text(m_stderr_path);
    return m_stderr;
}

int ServerProcess::open_descriptors() const
{
    std::string dir = "/proc/" + std::to_string(m_pid) + "/fd";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return -1;
    int count = 0;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.')
            ++count;
    }
    ::closedir(d);
    return count;
}

}  // namespace corvane::testing
