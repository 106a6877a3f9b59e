// The web server over real sockets: static files, the fixed error
// responses, credentials, and clients that misbehave.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "common/ini/profile.h"
#include "common/text/base64.h"
#include "tests/webserver/server_fixture.h"

using namespace corvane::testing;
using corvane::text::base64_encode;

namespace {

// RFC 1123 dates, made without the server's code.
std::string http_date(std::time_t t)
{
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
                  months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

std::string basic(const std::string& credentials, const std::string& scheme = "Basic")
{
    return "Authorization: " + scheme + " " + base64_encode(credentials) + "\r\n";
}

class StaticFiles : public WebServerTest {
protected:
    void SetUp() override
    {
        m_tree.write("HTML/index.html", "<p>index</p>");
        m_tree.write("HTML/page.html", "<p>page</p>");
        m_tree.write("HTML/sub/index.html", "<p>sub</p>");
        m_tree.write("HTML/README", "plain words");
        m_tree.write("HTML/data.xyz", "xyz");
        m_tree.write("MimeTypes.cfg", "text/html html htm\nimage/gif gif\n");
        m_tree.write("Corvane.key.txt", "outside the HTML directory");
        start();
    }
    std::time_t mtime(const std::string& relative)
    {
        struct stat st {};
        ::stat(m_tree.path(relative).c_str(), &st);
        return st.st_mtime;
    }
};

}  // namespace

TEST_F(StaticFiles, ServesFilesWithTheirHeaders)
{
    auto r = get("/page.html");
    EXPECT_EQ(r.status_line, "HTTP/1.0 200 OK");
    EXPECT_EQ(r.body, "<p>page</p>");
    EXPECT_EQ(r.headers.at(0), "Server: Larkd/2.0.1");
    EXPECT_EQ(r.headers.at(1).rfind("Date: ", 0), 0u);
    EXPECT_EQ(r.headers.at(2), "MIME-Version: 1.0");
    EXPECT_EQ(r.headers.at(3), "Content-type: text/html");
    EXPECT_EQ(r.headers.at(4), "Content-Length: 11");
    EXPECT_EQ(r.headers.at(5), "Last-Modified: " + http_date(mtime("HTML/page.html")));
    EXPECT_EQ(r.headers.at(6), "Connection: close");

    // "/" is DefHtmlFile while CgiBase1 is unset; so is any path ending in "/".
    EXPECT_EQ(get("/").body, "<p>index</p>");
    EXPECT_EQ(get("/sub/").body, "<p>sub</p>");
    EXPECT_EQ(request("get /page.html HTTP/1.0\r\n\r\n").status, 200);  // methods in any case

    auto plain = get("/README");
    EXPECT_EQ(plain.status, 200);
    EXPECT_FALSE(plain.has_header("Content-type"));
    EXPECT_FALSE(plain.has_header("MIME-Version"));
    EXPECT_EQ(get("/data.xyz").header("Content-type"), "application/octet-stream");
    EXPECT_EQ(get("/PAGE.HTM").status, 404);  // file names keep their case

    ASSERT_TRUE(wait_access("\"GET /data.xyz HTTP/1.0\" 200 3"));
    EXPECT_NE(access_log().find("127.0.0.1 - - ["), std::string::npos);
    EXPECT_NE(log().find("] [1] Connection accepted from 127.0.0.1"), std::string::npos);
    EXPECT_NE(log().find("] [1] GET /page.html HTTP/1.0"), std::string::npos);
    EXPECT_NE(log().find("] [1] Sending " + m_tree.path("HTML/page.html")), std::string::npos);
    EXPECT_NE(log().find("] [1] Connection completed successfully, 11 bytes transferred"), std::string::npos);
}

TEST_F(StaticFiles, FixedErrorResponses)
{
    struct Case {
        std::string request;
        int status;
        const char* phrase;
    };
    const Case cases[] = {
        {"PUT /page.html HTTP/1.0\r\n\r\n", 501, "Not Implemented"},
        {"GET /page.html\r\n\r\n", 400, "Bad Request"},
        {"GET /../Corvane.key.txt HTTP/1.0\r\n\r\n", 403, "Forbidden"},
        {"GET /sub/.. HTTP/1.0\r\n\r\n", 403, "Forbidden"},
        {"GET Corvane.key.txt HTTP/1.0\r\n\r\n", 400, "Bad Request"},
        {"GET /missing.html HTTP/1.0\r\n\r\n", 404, "Not Found"},
        {"GET /sub HTTP/1.0\r\n\r\n", 404, "Not Found"},  // a directory is no file
        {"HEAD /missing.html HTTP/1.0\r\n\r\n", 404, "Not Found"},
    };
    for (const auto& c : cases) {
        auto r = request(c.request);
        EXPECT_EQ(r.status_line, "HTTP/1.0 " + std::to_string(c.status) + " " + c.phrase) << c.request;
        EXPECT_EQ(r.header("Content-Type"), "text/html");
        EXPECT_EQ(r.header("Connection"), "close");
        // The body goes out for HEAD too.
        EXPECT_EQ(r.body, "<HTML>\r\n<HEAD><TITLE>" + std::to_string(c.status) + " " + c.phrase +
                              "</TITLE></HEAD>\r\n<BODY><H1>" + c.phrase + "</H1></BODY>\r\n</HTML>\r\n")
            << c.request;
    }
    ASSERT_TRUE(wait_access("\"HEAD /missing.html HTTP/1.0\" 404 "));
    EXPECT_NE(access_log().find("\"PUT /page.html HTTP/1.0\" 501 "), std::string::npos);
    EXPECT_NE(log().find("Invalid request"), std::string::npos);
    EXPECT_NE(log().find("Could not open file : /missing.html"), std::string::npos);
}

TEST_F(StaticFiles, IfModifiedSinceAndHead)
{
    std::string stamp = http_date(mtime("HTML/page.html"));
    std::string earlier = http_date(mtime("HTML/page.html") - 1);

    auto same = request("GET /page.html HTTP/1.0\r\nIf-Modified-Since: " + stamp + "\r\n\r\n");
    EXPECT_EQ(same.status_line, "HTTP/1.0 304 Not Modified");
    EXPECT_EQ(same.body, "");
    EXPECT_EQ(same.raw.substr(same.raw.size() - 4), "\r\n\r\n");

    auto older = request("GET /page.html HTTP/1.0\r\nIf-Modified-Since: " + earlier + "\r\n\r\n");
    EXPECT_EQ(older.status, 200);
    EXPECT_EQ(older.body, "<p>page</p>");

    // HEAD never gets 304, and has the headers of GET without the body.
    auto head = request("HEAD /page.html HTTP/1.0\r\nIf-Modified-Since: " + stamp + "\r\n\r\n");
    auto full = get("/page.html");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.body, "");
    ASSERT_EQ(head.headers.size(), full.headers.size());
    for (std::size_t i = 0; i < head.headers.size(); ++i) {
        if (head.headers[i].rfind("Date:", 0) != 0) {
            EXPECT_EQ(head.headers[i], full.headers[i]);
        }
    }
    ASSERT_TRUE(wait_access("\"HEAD /page.html HTTP/1.0\" 200 0"));
    EXPECT_NE(access_log().find("\" 304 0"), std::string::npos);
}

TEST_F(StaticFiles, RequestsArrivingInPieces)
{
    // One byte at a time, with pauses: the header block is collected until
    // its empty line arrives.
    int fd = connect_to(m_tree.port());
    ASSERT_GE(fd, 0);
    std::string req = "GET /page.html HTTP/1.0\r\nUser-Agent: slow\r\n\r\n";
    for (char c : req) {
        send_all(fd, std::string(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    auto r = parse_response(read_until_closed(fd));
    ::close(fd);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<p>page</p>");
}

TEST_F(WebServerTest, OversizedHeaderBlocksEndTheConnectionWithoutAnswer)
{
    m_tree.write("HTML/ok.html", "fine");
    start();
    // 4095 bytes: the buffer is full and can never hold the empty line.
    std::string almost = "GET /ok.html HTTP/1.0\r\nX-Fill: " + std::string(4095 - 33 - 2, 'a') + "\r\n";
    ASSERT_EQ(almost.size(), 4095u - 2u);
    auto r = request(almost + "ab");
    EXPECT_EQ(r.raw, "");
    // 100 KB of header, sent while the server stops reading.
    auto big = request("GET /ok.html HTTP/1.0\r\nX-Fill: " + std::string(100 * 1024, 'b') + "\r\n\r\n");
    EXPECT_EQ(big.status, 0);
    // The next client is served as usual.
    EXPECT_EQ(get("/ok.html").body, "fine");
    ASSERT_TRUE(wait_access("GET /ok.html HTTP/1.0\" 200 4"));
    EXPECT_EQ(access_log().find("X-Fill"), std::string::npos);
    std::string text = log();
    std::size_t overflows = 0;
    for (auto pos = text.find("Receive buffer overflow"); pos != std::string::npos;
         pos = text.find("Receive buffer overflow", pos + 1))
        ++overflows;
    EXPECT_EQ(overflows, 2u);
    // Exactly the lines of the one good request are in the access log.
    EXPECT_EQ(access_log().find("\r\n"), access_log().size() - 2);
}

TEST_F(WebServerTest, IdleAndStalledClientsTimeOut)
{
    m_tree.write("HTML/ok.html", "fine");
    start("ConnectionTimeout=1\n");
    int silent = connect_to(m_tree.port());
    ASSERT_GE(silent, 0);
    EXPECT_EQ(read_until_closed(silent, std::chrono::seconds(10)), "");
    ::close(silent);

    int stalled = connect_to(m_tree.port());
    ASSERT_GE(stalled, 0);
    send_all(stalled, "GET /ok.html HTTP/1.0\r\nUser-Ag");
    EXPECT_EQ(read_until_closed(stalled, std::chrono::seconds(10)), "");
    ::close(stalled);

    EXPECT_EQ(get("/ok.html").body, "fine");
    ASSERT_TRUE(wait_access("GET /ok.html"));
    std::string text = log();
    EXPECT_NE(text.find("[1] Connection timed out"), std::string::npos);
    EXPECT_NE(text.find("[2] Connection timed out"), std::string::npos);
    EXPECT_NE(text.find("[1] Connection completed unsuccessfully, 0 bytes transferred"), std::string::npos);
    // Neither sent a complete header block: no access-log lines for them.
    EXPECT_EQ(access_log().find("\r\n"), access_log().size() - 2);
}

TEST_F(WebServerTest, GlobalCredentials)
{
    m_tree.write("HTML/index.html", "secret page");
    start("Auth=-admin:Secret\n");
    // From 127.0.0.1 nothing is checked while LocalAuth is No.
    EXPECT_EQ(get("/").status, 200);
    // The plain text has been replaced by its scrambled form.
    corvane::ini::Profile ini(m_tree.path("Corvane.ini"));
    std::string stored = ini.text("AdminWebServer", "Auth", "");
    EXPECT_FALSE(stored.empty());
    EXPECT_NE(stored.front(), '-');
    EXPECT_EQ(m_tree.read("Corvane.ini").find("Secret"), std::string::npos);

    auto refused = get("/", "127.0.0.2");
    EXPECT_EQ(refused.status_line, "HTTP/1.0 401 Unauthorized");
    EXPECT_EQ(refused.header("WWW-Authenticate"), "BASIC realm=\"Secure Area\"");

    std::string page = "GET / HTTP/1.0\r\n";
    EXPECT_EQ(request(page + basic("admin:Secret") + "\r\n", "127.0.0.2").body, "secret page");
    EXPECT_EQ(request(page + basic("ADMIN:Secret", "bAsIc") + "\r\n", "127.0.0.2").status, 200);
    EXPECT_EQ(request(page + basic("admin:secret") + "\r\n", "127.0.0.2").status, 401);
    EXPECT_EQ(request(page + basic("admin") + "\r\n", "127.0.0.2").status, 401);
    EXPECT_EQ(request(page + "Authorization: Digest x\r\n\r\n", "127.0.0.2").status, 401);
    ASSERT_TRUE(wait_access("127.0.0.2 - ADMIN ["));
    ASSERT_TRUE(wait_access("127.0.0.2 - admin ["));

    std::string text = log();
    EXPECT_NE(text.find("Global authentication failed\r\n"), std::string::npos);
    EXPECT_NE(text.find("Global authentication failed (admin)"), std::string::npos);
    // A password that was tried is never written down.
    EXPECT_EQ(text.find("secret"), std::string::npos);

    // Settings are read per request: LocalAuth = Yes checks 127.0.0.1 too.
    ASSERT_TRUE(ini.write_text("AdminWebServer", "LocalAuth", "Yes"));
    EXPECT_EQ(get("/").status, 401);
    EXPECT_EQ(request(page + basic("admin:Secret") + "\r\n").status, 200);
}

TEST_F(WebServerTest, UnreadableCredentialsLetNobodyIn)
{
    m_tree.write("HTML/index.html", "x");
    start("Auth=C1notwhatthecodecwrote\n");
    EXPECT_EQ(request("GET / HTTP/1.0\r\n" + basic("admin:x") + "\r\n", "127.0.0.2").status, 401);
    ASSERT_TRUE(wait_log("Could not unscramble Auth"));
}

TEST_F(WebServerTest, NoPathLeavesTheHtmlDirectory)
{
    // "HTML" + "Corvane" would be a sibling of the HTML directory.
    m_tree.write("HTMLCorvane", "outside");
    m_tree.write("HTML/index.html", "inside");
    start("CgiBase1=Corvane\n");
    EXPECT_EQ(get("/").status, 404);
    EXPECT_EQ(get("/index.html").body, "inside");
    EXPECT_EQ(request("GET Corvane HTTP/1.0\r\n\r\n").status, 400);
}
