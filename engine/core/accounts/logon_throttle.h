// Throttling of failed logons, so that guessing a password costs time.
//
// Failures are counted per client address and per client address and
// account. Below a number of free failures nothing happens; each failure
// beyond them holds further logons from that address (to that account, or
// to any account) off for a wait that doubles from FirstDelay up to
// MaxDelay seconds. A logon that arrives while it is held off is refused
// without its password being looked at, so a guess made then can never
// succeed, and the caller answers at once with the time left: nothing
// sleeps, no thread waits.
//
// Nobody can shut a user out for long: a stranger's failures hold off only
// the stranger's own address, the wait never exceeds MaxDelay, and the
// count is forgotten ForgetTime minutes after the last failure. A logon
// that succeeds clears its address-and-account count but not the
// address's, so one account of one's own does not buy guesses at others.
// Addresses are compared as the host gives them (REMOTE_ADDR); behind a
// proxy every user shares its address, which is why the address's own
// allowance is larger.
//
// Memory is bounded: each table keeps at most max_entries records; a full
// table drops the records it may forget, then those whose last failure is
// oldest, a quarter of the table at a time.
//
// What it does not do: check passwords, write log lines or pages; the
// dispatcher does those. Thread-safe; time comes from the platform clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace corvane::accounts {

struct ThrottleSettings {
    // Failures allowed before logons are held off: from one address to one
    // account, and from one address to any account.
    int account_failures = 5;
    int address_failures = 20;
    // The first wait, doubled with each further failure, up to the longest.
    int first_delay = 1;
    int max_delay = 60;
    // Minutes after the last failure at which a count is forgotten.
    int forget_minutes = 15;

    // The same settings with each value held within sane bounds (values
    // come from an administrator's file).
    ThrottleSettings bounded() const;
};

class LogonThrottle {
public:
    static constexpr std::size_t max_entries = 20000;

    // Seconds until a logon of account from address may be tried; 0 when it
    // may be tried now.
    std::time_t wait(std::string_view address, std::string_view account, const ThrottleSettings& settings);

    // A failed logon. Returns the wait it begins (0 while within the free
    // failures).
    std::time_t failed(std::string_view address, std::string_view account, const ThrottleSettings& settings);

    // A logon that succeeded: the count of this address and account ends.
    void succeeded(std::string_view address, std::string_view account);

    // Records kept (tests and the benchmark).
    std::size_t size() const;

private:
    struct Record {
        int failures = 0;
        std::time_t last_failure = 0;
        std::time_t held_until = 0;
    };
    using Table = std::unordered_map<std::string, Record>;

    static std::string pair_key(std::string_view address, std::string_view account);
    static bool forgotten(const Record& record, std::time_t now, const ThrottleSettings& settings);
    static std::time_t count_failure(Record& record, int free_failures, std::time_t now,
                                     const ThrottleSettings& settings);
    static Record& entry(Table& table, const std::string& key, std::time_t now, const ThrottleSettings& settings);

    mutable std::mutex m_mutex;
    Table m_addresses;
    Table m_pairs;
};

}  // namespace corvane::accounts
