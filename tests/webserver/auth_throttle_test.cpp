#include "webserver/auth_throttle.h"

#include <gtest/gtest.h>

#include <string>

using corvane::webserver::AuthThrottle;
using namespace std::chrono_literals;

TEST(AuthThrottle, GrowsPerAddressUpToTheCapAndForgets)
{
    AuthThrottle throttle;
    const AuthThrottle::Clock::time_point t0{};
    const std::string guesser = "192.0.2.7";
    // Each failure comes as soon as the wait allows; the wait it leaves:
    // three free ones, then 1, 2, 4, 8, 16 seconds, then the 30 s cap.
    const std::chrono::seconds want[] = {0s, 0s, 0s, 1s, 2s, 4s, 8s, 16s, 30s, 30s, 30s};
    auto now = t0;
    for (std::size_t i = 0; i < std::size(want); ++i) {
        now += throttle.wait_for(guesser, now);
        throttle.failed(guesser, now);
        EXPECT_EQ(throttle.wait_for(guesser, now), want[i]) << "after failure " << i + 1;
        // Half-way through the wait, the rest of it is left.
        EXPECT_EQ(throttle.wait_for(guesser, now + want[i] / 2), want[i] - want[i] / 2);
    }
    // Nobody else waits for the guesser.
    EXPECT_EQ(throttle.wait_for("192.0.2.8", now), 0s);

    // A quiet spell forgives everything.
    now += 16min;
    throttle.failed(guesser, now);
    EXPECT_EQ(throttle.wait_for(guesser, now), 0s);

    // So does a success.
    for (int i = 0; i < 5; ++i)
        throttle.failed("192.0.2.9", now);
    EXPECT_GT(throttle.wait_for("192.0.2.9", now), 0s);
    throttle.succeeded("192.0.2.9");
    EXPECT_EQ(throttle.wait_for("192.0.2.9", now), 0s);
}

TEST(AuthThrottle, TheTableStaysBounded)
{
    AuthThrottle::Policy policy;
    policy.max_addresses = 100;
    policy.free_failures = 0;
    AuthThrottle throttle(policy);
    auto now = AuthThrottle::Clock::time_point{};
    for (int i = 0; i < 1000; ++i) {
        now += 1ms;
        throttle.failed("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256), now);
    }
    EXPECT_LE(throttle.size(), 100u);
    // The newest are kept, the oldest made room.
    EXPECT_GT(throttle.wait_for("10.0.3.231", now), 0s);
    EXPECT_EQ(throttle.wait_for("10.0.0.0", now), 0s);
}
