#include "webserver/worker_pool.h"

#include <algorithm>

namespace corvane::webserver {

WorkerPool::WorkerPool(std::size_t max_threads, const platform::Wakeup& done)
    : m_max(std::max<std::size_t>(1, max_threads)), m_done(done)
{
}

WorkerPool::~WorkerPool()
{
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_calls.empty() && m_running == 0; });
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& thread : m_threads)
        thread.join();
}

void WorkerPool::submit(LibraryCall call)
{
    std::unique_lock lock(m_mutex);
    m_calls.push_back(std::move(call));
    // Each waiting thread takes one call; start one more when the calls
    // outnumber them.
    if (m_calls.size() > m_waiting && m_threads.size() < m_max)
        m_threads.emplace_back([this] { work(); });
    lock.unlock();
    m_wake.notify_one();
}

std::vector<std::uint64_t> WorkerPool::take_finished()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::uint64_t> ids;
    ids.swap(m_finished);
    return ids;
}

void WorkerPool::wait_idle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_calls.empty() && m_running == 0; });
}

std::size_t WorkerPool::threads() const
{
    std::lock_guard lock(m_mutex);
    return m_threads.size();
}

void WorkerPool::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_waiting;
        m_wake.wait(lock, [this] { return m_stopping || !m_calls.empty(); });
        --m_waiting;
        if (m_calls.empty())
            return;  // stopping
        LibraryCall call = std::move(m_calls.front());
        m_calls.pop_front();
        ++m_running;
        lock.unlock();
        // The library owns both descriptors from here on and closes them.
        call.main(call.input, call.output, call.environment->data());
        call.environment.reset();
        lock.lock();
        --m_running;
        m_finished.push_back(call.id);
        m_done.signal();
        if (m_calls.empty() && m_running == 0)
            m_idle.notify_all();
    }
}

}  // namespace corvane::webserver
