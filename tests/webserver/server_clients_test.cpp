// Many clients at once against the real server: silent and trickling
// clients hold a slot each and nothing more, engine requests run side by
// side, a CGI that works on after its answer delays nobody, a client that
// half-closes gets its whole page, bodies over the limit are refused unread,
// guessing credentials is slowed per address, and passwords never reach a
// log.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "common/text/base64.h"
#include "tests/support/fail2ban.h"
#include "tests/webserver/server_fixture.h"

using namespace corvane::testing;
using clock_type = std::chrono::steady_clock;

namespace {

std::string directory_of(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

std::chrono::milliseconds since(clock_type::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start);
}

// The user server (the program under its other name) with the test library
// at /lib and a static page.
class UserServer : public WebServerTest {
protected:
    void start_user(const std::string& extra = "")
    {
        install(TEST_CGI_LIBRARY, "Lib.so");
        m_tree.write("HTML/page.html", "<p>page</p>");
        m_tree.write_ini("WebServer", "CgiBase1=/lib\nCgiFile1=" + m_tree.path("Lib.so") + "\n" + extra);
        ASSERT_TRUE(m_server.start(directory_of(LARKD_PATH) + "/Corvane", m_tree.path("Corvane.ini"),
                                   m_tree.path("Logs"), {}, "Corvane.pid"))
            << m_server.stderr_text() << m_tree.read("Logs/Larkd-user.log");
    }
    std::string user_log() const { return m_tree.read("Logs/Larkd-user.log"); }
    std::string user_access() const { return m_tree.read("Logs/http-user.log"); }
    bool wait_user_log(const std::string& text) const { return m_tree.wait_for("Logs/Larkd-user.log", text); }
};

// Sockets that are closed when the test ends, however it ends.
struct Sockets {
    std::vector<int> fds;
    ~Sockets()
    {
        for (int fd : fds)
            ::close(fd);
    }
};

std::string basic(const std::string& credentials)
{
    return "Authorization: Basic " + corvane::text::base64_encode(credentials) + "\r\n";
}

}  // namespace

TEST_F(UserServer, AClientBehindIdleAndTricklingConnectionsIsServedAtOnce)
{
    start_user("HeaderTimeout=2\n");
    Sockets idle, trickling;
    for (int i = 0; i < 50; ++i) {
        idle.fds.push_back(connect_to(m_tree.port()));
        trickling.fds.push_back(connect_to(m_tree.port()));
        ASSERT_GE(idle.fds.back(), 0);
        ASSERT_GE(trickling.fds.back(), 0);
        send_all(trickling.fds.back(), "GET /page.html HTTP/1.0\r\nX-Slow: ");
    }
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop) {
            for (int fd : trickling.fds)
                (void)::send(fd, "a", 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    for (const char* path : {"/page.html", "/lib", "/lib?big=200000"}) {
        auto start = clock_type::now();
        auto r = get(path);
        auto took = since(start);
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_LT(took.count(), 1000) << path << " took " << took.count() << " ms";
    }

    // The header deadline ends the tricklers however busily they send.
    auto start = clock_type::now();
    EXPECT_EQ(read_until_closed(trickling.fds.front(), std::chrono::seconds(10)), "");
    EXPECT_LT(since(start).count(), 5000);
    stop = true;
    trickle.join();
    ASSERT_TRUE(wait_user_log("Connection timed out"));
}

TEST_F(UserServer, ALibraryWorkingOnAfterItsAnswerDelaysNobody)
{
    start_user("EngineThreads=4\n");
    auto start = clock_type::now();
    auto first = get("/lib?after=3000&big=5000");
    EXPECT_EQ(first.status, 200);
    EXPECT_EQ(first.body.size(), 5000u);
    EXPECT_LT(since(start).count(), 1000) << "the answer is complete when the output closes";

    for (const char* path : {"/lib", "/page.html", "/lib?big=100"}) {
        auto again = clock_type::now();
        EXPECT_EQ(get(path).status, 200) << path;
        EXPECT_LT(since(again).count(), 1000) << path;
    }
    ASSERT_TRUE(m_tree.wait_for("Logs/http-user.log", "\"GET /lib?big=100 HTTP/1.0\" 200 "));
    // The server stops only after the library's last call has returned.
    EXPECT_EQ(m_server.stop(), 0);
    EXPECT_EQ(m_tree.read("cgi-trace.txt"), "StartUp Lib.so\nShutDown Lib.so\n");
}

TEST_F(UserServer, EngineRequestsRunSideBySide)
{
    start_user("EngineThreads=4\n");
    std::vector<std::future<HttpResponse>> calls;
    for (int i = 0; i < 4; ++i)
        calls.push_back(std::async(std::launch::async, [this] { return get("/lib?meet=4"); }));
    for (auto& call : calls)
        EXPECT_EQ(call.get().body, "met\n");
}

TEST_F(WebServerTest, TheAdministrationServerRunsItsCgisOneAtATime)
{
    install(TEST_CGI_LIBRARY, "Lib.so");
    start("Auth=-admin:pw\nCgiBase1=/lib\nCgiFile1=" + m_tree.path("Lib.so") + "\n");
    auto one = std::async(std::launch::async, [this] { return get("/lib?meet=2"); });
    auto two = std::async(std::launch::async, [this] { return get("/lib?meet=2"); });
    EXPECT_EQ(one.get().body, "alone\n");
    EXPECT_EQ(two.get().body, "alone\n");
}

TEST_F(UserServer, AClientThatHalfClosesGetsTheWholeResponse)
{
    start_user();
    struct Case {
        std::string request;
        std::size_t body_size;
    };
    std::string body(100000, 'b');
    const Case cases[] = {
        {"GET /page.html HTTP/1.0\r\n\r\n", 11},
        {"GET /lib?big=300000 HTTP/1.0\r\n\r\n", 300000},
        {"POST /lib?echo HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" + body, 100000},
    };
    for (const auto& c : cases) {
        int fd = connect_to(m_tree.port());
        ASSERT_GE(fd, 0);
        send_all(fd, c.request);
        ASSERT_EQ(::shutdown(fd, SHUT_WR), 0);
        auto r = parse_response(read_until_closed(fd));
        ::close(fd);
        EXPECT_EQ(r.status, 200) << c.request.substr(0, 30);
        EXPECT_EQ(r.body.size(), c.body_size) << c.request.substr(0, 30);
    }
    EXPECT_EQ(user_log().find("Connection closed unexpectedly"), std::string::npos) << user_log();
}

TEST_F(UserServer, BodiesOverTheLimitAndSlowBodiesAreRefused)
{
    start_user("MaxRequestBody=100000\nMinBodyRate=1000\nHeaderTimeout=1\n");
    // Two GiB announced: refused before a byte of it is read.
    int fd = connect_to(m_tree.port());
    ASSERT_GE(fd, 0);
    send_all(fd, "POST /lib HTTP/1.0\r\nContent-Type: text/plain\r\nContent-Length: 2147483648\r\n\r\npart");
    auto refused = parse_response(read_until_closed(fd, std::chrono::seconds(5)));
    ::close(fd);
    EXPECT_EQ(refused.status_line, "HTTP/1.0 413 Request Entity Too Large");

    // At the limit it goes through.
    std::string body(100000, 'x');
    auto fits = request("POST /lib?echo HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" + body);
    EXPECT_EQ(fits.status, 200);
    EXPECT_EQ(fits.body.size(), body.size());

    // 10 bytes every 100 ms is far below 1000 bytes a second.
    int slow = connect_to(m_tree.port());
    ASSERT_GE(slow, 0);
    send_all(slow, "POST /lib?never HTTP/1.0\r\nContent-Length: 50000\r\n\r\n");
    std::string got;
    for (int i = 0; i < 60 && got.empty(); ++i) {
        if (::send(slow, "0123456789", 10, MSG_NOSIGNAL) != 10)
            break;
        got = read_until_closed(slow, std::chrono::milliseconds(100));
    }
    ::close(slow);
    EXPECT_EQ(got, "");

    ASSERT_TRUE(m_tree.wait_for("Logs/http-user.log", "\"POST /lib?echo HTTP/1.0\" 200 "));
    ASSERT_TRUE(wait_user_log("Connection timed out"));
    std::string text = user_log();
    EXPECT_NE(text.find("Request body of 2147483648 bytes refused (MaxRequestBody 100000)"), std::string::npos);
    EXPECT_NE(user_access().find("\"POST /lib HTTP/1.0\" 413 "), std::string::npos);
    // Only the request that fit ever reached the library.
    std::size_t runs = 0;
    for (auto pos = text.find("Running "); pos != std::string::npos; pos = text.find("Running ", pos + 1))
        ++runs;
    EXPECT_EQ(runs, 1u) << text;
    EXPECT_EQ(std::system(("test -z \"$(ls -A '" + m_tree.path("Temp") + "')\"").c_str()), 0);
}

TEST_F(UserServer, AtTheLimitTheOldestIdleConnectionMakesRoom)
{
    start_user("MaxConnections=8\n");
    Sockets idle;
    for (int i = 0; i < 8; ++i) {
        idle.fds.push_back(connect_to(m_tree.port()));
        ASSERT_GE(idle.fds.back(), 0);
    }
    ASSERT_TRUE(wait_user_log("[8] Connection accepted"));
    auto start = clock_type::now();
    EXPECT_EQ(get("/page.html").status, 200);
    EXPECT_LT(since(start).count(), 1000);
    // The first to come was the first to go; the others are still open.
    EXPECT_EQ(read_until_closed(idle.fds[0], std::chrono::seconds(2)), "");
    send_all(idle.fds[7], "GET /page.html HTTP/1.0\r\n\r\n");
    EXPECT_EQ(parse_response(read_until_closed(idle.fds[7])).body, "<p>page</p>");
    ASSERT_TRUE(wait_user_log("[1] Connection dropped: too many open connections"));

    // Clients that sent their request but hold back its body make room too,
    // the oldest first.
    Sockets bodies;
    for (int i = 0; i < 8; ++i) {
        bodies.fds.push_back(connect_to(m_tree.port()));
        ASSERT_GE(bodies.fds.back(), 0);
        send_all(bodies.fds.back(), "POST /lib HTTP/1.0\r\nContent-Length: 1000\r\n\r\nsome");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    start = clock_type::now();
    EXPECT_EQ(get("/page.html").status, 200) << user_log();
    EXPECT_LT(since(start).count(), 1000);
    EXPECT_EQ(read_until_closed(bodies.fds[0], std::chrono::seconds(2)), "");
}

TEST_F(WebServerTest, TheAdministrationServerRunsNoCgiWithoutCredentials)
{
    install(TEST_CGI_PROGRAM, "cgi-bin/t.cgi");
    install(TEST_CGI_LIBRARY, "Lib.so");
    m_tree.write("HTML/index.html", "static");
    start("CgiBase1=/lib\nCgiFile1=" + m_tree.path("Lib.so") + "\n");
    for (const char* path : {"/cgi-bin/t.cgi", "/lib", "/LIB/x"})
        EXPECT_EQ(get(path).status_line, "HTTP/1.0 403 Forbidden") << path;
    EXPECT_EQ(get("/index.html").body, "static");
    ASSERT_TRUE(wait_log("Refused to run " + m_tree.path("cgi-bin/t.cgi")));
    EXPECT_NE(log().find("Set Auth=-user:password in [AdminWebServer] of " + m_tree.path("Corvane.ini")),
              std::string::npos);
    EXPECT_EQ(log().find("Running "), std::string::npos);
}

TEST_F(WebServerTest, GuessingCredentialsIsSlowedPerAddress)
{
    m_tree.write("HTML/index.html", "secret page");
    start("Auth=-admin:right\n");
    std::string page = "GET /index.html HTTP/1.0\r\n";
    // The first failures are free: people mistype.
    for (int i = 0; i < 3; ++i) {
        auto start = clock_type::now();
        EXPECT_EQ(request(page + basic("admin:wrong") + "\r\n", "127.0.0.2").status, 401);
        EXPECT_LT(since(start).count(), 500);
    }
    // The fourth is answered, but the next check from that address waits.
    EXPECT_EQ(request(page + basic("admin:wrong") + "\r\n", "127.0.0.2").status, 401);
    auto start = clock_type::now();
    EXPECT_EQ(request(page + basic("ev\"il\x01 name:x") + "\r\n", "127.0.0.2").status, 401);
    EXPECT_GE(since(start).count(), 800);
    // Another address is not held up, and a browser asking for the prompt
    // (no credentials) is no guess.
    start = clock_type::now();
    EXPECT_EQ(request(page + basic("admin:right") + "\r\n", "127.0.0.3").body, "secret page");
    EXPECT_EQ(request(page + "\r\n", "127.0.0.2").status, 401);
    EXPECT_LT(since(start).count(), 500);

    ASSERT_TRUE(wait_log("Authentication failure for \"ev'il  name\" from 127.0.0.2"));
    std::string text = log();
    std::size_t lines = 0;
    for (auto pos = text.find("Authentication failure for \"admin\" from 127.0.0.2"); pos != std::string::npos;
         pos = text.find("Authentication failure for \"admin\" from 127.0.0.2", pos + 1))
        ++lines;
    EXPECT_EQ(lines, 4u);
    EXPECT_EQ(text.find("\" from 127.0.0.3"), std::string::npos);

    // The shipped fail2ban filter counts every one of them, and only them.
    if (fail2ban_installed()) {
        std::string output;
        auto found = fail2ban_addresses(CORVANE_SOURCE_DIR, m_tree.path("Logs/Larkd-admin.log"), output);
        ASSERT_TRUE(found) << output;
        EXPECT_EQ(*found, std::vector<std::string>(5, "127.0.0.2")) << output;
    }
}

TEST_F(UserServer, PasswordsNeverReachTheLogs)
{
    start_user();
    auto r = get("/lib?User=ann&Password=hunter2&NewPassword=hunter3&Pass1=hunter4&View=Main");
    EXPECT_EQ(r.status, 200);
    // The library still gets the query as sent.
    EXPECT_NE(r.body.find("Password=hunter2"), std::string::npos);
    ASSERT_TRUE(m_tree.wait_for("Logs/http-user.log", "View=Main"));
    std::string access = user_access();
    EXPECT_NE(access.find("\"GET /lib?User=ann&Password=****&NewPassword=****&Pass1=****&View=Main HTTP/1.0\" 200 "),
              std::string::npos)
        << access;
    EXPECT_EQ(access.find("hunter"), std::string::npos);
    ASSERT_TRUE(wait_user_log("Connection completed"));
    EXPECT_EQ(user_log().find("hunter"), std::string::npos);
}
