// The clock every module asks for "now", replaceable as a whole.
//
// Production code calls now(); a test installs a ManualClock with
// set_clock() and moves time forward by hand, so that "expires after 20
// minutes" takes milliseconds to test.
#pragma once

#include <atomic>
#include <ctime>

namespace corvane::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Wall-clock time in seconds since 1970 (UTC).
    virtual std::time_t now() const = 0;
};

class SystemClock final : public Clock {
public:
    std::time_t now() const override;
};

// A clock that only moves when told to. Thread-safe.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::time_t start) : m_now(start) {}
    std::time_t now() const override { return m_now.load(); }
    void set(std::time_t t) { m_now.store(t); }
    void advance(std::time_t seconds) { m_now.fetch_add(seconds); }

private:
    std::atomic<std::time_t> m_now;
};

// The process-wide clock (the system clock unless a test replaced it).
const Clock& clock();
// Installs a clock; nullptr puts the system clock back. The clock must
// outlive its use.
void set_clock(const Clock* clock);
inline std::time_t now()
{
    return clock().now();
}

// Installs a clock for the life of a scope (tests).
class ScopedClock {
public:
    explicit ScopedClock(const Clock& c) { set_clock(&c); }
    ~ScopedClock() { set_clock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace corvane::platform
