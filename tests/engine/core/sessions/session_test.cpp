#include "engine/core/sessions/session.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace corvane::sessions;

TEST(Session, ClientAddresses)
{
    struct Case {
        const char* text;
        unsigned char bytes[4];
    } cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"10.200.3.255", {10, 200, 3, 255}},
        {"::ffff:192.168.1.2", {192, 168, 1, 2}},
        {" 1.2.3.4 ", {1, 2, 3, 4}},
        {"::1", {0, 0, 0, 0}},
        {"256.1.1.1", {0, 0, 0, 0}},
        {"1.2.3", {0, 0, 0, 0}},
        {"1.2.3.4.5", {0, 0, 0, 0}},
        {"1.2.3.0004", {0, 0, 0, 0}},
        {"a.b.c.d", {0, 0, 0, 0}},
        {"", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::uint32_t address = parse_ipv4(c.text);
        EXPECT_EQ(std::memcmp(&address, c.bytes, 4), 0) << c.text;
    }
    EXPECT_EQ(make_session_key().size(), 32u);
    EXPECT_NE(make_session_key(), make_session_key());
}
