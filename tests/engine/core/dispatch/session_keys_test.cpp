// Session keys: bound to the session id and the user (in any letter case),
// unknown to anyone without the secret.
#include "engine/core/dispatch/session_keys.h"

#include <gtest/gtest.h>

namespace corvane::dispatch {
namespace {

TEST(SessionKeys, BoundToSessionAndUser)
{
    SessionKeys keys;
    std::string key = keys.key_for("ABCDEFG", "alice");
    ASSERT_EQ(key.size(), SessionKeys::key_length);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);

    EXPECT_TRUE(keys.matches("ABCDEFG", "alice", key));
    EXPECT_TRUE(keys.matches("ABCDEFG", "Alice", key)) << "accounts are matched without regard to case";
    EXPECT_FALSE(keys.matches("ABCDEFH", "alice", key));
    EXPECT_FALSE(keys.matches("ABCDEFG", "bob", key));
    EXPECT_FALSE(keys.matches("ABCDEFG", "alice", ""));
    EXPECT_FALSE(keys.matches("ABCDEFG", "alice", key.substr(1)));
    EXPECT_FALSE(keys.matches("ABCDEFG", "alice", key + "0"));
    // The id and the name cannot be traded against each other.
    EXPECT_NE(keys.key_for("ABCDEFG", "x"), keys.key_for("ABCDEF", "Gx"));

    SessionKeys other;
    EXPECT_NE(other.key_for("ABCDEFG", "alice"), key) << "each library load has its own secret";
    EXPECT_FALSE(SessionKeys::same("", ""));
}

}  // namespace
}  // namespace corvane::dispatch
