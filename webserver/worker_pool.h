// The threads that call CGI libraries' Main.
//
// A call runs on a thread of the pool as soon as it is submitted: the pool
// starts a thread when none is idle, up to its size, and keeps finished
// threads waiting for the next call, so a request costs no thread creation.
// When a call returns, its id is queued and the wakeup is signalled; the
// event loop takes the ids and never waits for a thread. Only the
// destructor waits: for the calls still running, then for the threads.
//
// What it does not do: queue calls beyond its size (the CGI bridge keeps
// the number of running calls within it), or stop a call that hangs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/platform/poller.h"
#include "webserver/cgi_table.h"

namespace corvane::webserver {

struct LibraryCall {
    std::uint64_t id = 0;
    MainFunction main = nullptr;
    int input = -1;   // handed to Main, which owns it from then on
    int output = -1;  // likewise
    // Must stay unchanged until Main returns; shared with the CGI run.
    std::shared_ptr<const std::vector<char>> environment;
};

class WorkerPool {
public:
    WorkerPool(std::size_t max_threads, const platform::Wakeup& done);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts the call. The caller keeps fewer than max_threads() running.
    void submit(LibraryCall call);
    // Ids of the calls that returned since the last time.
    std::vector<std::uint64_t> take_finished();
    // Waits until no call runs (shut-down only).
    void wait_idle();

    std::size_t max_threads() const { return m_max; }
    std::size_t threads() const;

private:
    void work();

    const std::size_t m_max;
    const platform::Wakeup& m_done;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<LibraryCall> m_calls;
    std::vector<std::uint64_t> m_finished;
    std::vector<std::thread> m_threads;
    std::size_t m_waiting = 0;
    std::size_t m_running = 0;
    bool m_stopping = false;
};

}  // namespace corvane::webserver
