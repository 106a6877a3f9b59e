#include "webserver/cgi_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "common/platform/files.h"
#include "webserver/cgi_environment.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

struct ThreadStart {
    MainFunction main;
    int input;
    int output;
    const char* environment;
};

void* run_main(void* argument)
{
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
    // The library owns both descriptors now and closes them itself.
    start->main(start->input, start->output, start->environment);
    return nullptr;
}

// A pipe whose read end does not block (the connection polls it) and whose
// write end blocks (a CGI writing faster than the client reads waits).
bool make_pipe(fs::UniqueFd& read_end, fs::UniqueFd& write_end, Error& error)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = os_error("pipe");
        return false;
    }
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    int flags = ::fcntl(read_end.get(), F_GETFL);
    ::fcntl(read_end.get(), F_SETFL, flags | O_NONBLOCK);
    return true;
}

std::string absolute(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd))
        return path;
    return fs::join_path(cwd, path);
}

}  // namespace

std::unique_ptr<CgiProcess> CgiProcess::start_library(MainFunction main, fs::UniqueFd input,
                                                      std::vector<char> environment, Failure& failure)
{
    fs::UniqueFd read_end, write_end;
    if (!make_pipe(read_end, write_end, failure.error)) {
        failure.stage = Stage::pipe;
        return nullptr;
    }
    std::unique_ptr<CgiProcess> process(new CgiProcess);
    process->m_environment = std::move(environment);
    process->m_output = std::move(read_end);
    auto* start = new ThreadStart{main, input.get(), write_end.get(), process->m_environment.data()};
    int rc = ::pthread_create(&process->m_thread, nullptr, run_main, start);
    if (rc != 0) {
        delete start;
        failure = Failure{Stage::start, os_error_code(rc, "pthread_create")};
        // The write end first, so that the pipe reads as ended.
        write_end.reset();
        input.reset();
        return nullptr;
    }
    input.release();
    write_end.release();
    process->m_thread_running = true;
    return process;
}

std::unique_ptr<CgiProcess> CgiProcess::start_program(const std::string& path, fs::UniqueFd input,
                                                      std::vector<char> environment, Failure& failure)
{
    fs::UniqueFd read_end, write_end;
    if (!make_pipe(read_end, write_end, failure.error)) {
        failure.stage = Stage::pipe;
        return nullptr;
    }
    // The working directory changes before the program is looked up.
    std::string program = absolute(path);
    std::string directory = fs::directory_of(program);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    if (input)
        ::posix_spawn_file_actions_adddup2(&actions, input.get(), STDIN_FILENO);
    else
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addchdir_np(&actions, directory.empty() ? "/" : directory.c_str());
    // Descriptors a CGI library opened without close-on-exec stay with us.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    // The server ignores SIGPIPE and SIGHUP; a CGI starts with every signal
    // at its default, nothing blocked, in a process group of its own so that
    // a time-out ends its children too.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    auto pointers = environment_pointers(environment);
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, pointers.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        failure = Failure{Stage::start, os_error_code(rc, "start", program)};
        return nullptr;
    }
    std::unique_ptr<CgiProcess> process(new CgiProcess);
    process->m_output = std::move(read_end);
    process->m_pid = pid;
    // Our copies of the body file and the write end close here, so the pipe
    // ends when the program ends.
    return process;
}

CgiProcess::~CgiProcess()
{
    (void)finish();
}

CgiProcess::ReadResult CgiProcess::read_available(std::string& out, std::size_t limit)
{
    while (m_output && out.size() < limit) {
        std::size_t have = out.size();
        out.resize(limit);
        ssize_t n = ::read(m_output.get(), out.data() + have, limit - have);
        out.resize(have + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return ReadResult::would_block;
        m_output.reset();
        return ReadResult::ended;
    }
    return m_output ? ReadResult::data : ReadResult::ended;
}

void CgiProcess::flush()
{
    if (!m_output)
        return;
    int flags = ::fcntl(m_output.get(), F_GETFL);
    ::fcntl(m_output.get(), F_SETFL, flags & ~O_NONBLOCK);
    char discard[4096];
    for (;;) {
        ssize_t n = ::read(m_output.get(), discard, sizeof discard);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        break;
    }
    m_output.reset();
}

void CgiProcess::kill()
{
    if (m_pid > 0) {
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
    }
}

bool CgiProcess::finish()
{
    flush();
    bool ok = true;
    if (m_thread_running) {
        ok = ::pthread_join(m_thread, nullptr) == 0;
        m_thread_running = false;
    }
    if (m_pid > 0) {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(m_pid, &status, 0);
        } while (r < 0 && errno == EINTR);
        ok = ok && r == m_pid;
        m_pid = -1;
    }
    m_environment.clear();
    m_environment.shrink_to_fit();
    return ok;
}

}  // namespace corvane::webserver
