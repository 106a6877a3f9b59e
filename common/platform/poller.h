// Waiting for many descriptors at once (epoll), and a wake-up other threads
// can send to the thread that waits.
//
// Readiness is edge-triggered: a descriptor is reported when it becomes
// readable or writable, and then not again until the caller has read or
// written until the call would block. A caller therefore keeps its own
// "may read" and "may write" flags, sets them on an event and clears them
// when a call says would_block; this costs one registration per descriptor
// for its whole life instead of one change per state. Each descriptor is
// registered with a token of the caller's choosing that comes back with
// its events. A closed descriptor leaves the set by itself.
//
// What it does not do: timers (the caller passes the time to its next
// deadline), signals (a signal handler may write to a Wakeup, which is
// async-signal-safe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

class Poller {
public:
    // Event bits.
    static constexpr unsigned readable = 1;
    static constexpr unsigned writable = 2;
    // The peer closed its sending side (reads will see end of stream).
    static constexpr unsigned peer_closed = 4;
    // Both directions are gone, or the descriptor has an error.
    static constexpr unsigned hung_up = 8;

    struct Event {
        std::uint64_t token = 0;
        unsigned events = 0;
    };

    static Result<Poller> create();

    // interest: readable and/or writable; hang-ups are always reported.
    Result<void> add(int fd, unsigned interest, std::uint64_t token);
    // Only needed for a descriptor that stays open after its last use here.
    void remove(int fd);

    // Waits at most timeout_ms milliseconds (negative: without limit) and
    // fills out with what happened. An interrupted wait reports nothing.
    Result<std::size_t> wait(std::span<Event> out, int timeout_ms);

private:
    explicit Poller(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd;
};

// An event counter another thread (or a signal handler) bumps to make a
// waiting poller return: readable until cleared.
class Wakeup {
public:
    static Result<Wakeup> create();
    int fd() const { return m_fd.get(); }
    // Async-signal-safe.
    void signal() const;
    // Resets the counter; true when it had been signalled.
    bool clear() const;

private:
    explicit Wakeup(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd;
};

}  // namespace corvane::platform
