#include "webserver/http_request.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane::webserver;

namespace {

HttpRequest parse(const std::string& block)
{
    // The connection hands over everything up to the first CR LF of the
    // empty line.
    auto end = find_header_end(block);
    EXPECT_NE(end, std::string::npos) << block;
    return parse_request(std::string_view(block).substr(0, end - 2));
}

}  // namespace

TEST(HttpRequest, FindsTheEndOfTheHeaderBlock)
{
    EXPECT_EQ(find_header_end("GET / HTTP/1.0\r\n\r\nbody"), 18u);
    EXPECT_EQ(find_header_end("GET / HTTP/1.0\r\n"), std::string::npos);
    EXPECT_EQ(find_header_end("GET / HTTP/1.0\n\n"), std::string::npos);  // bare LF does not end a block
    EXPECT_EQ(find_header_end("\r\n\r\n"), 4u);
}

TEST(HttpRequest, StatusOfTheRequestLine)
{
    struct Case {
        const char* block;
        int status;
    };
    const Case cases[] = {
        {"GET / HTTP/1.0\r\n\r\n", 200},
        {"get /x.html HTTP/1.0\r\n\r\n", 200},  // methods in any case
        {"Post /cgi HTTP/1.0\r\n\r\n", 200},
        {"HEAD / HTTP/1.1\r\n\r\n", 200},
        {"PUT / HTTP/1.0\r\n\r\n", 501},
        {"DELETE / HTTP/1.0\r\n\r\n", 501},
        {"OPTIONSXYZ / HTTP/1.0\r\n\r\n", 501},
        {"GET /\r\n\r\n", 400},  // no protocol version
        {"GET\r\n\r\n", 400},    // no URL
        {"\r\n\r\n", 400},       // no line at all
        {"GET /a/../b HTTP/1.0\r\n\r\n", 403},
        {"GET /../etc/passwd HTTP/1.0\r\n\r\n", 403},
        {"GET /a/.. HTTP/1.0\r\n\r\n", 403},      // a final ".." climbs too
        {"GET /a/..b HTTP/1.0\r\n\r\n", 200},     // a name that merely begins with ".."
        {"GET /a?x=../y HTTP/1.0\r\n\r\n", 200},  // the query is no path
        {"GET x.html HTTP/1.0\r\n\r\n", 400},     // would name a sibling of the directory
        {"GET  / HTTP/1.0\r\n\r\n", 400},         // empty URL
        {"GET / HTTP/1.0\r\nContent-Length: -5\r\n\r\n", 400},
        // A huge length is a length: the body limit refuses it, unread.
        {"GET / HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\n", 200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.block).status, c.status) << c.block;
}

TEST(HttpRequest, NulBytesAreRefused)
{
    std::string block("GET /a\0b.html HTTP/1.0\r\n\r\n", 26);
    EXPECT_EQ(parse_request(block).status, 400);
}

TEST(HttpRequest, KeepsLineMethodPathQueryAndTheSixHeaders)
{
    auto r = parse(
        "pOsT /Corvane/x?View=List&Folder=a?b HTTP/1.0\r\n"
        "user-agent: Test/1.0\r\n"
        "CONTENT-LENGTH: 42\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Cookie: User=jsmith; Lang=en\r\n"
        "Authorization: Basic YWRtaW46cw==\r\n"
        "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        "X-Other: ignored\r\n"
        "\r\n");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.request_line, "pOsT /Corvane/x?View=List&Folder=a?b HTTP/1.0");
    EXPECT_EQ(r.method, "pOsT");
    EXPECT_TRUE(r.is_post());
    EXPECT_FALSE(r.is_head());
    EXPECT_EQ(r.path, "/Corvane/x");
    EXPECT_EQ(r.query, "View=List&Folder=a?b");  // everything after the first "?"
    EXPECT_EQ(r.content_length, 42);
    EXPECT_EQ(r.content_type.value_or("?"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.user_agent.value_or("?"), "Test/1.0");
    EXPECT_EQ(r.cookie.value_or("?"), "User=jsmith; Lang=en");
    EXPECT_EQ(r.authorization.value_or("?"), "Basic YWRtaW46cw==");
    EXPECT_EQ(r.if_modified_since, 784111777);
}

TEST(HttpRequest, AbsentAndOddHeaders)
{
    auto r = parse("GET /%2e%2e/x HTTP/1.0\r\nContent-Length:5\r\nContent-Length: abc\r\nCookie:x\r\n\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.path, "/%2e%2e/x");  // never percent-decoded
    EXPECT_EQ(r.content_length, 0);  // "Content-Length:5" lacks the blank; "abc" reads as 0
    EXPECT_FALSE(r.content_type);
    EXPECT_FALSE(r.cookie);
    EXPECT_FALSE(r.user_agent);
    EXPECT_EQ(r.if_modified_since, 0);
}

TEST(HttpRequest, LinesEndAtCrOrLf)
{
    // Bare LFs inside the block still separate lines.
    auto r = parse("GET /x HTTP/1.0\nUser-Agent: a\n\rCookie: c\r\n\r\n");
    EXPECT_EQ(r.user_agent.value_or("?"), "a");
    EXPECT_EQ(r.cookie.value_or("?"), "c");
}

TEST(HttpRequest, IfModifiedSinceDates)
{
    struct Case {
        const char* text;
        std::time_t want;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"sun, 06 nov 1994 08:49:37 gmt", 784111777},
        {"Sun, 06 November 1994 08:49:37 GMT", 784111777},  // three letters decide
        {"Sun, 06 Nov 1994 08:49:37", 784111777},           // no zone: UTC
        {"Sun, 06 Nov 1994 08:49:37 +0100", 784111777 - 3600},
        {"Sun, 06 Nov 1994 08:49:37 -0130", 784111777 + 5400},
        {"Sun, 06 Nov 1994 08:49:37 EST", 784111777 + 5 * 3600},
        {"Sun, 06 Nov 1994 08:49:37 PDT", 784111777 + 7 * 3600},
        {"Sun, 06 Nov 1994 08:49:37 CET", 784111777},  // unknown names count as 0
        {"Sun, 06 Nov 94 08:49:37 GMT", 784111777},    // a two-digit year is 19xx
        {"Sunday, 06-Nov-94 08:49:37 GMT", 0},         // the other historic forms give no time
        {"Sun Nov  6 08:49:37 1994", 0},
        {"Sun, 32 Nov 1994 08:49:37 GMT", 0},
        {"Sun, 00 Nov 1994 08:49:37 GMT", 0},
        {"Sun, 06 Nox 1994 08:49:37 GMT", 0},
        {"Sun, 06 Nov 1994 24:00:00 GMT", 0},
        {"Sun, 06 Nov 1994 08:60:00 GMT", 0},
        {"Sun, 06 Nov 1994 08:49:60 GMT", 0},
        {"Sun, 06 Nov 2039 08:49:37 GMT", 0},  // beyond the representable years
        {"Sun, 06 Nov 1994", 0},
        {"", 0},
        {"garbage", 0},
        {"99999999999999999999 Nov 1994 08:49:37 GMT", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_http_date(c.text), c.want) << c.text;
}

TEST(HttpRequest, HttpDateRoundTrip)
{
    EXPECT_EQ(format_http_date(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(parse_http_date(format_http_date(1796205600)), 1796205600);
}
