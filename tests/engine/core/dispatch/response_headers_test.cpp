// Cookies and header lines: nothing from a request splits a header line.
#include "engine/core/dispatch/response_headers.h"

#include <gtest/gtest.h>

namespace corvane::dispatch {
namespace {

TEST(ResponseHeaders, CookieValuesCannotSplitHeaderLines)
{
    EXPECT_EQ(cookie_safe("alice"), "alice");
    EXPECT_EQ(cookie_safe("al\r\nSet-Cookie: x=1"), "alSet-Cookie: x=1");
    EXPECT_EQ(cookie_safe("bob; Domain=evil.example"), "bob Domain=evil.example");
    EXPECT_EQ(cookie_safe(std::string("a\0b\x7f\x1b", 5)), "ab");
    EXPECT_EQ(cookie_safe(std::string(500, 'u')).size(), max_cookie_value);
    // A cut never leaves half a UTF-8 character.
    EXPECT_EQ(cookie_safe(std::string(78, 'u') + "\xc3\xa9"), std::string(78, 'u'));

    std::time_t t = 1700000000;  // Tue, 14-Nov-2023 22:13:20 GMT
    EXPECT_EQ(cookie_expiry(t), "Wed, 13-Nov-2024 22:13:20 GMT");
    std::string line = user_cookie_line("eve\r\nX-Evil: 1;", t);
    EXPECT_EQ(line, "Set-Cookie: User=eveX-Evil: 1; Expires=Wed, 13-Nov-2024 22:13:20 GMT; path=/\r\n");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(lang_cookie_line("de", t), "Set-Cookie: Lang=de; Expires=Wed, 13-Nov-2024 22:13:20 GMT; path=/\r\n");

    EXPECT_EQ(key_cookie_line("ABCDEFG", "00ff", false),
              "Set-Cookie: CorvaneKey_ABCDEFG=00ff; path=/; HttpOnly; SameSite=Strict\r\n");
    EXPECT_EQ(key_cookie_removal_line("ABCDEFG", true),
              "Set-Cookie: CorvaneKey_ABCDEFG=; Max-Age=0; path=/; HttpOnly; SameSite=Strict; Secure\r\n");
}

}  // namespace
}  // namespace corvane::dispatch
