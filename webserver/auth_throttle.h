// Slows down guessing of Basic credentials, per client address.
//
// The first few failures from an address cost nothing (people mistype);
// after them each further failure makes the next check from that address
// wait, doubling from one second up to a cap. The wait is never longer
// than the cap, so a stranger cannot lock the administrator out for long,
// and it is forgotten after a quiet spell or a success. Checks from one
// address are serialised by the wait, however many connections it opens.
//
// The table is bounded: when it is full, the address whose last failure is
// oldest makes room. What it does not do: wait itself (the connection is
// parked by the event loop, which costs no thread), or write log lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace corvane::webserver {

class AuthThrottle {
public:
    using Clock = std::chrono::steady_clock;

    struct Policy {
        int free_failures = 3;
        Clock::duration first_delay = std::chrono::seconds(1);
        Clock::duration max_delay = std::chrono::seconds(30);
        Clock::duration forget_after = std::chrono::minutes(15);
        std::size_t max_addresses = 4096;
    };

    AuthThrottle() = default;
    explicit AuthThrottle(Policy policy) : m_policy(policy) {}

    // How long a check from address has to wait from now; zero to go ahead.
    Clock::duration wait_for(const std::string& address, Clock::time_point now) const;
    // A check from address failed at now.
    void failed(const std::string& address, Clock::time_point now);
    // A check from address passed: its failures are forgiven.
    void succeeded(const std::string& address);

    std::size_t size() const { return m_records.size(); }

private:
    struct Record {
        int failures = 0;
        Clock::time_point last_failure{};
        Clock::time_point next_check{};
    };
    void make_room(Clock::time_point now);

    Policy m_policy;
    std::unordered_map<std::string, Record> m_records;
};

}  // namespace corvane::webserver
