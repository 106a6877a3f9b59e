#include "engine/core/accounts/logon_throttle.h"

#include <algorithm>
#include <vector>

#include "common/platform/clock.h"
#include "common/text/strings.h"

namespace corvane::accounts {

namespace {

// An address as the host writes it is short; anything longer is not one.
constexpr std::size_t max_address = 63;
// A day: a wait longer than this is a typing error in the settings.
constexpr int longest_delay = 24 * 60 * 60;
constexpr int longest_forget_minutes = 7 * 24 * 60;
constexpr int most_free_failures = 1000000;

}  // namespace

ThrottleSettings ThrottleSettings::bounded() const
{
    ThrottleSettings s = *this;
    s.account_failures = std::clamp(s.account_failures, 0, most_free_failures);
    s.address_failures = std::clamp(s.address_failures, 0, most_free_failures);
    s.max_delay = std::clamp(s.max_delay, 0, longest_delay);
    s.first_delay = std::clamp(s.first_delay, 0, s.max_delay);
    s.forget_minutes = std::clamp(s.forget_minutes, 1, longest_forget_minutes);
    return s;
}

std::string LogonThrottle::pair_key(std::string_view address, std::string_view account)
{
    // Account names are compared without regard to case, and an address
    // never holds a NUL, so the pair cannot be confused with another.
    std::string key(text::cut(address, max_address));
    key += '\0';
    key += text::lower(account);
    return key;
}

bool LogonThrottle::forgotten(const Record& record, std::time_t now, const ThrottleSettings& settings)
{
    return now >= record.held_until &&
           now - record.last_failure >= static_cast<std::time_t>(settings.forget_minutes) * 60;
}

LogonThrottle::Record& LogonThrottle::entry(Table& table, const std::string& key, std::time_t now,
                                            const ThrottleSettings& settings)
{
    if (auto it = table.find(key); it != table.end())
        return it->second;
    if (table.size() >= max_entries) {
        // Room for a quarter of the table at once, so that a flood of new
        // addresses costs one pass per max_entries / 4 of them: what may be
        // forgotten goes first, then the records whose last failure is
        // oldest.
        std::erase_if(table, [&](const auto& item) { return forgotten(item.second, now, settings); });
        std::size_t keep = max_entries - max_entries / 4;
        if (table.size() > keep) {
            std::vector<std::time_t> times;
            times.reserve(table.size());
            for (const auto& item : table)
                times.push_back(item.second.last_failure);
            auto cut = times.begin() + static_cast<std::ptrdiff_t>(table.size() - keep);
            std::nth_element(times.begin(), cut, times.end());
            std::time_t before = *cut;
            std::erase_if(table, [&](const auto& item) { return item.second.last_failure < before; });
            // Many records of the same second: drop as many of those as needed.
            for (auto it = table.begin(); it != table.end() && table.size() > keep;) {
                if (it->second.last_failure == before)
                    it = table.erase(it);
                else
                    ++it;
            }
        }
    }
    return table[key];
}

std::time_t LogonThrottle::count_failure(Record& record, int free_failures, std::time_t now,
                                         const ThrottleSettings& settings)
{
    if (forgotten(record, now, settings))
        record = Record{};
    record.failures = std::min(record.failures + 1, most_free_failures + 64);
    record.last_failure = now;
    int beyond = record.failures - free_failures;
    if (beyond <= 0)
        return 0;
    // first_delay doubled (beyond - 1) times, without overflowing.
    std::int64_t delay = settings.first_delay;
    for (int i = 1; i < beyond && delay < settings.max_delay; ++i)
        delay *= 2;
    delay = std::min<std::int64_t>(delay, settings.max_delay);
    record.held_until = std::max(record.held_until, now + static_cast<std::time_t>(delay));
    return static_cast<std::time_t>(delay);
}

std::time_t LogonThrottle::wait(std::string_view address, std::string_view account, const ThrottleSettings& settings)
{
    std::time_t now = platform::now();
    std::lock_guard lock(m_mutex);
    std::time_t until = 0;
    if (auto it = m_addresses.find(std::string(text::cut(address, max_address))); it != m_addresses.end())
        until = std::max(until, it->second.held_until);
    if (auto it = m_pairs.find(pair_key(address, account)); it != m_pairs.end())
        until = std::max(until, it->second.held_until);
    // A wait never outlasts the longest one the settings allow now, so a
    // lowered MaxDelay frees everyone at once.
    return until > now ? std::min<std::time_t>(until - now, settings.max_delay) : 0;
}

std::time_t LogonThrottle::failed(std::string_view address, std::string_view account, const ThrottleSettings& settings)
{
    std::time_t now = platform::now();
    std::string address_key(text::cut(address, max_address));
    std::string key = pair_key(address, account);
    std::lock_guard lock(m_mutex);
    std::time_t by_address =
        count_failure(entry(m_addresses, address_key, now, settings), settings.address_failures, now, settings);
    std::time_t by_pair = count_failure(entry(m_pairs, key, now, settings), settings.account_failures, now, settings);
    return std::max(by_address, by_pair);
}

void LogonThrottle::succeeded(std::string_view address, std::string_view account)
{
    std::string key = pair_key(address, account);
    std::lock_guard lock(m_mutex);
    m_pairs.erase(key);
}

std::size_t LogonThrottle::size() const
{
    std::lock_guard lock(m_mutex);
    return m_addresses.size() + m_pairs.size();
}

}  // namespace corvane::accounts
