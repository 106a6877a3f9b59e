#include "webserver/cgi_environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane::webserver;

namespace {

std::vector<std::string> strings_of(const std::vector<char>& block)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < block.size() && block[pos] != '\0') {
        std::string s(block.data() + pos);
        pos += s.size() + 1;
        out.push_back(s);
    }
    EXPECT_EQ(pos + 1, block.size()) << "the block ends with one empty string";
    return out;
}

CgiVariables variables()
{
    CgiVariables v;
    v.server_name = "127.0.0.1";
    v.server_port = 2000;
    v.remote_addr = "127.0.0.2";
    v.user_agent = "Test/1.0";
    v.request_method = "get";
    v.script_name = "/Corvane/a/b";
    v.path_info = "/a/b";
    v.query_string = "View=1";
    return v;
}

}  // namespace

TEST(CgiEnvironment, InheritedEntriesThenTheVariablesInOrder)
{
    const char* inherited[] = {"PATH=/usr/bin", "HOME=/root", "BROKEN", nullptr};
    auto block = build_environment(inherited, variables());
    std::vector<std::string> want = {
        "PATH=/usr/bin",         "HOME=/root",
        "SERVER_NAME=127.0.0.1", "SERVER_PORT=2000",
        "REMOTE_ADDR=127.0.0.2", "HTTP_USER_AGENT=Test/1.0",
        "REQUEST_METHOD=get",    "SCRIPT_NAME=/Corvane/a/b",
        "PATH_INFO=/a/b",        "QUERY_STRING=View=1",
    };
    EXPECT_EQ(strings_of(block), want);

    auto pointers = environment_pointers(block);
    ASSERT_EQ(pointers.size(), want.size() + 1);
    EXPECT_STREQ(pointers[2], "SERVER_NAME=127.0.0.1");
    EXPECT_EQ(pointers.back(), nullptr);
}

TEST(CgiEnvironment, ContentTypeBringsContentLengthCookieItsOwn)
{
    auto v = variables();
    v.content_type = "text/plain";
    v.content_length = 2097152;
    v.cookie = "User=jsmith";
    auto all = strings_of(build_environment(nullptr, v));
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(all[8], "CONTENT_TYPE=text/plain");
    EXPECT_EQ(all[9], "CONTENT_LENGTH=2097152");
    EXPECT_EQ(all[10], "HTTP_COOKIE=User=jsmith");

    // Without a Content-Type neither variable appears, whatever the length.
    v.content_type.reset();
    v.cookie.reset();
    auto none = strings_of(build_environment(nullptr, v));
    EXPECT_EQ(none.size(), 8u);
    for (const auto& s : none)
        EXPECT_EQ(s.rfind("CONTENT_", 0), std::string::npos) << s;
}

TEST(CgiEnvironment, TheServersOwnCgiNamesNeverStandIn)
{
    // A server started from a shell that had CGI variables set must not hand
    // them to a request that did not send them.
    const char* inherited[] = {"CONTENT_LENGTH=5", "http_cookie=Session=stolen", "QUERY_STRING=old",
                               "HTTP_COOKIES=kept", nullptr};
    auto all = strings_of(build_environment(inherited, variables()));
    EXPECT_EQ(all.front(), "HTTP_COOKIES=kept");
    for (const auto& s : all) {
        EXPECT_NE(s, "CONTENT_LENGTH=5");
        EXPECT_NE(s, "http_cookie=Session=stolen");
        EXPECT_NE(s, "QUERY_STRING=old");
    }
}
