// The throttle's own limits: settings from an administrator's file held
// within bounds, and memory bounded against a flood of addresses. (Its
// behaviour towards logons is tested through Main, in the dispatcher's
// logon_guard_test.)
#include "engine/core/accounts/logon_throttle.h"

#include <gtest/gtest.h>

#include <climits>

#include "common/platform/clock.h"

namespace corvane::accounts {
namespace {

TEST(LogonThrottle, HostileSettingsStayWithinBounds)
{
    platform::ManualClock clock(1796205600);
    platform::ScopedClock use(clock);
    struct Case {
        ThrottleSettings given;
        std::time_t first_wait;  // after the free failures and one more
        std::time_t longest;     // after many more
    };
    const Case cases[] = {
        {{.account_failures = 0, .address_failures = 0, .first_delay = 1, .max_delay = 60, .forget_minutes = 15},
         1,
         60},
        {{.account_failures = -5, .address_failures = -1, .first_delay = -3, .max_delay = -1, .forget_minutes = -1},
         0,
         0},
        {{.account_failures = 1, .address_failures = 1, .first_delay = 500, .max_delay = 60, .forget_minutes = 0},
         60,
         60},
        {{.account_failures = 1,
          .address_failures = 1,
          .first_delay = INT_MAX,
          .max_delay = INT_MAX,
          .forget_minutes = INT_MAX},
         24 * 60 * 60,
         24 * 60 * 60},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        LogonThrottle throttle;
        ThrottleSettings s = c.given.bounded();
        std::string address = "10.0.0." + std::to_string(++n);
        std::time_t wait = 0;
        for (int i = 0; i <= std::max(s.account_failures, 0); ++i)
            wait = throttle.failed(address, "alice", s);
        EXPECT_EQ(wait, c.first_wait);
        EXPECT_EQ(throttle.wait(address, "ALICE", s), c.first_wait);
        for (int i = 0; i < 100; ++i)
            wait = throttle.failed(address, "alice", s);
        EXPECT_EQ(wait, c.longest);
    }
}

TEST(LogonThrottle, AFloodOfAddressesCostsBoundedMemory)
{
    platform::ManualClock clock(1796205600);
    platform::ScopedClock use(clock);
    ThrottleSettings s;
    s.account_failures = 0;
    s.address_failures = 0;
    LogonThrottle throttle;
    for (int i = 0; i < 3 * static_cast<int>(LogonThrottle::max_entries); ++i) {
        std::string address =
            "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255);
        (void)throttle.failed(address, "user" + std::to_string(i), s);
        if (i % 1000 == 0)
            clock.advance(1);
    }
    EXPECT_LE(throttle.size(), 2 * LogonThrottle::max_entries);
    // The newest failures are the ones kept.
    EXPECT_GT(throttle.wait("10.0.234.95", "user59999", s), 0);
}

}  // namespace
}  // namespace corvane::accounts
