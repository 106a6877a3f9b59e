// CGI libraries and programs through the running server.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "common/text/base64.h"
#include "tests/webserver/server_fixture.h"

using namespace corvane::testing;

namespace {

class CgiTest : public WebServerTest {
protected:
    // The test library as <tree>/Lib.so at /lib, the test program as
    // cgi-bin/t.cgi and as the configured program /prog. The administration
    // server runs CGIs only with credentials configured; local clients pass
    // them while LocalAuth is No.
    void start_with_cgis(const std::string& extra = "", const std::string& auth = "Auth=-admin:pw\n")
    {
        install(TEST_CGI_LIBRARY, "Lib.so");
        install(TEST_CGI_PROGRAM, "cgi-bin/t.cgi");
        install(TEST_CGI_PROGRAM, "prog.cgi");
        m_tree.write("HTML/index.html", "static index");
        start(auth + "CgiBase1=/lib\nCgiFile1=" + m_tree.path("Lib.so") +
              "\nCgiBase2=/prog\nCgiFile2=" + m_tree.path("prog.cgi") + "\n" + extra);
    }
    // The NAME=value lines of the test CGI's default answer.
    static std::string var(const HttpResponse& r, const std::string& name)
    {
        auto pos = r.body.find(name + "=");
        if (pos == std::string::npos || (pos > 0 && r.body[pos - 1] != '\n'))
            return "<absent>";
        auto end = r.body.find('\n', pos);
        return r.body.substr(pos + name.size() + 1, end - pos - name.size() - 1);
    }
};

}  // namespace

TEST_F(CgiTest, LibraryRequestsAndTheirEnvironment)
{
    start_with_cgis();
    // "/" stands for CgiBase1.
    auto root = get("/");
    EXPECT_EQ(var(root, "SCRIPT_NAME"), "/lib");
    EXPECT_EQ(var(root, "INPUT"), "none");  // a GET passes no body

    auto r = request(
        "GET /lib/one/two?x=1&y=%20 HTTP/1.0\r\nUser-Agent: Agent/2\r\nCookie: User=jsmith\r\n"
        "Content-Length: 3\r\n\r\n");
    EXPECT_EQ(r.status_line, "HTTP/1.0 200 OK");
    EXPECT_EQ(r.headers.at(0), "Server: Larkd/2.0.1");
    EXPECT_EQ(r.headers.at(1).rfind("Date: ", 0), 0u);
    EXPECT_EQ(r.headers.at(2), "Connection: close");
    EXPECT_EQ(r.headers.at(3), "Content-Type: text/plain");  // the CGI's own line follows directly
    EXPECT_EQ(var(r, "SCRIPT_NAME"), "/lib/one/two");
    EXPECT_EQ(var(r, "PATH_INFO"), "/one/two");
    EXPECT_EQ(var(r, "QUERY_STRING"), "x=1&y=%20");
    EXPECT_EQ(var(r, "REQUEST_METHOD"), "GET");
    EXPECT_EQ(var(r, "REMOTE_ADDR"), "127.0.0.1");
    EXPECT_EQ(var(r, "SERVER_NAME"), "127.0.0.1");
    EXPECT_EQ(var(r, "SERVER_PORT"), std::to_string(m_tree.port()));
    EXPECT_EQ(var(r, "HTTP_USER_AGENT"), "Agent/2");
    EXPECT_EQ(var(r, "HTTP_COOKIE"), "User=jsmith");
    EXPECT_EQ(var(r, "CONTENT_TYPE"), "<absent>");
    EXPECT_EQ(var(r, "INPUT"), "none");
    EXPECT_EQ(var(r, "HTTP_ORIGIN"), "<absent>");

    // What tells the engine which site sent a form.
    auto site = request(
        "POST /lib HTTP/1.0\r\nHost: mail.example:2000\r\nOrigin: https://evil.example\r\n"
        "Referer: https://evil.example/x?a=b\r\nSec-Fetch-Site: cross-site\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(var(site, "HTTP_HOST"), "mail.example:2000");
    EXPECT_EQ(var(site, "HTTP_ORIGIN"), "https://evil.example");
    EXPECT_EQ(var(site, "HTTP_REFERER"), "https://evil.example/x?a=b");
    EXPECT_EQ(var(site, "HTTP_SEC_FETCH_SITE"), "cross-site");

    // The base word continued with letters is not the CGI.
    EXPECT_EQ(get("/library").status, 404);
    EXPECT_EQ(var(get("/LIB"), "SCRIPT_NAME"), "/LIB");

    // A Status line cannot change the status line.
    auto status = get("/lib?status");
    EXPECT_EQ(status.status_line, "HTTP/1.0 200 OK");
    EXPECT_EQ(status.headers.at(3), "Status: 404 Not Found");

    // Output of any size arrives whole.
    auto big = get("/lib?big=300000");
    EXPECT_EQ(big.body.size(), 300000u);
    EXPECT_EQ(big.body.substr(0, 3), "abc");
    ASSERT_TRUE(wait_access("\"GET /lib?big=300000 HTTP/1.0\" 200 " + std::to_string(300000 + 28)));

    std::string text = log();
    EXPECT_NE(text.find("Loading CGIs..."), std::string::npos);
    EXPECT_NE(text.find(m_tree.path("Lib.so") + " loaded successfully"), std::string::npos);
    EXPECT_NE(text.find("Telling CGI DLLs to start up..."), std::string::npos);
    EXPECT_NE(text.find("Running " + m_tree.path("Lib.so")), std::string::npos);

    EXPECT_EQ(m_server.stop(), 0);
    EXPECT_EQ(m_tree.read("cgi-trace.txt"), "StartUp Lib.so\nShutDown Lib.so\n");
    EXPECT_NE(log().find("Telling CGI DLLs to shut down..."), std::string::npos);
}

TEST_F(CgiTest, PostBodies)
{
    start_with_cgis();
    // The whole body arrives with the header block.
    auto r = request(
        "POST /lib HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\n\r\n"
        "a=b&c");
    EXPECT_EQ(var(r, "CONTENT_TYPE"), "application/x-www-form-urlencoded");
    EXPECT_EQ(var(r, "CONTENT_LENGTH"), "5");
    EXPECT_EQ(var(r, "INPUT"), "5");
    EXPECT_EQ(var(r, "BODY"), "a=b&c");

    // Without Content-Type: neither variable, whatever the length says.
    auto bare = request("POST /lib HTTP/1.0\r\nContent-Length: 3\r\n\r\nxyzEXTRA");
    EXPECT_EQ(var(bare, "CONTENT_TYPE"), "<absent>");
    EXPECT_EQ(var(bare, "CONTENT_LENGTH"), "<absent>");
    EXPECT_EQ(var(bare, "BODY"), "xyz");  // at most Content-Length bytes

    // No Content-Length: an empty body file.
    EXPECT_EQ(var(request("POST /lib HTTP/1.0\r\n\r\n"), "INPUT"), "0");

    // 2 MB of every byte value reaches a program byte for byte.
    std::string body(2 * 1024 * 1024, '\0');
    std::mt19937 random(42);
    for (auto& c : body)
        c = static_cast<char>(random());
    auto echo = request(
        "POST /cgi-bin/t.cgi?echo HTTP/1.0\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(echo.status, 200);
    EXPECT_EQ(echo.body.size(), body.size());
    EXPECT_TRUE(echo.body == body);

    // The same through a library, arriving in pieces.
    int fd = connect_to(m_tree.port());
    ASSERT_GE(fd, 0);
    send_all(fd, "POST /lib?echo HTTP/1.0\r\nContent-Length: 10000\r\n\r\n" + body.substr(0, 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    send_all(fd, body.substr(100, 9900));
    auto pieces = parse_response(read_until_closed(fd));
    ::close(fd);
    EXPECT_TRUE(pieces.body == body.substr(0, 10000));

    // No body file stays behind.
    EXPECT_EQ(std::system(("test -z \"$(ls -A '" + m_tree.path("Temp") + "')\"").c_str()), 0);
}

TEST_F(CgiTest, ProgramsInTheCgiDirectory)
{
    start_with_cgis();
    auto r = get("/cgi-bin/t.cgi/extra/path?q");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(var(r, "SCRIPT_NAME"), "/cgi-bin/t.cgi");
    EXPECT_EQ(var(r, "PATH_INFO"), "/extra/path");
    EXPECT_EQ(var(r, "CWD"), m_tree.path("cgi-bin"));
    EXPECT_EQ(var(get("/CGI-BIN/t.cgi"), "SCRIPT_NAME"), "/CGI-BIN/t.cgi");  // the alias in any case

    EXPECT_EQ(get("/cgi-bin/").status, 404);
    EXPECT_EQ(get("/cgi-bin/missing.cgi").status, 404);
    EXPECT_EQ(get("/cgi-binx/t.cgi").status, 404);

    // A configured program: PATH_INFO after its base, 404 once the file is gone.
    EXPECT_EQ(var(get("/prog/a"), "PATH_INFO"), "/a");
    ASSERT_EQ(::unlink(m_tree.path("prog.cgi").c_str()), 0);
    EXPECT_EQ(get("/prog/a").status, 404);
}

TEST_F(CgiTest, AProgramThatCannotStartLeavesNothingOpen)
{
    start_with_cgis();
    m_tree.write("cgi-bin/plain.cgi", "not executable", 0644);
    // Counted while the server is idle: a program's answer can end a moment
    // before the program itself is collected, so wait for a steady count.
    auto idle_descriptors = [this] {
        int last = -1;
        for (int i = 0; i < 40; ++i) {
            int now = m_server.open_descriptors();
            if (now == last)
                return now;
            last = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return last;
    };
    EXPECT_EQ(get("/cgi-bin/t.cgi").status, 200);
    EXPECT_EQ(get("/index.html?before").status, 200);
    ASSERT_TRUE(wait_access("/index.html?before"));
    int before = idle_descriptors();

    auto r = request("POST /cgi-bin/plain.cgi HTTP/1.0\r\nContent-Length: 2\r\n\r\nab");
    EXPECT_EQ(r.status_line, "HTTP/1.0 500 Internal Server Error");
    EXPECT_EQ(get("/cgi-bin/t.cgi").status, 200);
    EXPECT_EQ(get("/index.html?after").status, 200);
    ASSERT_TRUE(wait_access("/index.html?after"));
    EXPECT_NE(access_log().find("\"POST /cgi-bin/plain.cgi HTTP/1.0\" 500 "), std::string::npos);
    EXPECT_EQ(idle_descriptors(), before);
    EXPECT_NE(log().find("Could not run " + m_tree.path("cgi-bin/plain.cgi")), std::string::npos);
}

TEST_F(CgiTest, SlowAndVanishingParties)
{
    start_with_cgis("ConnectionTimeout=1\n");
    // A client that leaves in the middle of a response.
    int fd = connect_to(m_tree.port());
    ASSERT_GE(fd, 0);
    send_all(fd, "GET /lib?slow=30 HTTP/1.0\r\n\r\n");
    char first[512];
    ASSERT_GT(::recv(fd, first, sizeof first, 0), 0);
    ::close(fd);
    EXPECT_EQ(get("/").status, 200);

    // A program that never answers is ended after the idle time; its
    // status line waits for its first bytes, which never come.
    int hang = connect_to(m_tree.port());
    ASSERT_GE(hang, 0);
    send_all(hang, "GET /cgi-bin/t.cgi?hang HTTP/1.0\r\n\r\n");
    EXPECT_EQ(read_until_closed(hang, std::chrono::seconds(15)), "");
    ::close(hang);
    EXPECT_EQ(get("/").status, 200);

    // A POST that promises more than it sends never reaches its CGI.
    int promise = connect_to(m_tree.port());
    ASSERT_GE(promise, 0);
    send_all(promise, "POST /lib?never HTTP/1.0\r\nContent-Length: 100\r\n\r\nonly this");
    EXPECT_EQ(read_until_closed(promise, std::chrono::seconds(15)), "");
    ::close(promise);
    EXPECT_EQ(get("/").status, 200);

    ASSERT_TRUE(wait_log("[6] Connection completed"));
    std::string text = log();
    EXPECT_NE(text.find("[1] Connection closed unexpectedly"), std::string::npos);
    EXPECT_NE(text.find("[1] Flushing CGI pipe"), std::string::npos);
    EXPECT_NE(text.find("[3] Connection timed out"), std::string::npos);
    EXPECT_NE(text.find("[5] Connection timed out"), std::string::npos);
    EXPECT_EQ(text.find("[5] Running"), std::string::npos);
}

TEST_F(CgiTest, CgiCredentials)
{
    start_with_cgis("CgiAuth1=-cgi:pw\n", "");
    EXPECT_EQ(get("/lib", "127.0.0.2").status, 401);
    EXPECT_EQ(get("/index.html", "127.0.0.2").status, 200);  // only the CGI asks
    EXPECT_EQ(get("/lib").status, 200);                      // local clients pass
    auto ok =
        request("GET /lib HTTP/1.0\r\nAuthorization: Basic " + corvane::text::base64_encode("CGI:pw") + "\r\n\r\n",
                "127.0.0.2");
    EXPECT_EQ(ok.status, 200);
    ASSERT_TRUE(wait_log("CGI authentication failed"));
    EXPECT_EQ(m_tree.read("Corvane.ini").find("cgi:pw"), std::string::npos);
}

TEST_F(CgiTest, ALibraryThatRefusesToStartStopsTheServer)
{
    for (const char* name : {"A.so", "B.so", "C.so"})
        install(TEST_CGI_LIBRARY, name);
    m_tree.write("C.so.refuse", "");
    m_tree.write("noext", "");
    m_tree.write("other.txt", "");
    m_tree.write_ini("AdminWebServer", "CgiBase1=/a\nCgiFile1=" + m_tree.path("A.so") + "\nCgiBase2=/n\nCgiFile2=" +
                                           m_tree.path("noext") + "\nCgiBase3=/b\nCgiFile3=" + m_tree.path("B.so") +
                                           "\nCgiBase4=/o\nCgiFile4=" + m_tree.path("other.txt") +
                                           "\nCgiBase5=/c\nCgiFile5=" + m_tree.path("C.so") + "\n");
    EXPECT_FALSE(m_server.start(LARKD_PATH, m_tree.path("Corvane.ini"), m_tree.path("Logs")));
    int status = m_server.wait_exit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(m_tree.read("cgi-trace.txt"), "StartUp A.so\nStartUp B.so\nStartUp C.so\nShutDown A.so\nShutDown B.so\n");
    std::string text = log();
    EXPECT_NE(text.find(m_tree.path("C.so") + " could not start up"), std::string::npos);
    EXPECT_NE(text.find("Don't know what to do with " + m_tree.path("other.txt")), std::string::npos);
    EXPECT_EQ(text.find("noext"), std::string::npos);
    EXPECT_NE(text.find("Larkd exiting."), std::string::npos);
    EXPECT_NE(m_server.stderr_text().find("Larkd could not start; see " + m_tree.path("Logs/Larkd-admin.log")),
              std::string::npos);
}
