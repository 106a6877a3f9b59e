// The maintenance thread: every round it checks the log's rotation,
// publishes the sessions in the shared slots and the count in the status
// record, carries out a pending administrative kill and expires idle
// sessions; between rounds it waits for the shutdown notice.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace corvane::lifecycle {

class Engine;

class Maintenance {
public:
    Maintenance(Engine& engine, std::chrono::milliseconds period);
    ~Maintenance();
    Maintenance(const Maintenance&) = delete;
    Maintenance& operator=(const Maintenance&) = delete;

    // False when the thread could not be started.
    bool start();
    // Sends the shutdown notice and waits for the thread to end.
    void stop();
    bool started() const { return m_thread.joinable(); }

    // One round, as the thread runs it.
    void round();

private:
    void run();

    Engine& m_engine;
    const std::chrono::milliseconds m_period;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_shutdown = false;
};

}  // namespace corvane::lifecycle
