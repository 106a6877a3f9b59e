#include "webserver/auth_throttle.h"

#include <algorithm>

namespace corvane::webserver {

AuthThrottle::Clock::duration AuthThrottle::wait_for(const std::string& address, Clock::time_point now) const
{
    auto it = m_records.find(address);
    if (it == m_records.end() || it->second.next_check <= now)
        return Clock::duration::zero();
    return it->second.next_check - now;
}

void AuthThrottle::failed(const std::string& address, Clock::time_point now)
{
    auto it = m_records.find(address);
    if (it == m_records.end()) {
        if (m_records.size() >= m_policy.max_addresses)
            make_room(now);
        it = m_records.emplace(address, Record{}).first;
    }
    Record& record = it->second;
    if (record.failures > 0 && now - record.last_failure > m_policy.forget_after)
        record.failures = 0;
    record.failures = std::min(record.failures + 1, 1 << 20);
    record.last_failure = now;
    int over = record.failures - m_policy.free_failures;
    Clock::duration delay = Clock::duration::zero();
    if (over > 0) {
        delay = m_policy.first_delay;
        for (int i = 1; i < over && delay < m_policy.max_delay; ++i)
            delay *= 2;
        delay = std::min(delay, m_policy.max_delay);
    }
    record.next_check = now + delay;
}

void AuthThrottle::succeeded(const std::string& address)
{
    m_records.erase(address);
}

void AuthThrottle::make_room(Clock::time_point now)
{
    for (auto it = m_records.begin(); it != m_records.end();) {
        if (now - it->second.last_failure > m_policy.forget_after)
            it = m_records.erase(it);
        else
            ++it;
    }
    if (m_records.size() < m_policy.max_addresses)
        return;
    auto oldest = std::min_element(m_records.begin(), m_records.end(), [](const auto& a, const auto& b) {
        return a.second.last_failure < b.second.last_failure;
    });
    m_records.erase(oldest);
}

}  // namespace corvane::webserver
