#include "common/platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace corvane::platform {

Result<Pipe> make_pipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return os_error("pipe");
    Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
    // The write end's only status flag was O_NONBLOCK.
    if (::fcntl(pipe.write_end.get(), F_SETFL, 0) != 0)
        return os_error("fcntl");
    return pipe;
}

Result<Child> spawn_program(const SpawnRequest& request)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    if (request.standard_input >= 0)
        ::posix_spawn_file_actions_adddup2(&actions, request.standard_input, STDIN_FILENO);
    else
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (request.standard_output >= 0)
        ::posix_spawn_file_actions_adddup2(&actions, request.standard_output, STDOUT_FILENO);
    else
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addchdir_np(&actions, request.directory.empty() ? "/" : request.directory.c_str());
    ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    if (request.own_process_group) {
        ::posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    ::posix_spawnattr_setflags(&attributes, flags);

    std::string program = request.program;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, request.environment);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        return os_error_code(rc, "start", program);
    Child child;
    child.pid = pid;
    // Not yet collected, so the pid cannot have been reused. (Called by
    // number: glibc 2.36 declares pidfd_open without C linkage for C++.)
    child.ended.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    return child;
}

std::optional<int> collect(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid)
        return status;
    return std::nullopt;
}

Result<int> wait_for(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid)
        return os_error("waitpid");
    return status;
}

void kill_group(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
}

std::size_t raise_descriptor_limit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}

pid_t current_process_id()
{
    return ::getpid();
}

bool process_exists(pid_t pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace corvane::platform
