// Running CGIs for connections: a library's Main on a pooled thread, or a
// program in a child process, each writing its whole response into a pipe
// that the event loop reads.
//
// At most max_running CGIs run at once (the user server: twice the cores;
// the administration server: one, since its programs edit shared files);
// further ones wait in order. A run counts as running until the library's
// Main has returned or the program has ended, not merely until its output
// ends: the engine goes on checking mail after it has closed its output,
// and the next request must not wait for that, but the count must.
//
// A run belongs to the bridge, not to the connection it serves. When the
// connection ends first (the client left, a time-out), it releases the run:
// a waiting run is dropped, a program that has to go is ended with its
// process group, and what a running CGI still writes is read and dropped
// until it closes its output, so that it never blocks on a full pipe. No
// path through here waits for a thread or a process.
//
// What it does not do: build the environment, or send anything.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/poller.h"
#include "common/platform/unique_fd.h"
#include "webserver/cgi_table.h"
#include "webserver/worker_pool.h"

namespace corvane::webserver {

// What a connection hears about its run.
class CgiListener {
public:
    virtual ~CgiListener() = default;
    // A waiting run has started (submit() reports a run that starts at once).
    virtual void cgi_started() = 0;
    // A waiting run could not start; the line says why (for the log).
    virtual void cgi_failed(const std::string& log_line) = 0;
    // The output pipe has something to read, or has ended.
    virtual void cgi_readable() = 0;
};

class CgiRun {
public:
    enum class Read { data, would_block, ended };
    // Appends what the pipe holds now to out, until out has limit bytes.
    Read read(std::string& out, std::size_t limit);
    bool output_open() const { return m_output.valid(); }

private:
    friend class CgiBridge;
    std::uint64_t m_id = 0;
    CgiListener* m_listener = nullptr;  // null once released
    // Until started:
    const CgiEntry* m_library = nullptr;
    std::string m_program;
    platform::UniqueFd m_input;
    std::shared_ptr<const std::vector<char>> m_environment;
    // While running:
    bool m_running = false;
    platform::UniqueFd m_output;
    pid_t m_pid = -1;
    platform::UniqueFd m_ended;  // the program's pidfd
};

class CgiBridge {
public:
    struct Start {
        const CgiEntry* library = nullptr;  // a library's Main, or
        std::string program;                // a program's absolute path
        platform::UniqueFd input;           // the body, or invalid
        std::vector<char> environment;      // the block, ending with an empty string
    };
    enum class Outcome { started, waiting, failed };
    struct Submitted {
        Outcome outcome;
        CgiRun* run = nullptr;  // started or waiting
        std::string log_line;   // failed
    };

    CgiBridge(platform::Poller& poller, const platform::Wakeup& wakeup, std::size_t max_running);
    ~CgiBridge();
    CgiBridge(const CgiBridge&) = delete;
    CgiBridge& operator=(const CgiBridge&) = delete;

    Submitted submit(Start request, CgiListener& listener);
    // The listener is done with the run. end_program: a program still
    // running is ended now (a time-out). True when output was still open.
    bool release(CgiRun* run, bool end_program);

    // Events of the descriptors registered with the tokens of event_tokens.h.
    void on_output_event(std::uint64_t id);
    void on_exit_event(std::uint64_t id);
    // The wakeup: library calls have returned.
    void on_wakeup();
    // Collects programs on systems without pidfds.
    void sweep();
    // Ends every program and waits for every library call (stop only).
    void shut_down();

    std::size_t running() const { return m_running; }
    std::size_t waiting() const { return m_waiting.size(); }
    std::size_t runs() const { return m_runs.size(); }
    const WorkerPool& pool() const { return m_pool; }

private:
    bool start(CgiRun& run, std::string& log_line);
    void finished(CgiRun& run);
    void start_waiting();
    void drain(CgiRun& run);
    void forget_if_done(std::uint64_t id);

    platform::Poller& m_poller;
    WorkerPool m_pool;
    std::size_t m_max_running;
    std::size_t m_running = 0;
    std::uint64_t m_next_id = 1;
    std::map<std::uint64_t, std::unique_ptr<CgiRun>> m_runs;
    std::deque<std::uint64_t> m_waiting;
};

}  // namespace corvane::webserver
