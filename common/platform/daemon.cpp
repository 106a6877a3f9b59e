#include "common/platform/daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/platform/files.h"

extern char** environ;

namespace corvane::platform {

namespace fs = corvane::platform;

namespace {

volatile sig_atomic_t stop_requested = 0;
int stop_pipe_write = -1;

extern "C" void on_stop_signal(int)
{
    int saved = errno;
    stop_requested = 1;
    if (stop_pipe_write >= 0) {
        char c = 's';
        (void)!::write(stop_pipe_write, &c, 1);
    }
    errno = saved;
}

bool run_quietly(const char* const argv[])
{
    pid_t pid;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

Result<StopSignal> StopSignal::install()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return os_error("pipe");
    StopSignal signal;
    signal.m_read.reset(fds[0]);
    stop_pipe_write = fds[1];  // kept for the life of the process

    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGHUP, &ignore, nullptr);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    return signal;
}

bool StopSignal::requested() const
{
    return stop_requested != 0;
}

void StartReport::report(char c)
{
    if (!m_report)
        return;
    ssize_t n;
    do {
        n = ::write(m_report.get(), &c, 1);
    } while (n < 0 && errno == EINTR);
    m_report.reset();
}

Result<StartReport> detach(const std::string& failure_message)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return os_error("pipe");
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        Error error = os_error("fork");
        ::close(fds[0]);
        ::close(fds[1]);
        return error;
    }
    if (pid > 0) {
        // The process that was started: wait for the verdict.
        ::close(fds[1]);
        char verdict = '1';
        ssize_t n;
        do {
            n = ::read(fds[0], &verdict, 1);
        } while (n < 0 && errno == EINTR);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (n == 1 && verdict == '0')
            ::_exit(0);
        std::fprintf(stderr, "%s\n", failure_message.c_str());
        std::fflush(stderr);
        ::_exit(1);
    }

    ::close(fds[0]);
    ::setsid();
    pid = ::fork();
    if (pid < 0)
        ::_exit(1);
    if (pid > 0)
        ::_exit(0);  // the session leader goes; the server can never get a terminal back
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            ::close(null);
    }
    return StartReport(fs::UniqueFd(fds[1]));
}

void ensure_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
}

Result<void> write_pid_file(const std::string& path)
{
    return fs::write_file_atomic(path, std::to_string(::getpid()) + "\n", 0644, fs::Durability::none);
}

void remove_pid_file(const std::string& path)
{
    auto content = fs::read_file(path, 64);
    if (content && std::strtol(content->c_str(), nullptr, 10) == ::getpid())
        (void)fs::remove_file(path);
}

Result<void> change_directory(const std::string& path)
{
    if (::chdir(path.c_str()) != 0)
        return os_error("chdir", path);
    return {};
}

Result<void> remove_unit(const std::string& dir, std::string_view unit, bool use_systemctl, std::string* warning)
{
    std::string name(unit);
    std::string path = fs::join_path(dir, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return os_error("lstat", path);
    if (use_systemctl) {
        const char* disable[] = {"systemctl", "disable", "--now", name.c_str(), nullptr};
        if (!run_quietly(disable) && warning)
            *warning = "systemctl disable --now " + name + " failed";
    }
    if (::unlink(path.c_str()) != 0)
        return os_error("Could not remove", path);
    if (use_systemctl) {
        const char* reload[] = {"systemctl", "daemon-reload", nullptr};
        (void)run_quietly(reload);
    }
    return {};
}

}  // namespace corvane::platform
