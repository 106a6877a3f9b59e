// Start-up, the tick, stopping, the two roles of the program, daemon mode.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "common/ini/profile.h"
#include "tests/webserver/server_fixture.h"

using namespace corvane::testing;

namespace {

int exit_code(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - status;
}

}  // namespace

TEST_F(WebServerTest, StartAndStop)
{
    m_tree.write("Temp/CGIleftover", "from a crash");
    m_tree.write("Temp/ABCDEFG/.body.txt", "a session's compose files");
    m_tree.write("HTML/index.html", "x");
    start();
    EXPECT_FALSE(m_tree.exists("Temp/CGIleftover"));
    // Session directories are the engine's; the other server may be using them.
    EXPECT_TRUE(m_tree.exists("Temp/ABCDEFG/.body.txt"));
    EXPECT_EQ(m_tree.read("Logs/Larkd.pid"), std::to_string(m_server.pid()) + "\n");

    // Settings the tree did not give are written back with their defaults.
    corvane::ini::Profile ini(m_tree.path("Corvane.ini"));
    EXPECT_EQ(ini.text("General", "MaxLogFileSize", ""), "5000");
    EXPECT_EQ(ini.text("AdminWebServer", "CgiAlias", ""), "/cgi-bin");
    EXPECT_EQ(ini.text("AdminWebServer", "DefHtmlFile", ""), "index.html");
    EXPECT_EQ(ini.text("AdminWebServer", "LocalAuth", ""), "No");
    EXPECT_TRUE(ini.has_key("AdminWebServer", "Auth"));

    EXPECT_EQ(get("/").status, 200);
    EXPECT_EQ(exit_code(m_server.stop()), 0);
    EXPECT_FALSE(m_tree.exists("Logs/Larkd.pid"));
    std::string text = log();
    EXPECT_EQ(text.find("----- Corvane Pro Admin Server 2.0.1 Log file starting -----\r\n"), 26u);
    std::size_t at = 0;
    for (std::string step :
         {std::string("Larkd initializing..."),
          "Attempting to listen on 127.0.0.1, port " + std::to_string(m_tree.port()) + "...",
          std::string("Loading CGIs..."), std::string("Initializing timer..."),
          std::string("Could not load MimeTypes.cfg."), std::string("[1] Connection completed successfully"),
          std::string("Larkd received shutdown notice."), std::string("Closing listen socket..."),
          std::string("Larkd exiting."), std::string("----- Corvane Pro Admin Server 2.0.1 Log file stopping -----")}) {
        auto pos = text.find(step, at);
        ASSERT_NE(pos, std::string::npos) << "missing or out of order: " << step << "\n" << text;
        at = pos;
    }
}

TEST_F(WebServerTest, AStopWaitsForTheConnectionBeingServed)
{
    install(TEST_CGI_LIBRARY, "Lib.so");
    start("Auth=-admin:pw\nCgiBase1=/lib\nCgiFile1=" + m_tree.path("Lib.so") + "\n");
    int fd = connect_to(m_tree.port());
    ASSERT_GE(fd, 0);
    send_all(fd, "GET /lib?sleep=1500&big=5000 HTTP/1.0\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::kill(m_server.pid(), SIGTERM), 0);
    auto r = parse_response(read_until_closed(fd));
    ::close(fd);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.size(), 5000u);
    EXPECT_EQ(exit_code(m_server.wait_exit()), 0);
    std::string text = log();
    auto served = text.find("[1] Connection completed successfully");
    auto notice = text.find("Larkd received shutdown notice.");
    ASSERT_NE(served, std::string::npos);
    ASSERT_NE(notice, std::string::npos);
    EXPECT_LT(served, notice);
    EXPECT_NE(access_log().find("\"GET /lib?sleep=1500&big=5000 HTTP/1.0\" 200 "), std::string::npos);
    EXPECT_EQ(m_tree.read("cgi-trace.txt"), "StartUp Lib.so\nShutDown Lib.so\n");
}

TEST_F(WebServerTest, TheAccessLogMovesAsideWithinATick)
{
    m_tree.write("HTML/index.html", "x");
    m_tree.write("Logs/http-admin.old", "an older generation\n");
    start("", "");
    corvane::ini::Profile ini(m_tree.path("Corvane.ini"));
    ASSERT_TRUE(ini.write_text("General", "MaxLogFileSize", "1"));  // re-read on every tick
    std::string filler(200, 'f');
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(get("/index.html?" + filler).status, 200);
    ASSERT_TRUE(m_tree.wait_for("Logs/http-admin.old", "GET /index.html?", std::chrono::seconds(8)));
    EXPECT_EQ(m_tree.read("Logs/http-admin.old").find("an older generation"), std::string::npos);
    // The server log went past 1 KB too and began afresh.
    ASSERT_TRUE(m_tree.wait_for("Logs/Larkd-admin.old", "Log file too large", std::chrono::seconds(8)));
    EXPECT_EQ(get("/index.html?after").status, 200);
    ASSERT_TRUE(wait_access("GET /index.html?after"));
    EXPECT_EQ(access_log().find(filler), std::string::npos);
}

TEST_F(WebServerTest, StartFailures)
{
    // No configuration file.
    ServerProcess missing;
    EXPECT_FALSE(missing.start(LARKD_PATH, m_tree.path("nowhere/Corvane.ini"), ""));
    EXPECT_EQ(exit_code(missing.wait_exit()), 255);
    EXPECT_EQ(missing.stderr_text(),
              "Could not find configuration file!  \n" + m_tree.path("nowhere/Corvane.ini") + "  \n");

    // An address that does not read is not "everywhere".
    m_tree.write_ini();
    ASSERT_TRUE(
        corvane::ini::Profile(m_tree.path("Corvane.ini")).write_text("AdminWebServer", "BindAddress", "localhost"));
    ServerProcess bad_address;
    EXPECT_FALSE(bad_address.start(LARKD_PATH, m_tree.path("Corvane.ini"), m_tree.path("Logs")));
    EXPECT_EQ(exit_code(bad_address.wait_exit()), 1);
    EXPECT_NE(log().find("Socket could not listen, error code 22"), std::string::npos);

    // A port that is taken.
    m_tree.write_ini();
    ServerProcess first, second;
    ASSERT_TRUE(first.start(LARKD_PATH, m_tree.path("Corvane.ini"), m_tree.path("Logs")));
    ::unlink(m_tree.path("Logs/Larkd.pid").c_str());
    EXPECT_FALSE(second.start(LARKD_PATH, m_tree.path("Corvane.ini"), m_tree.path("Logs")));
    EXPECT_EQ(exit_code(second.wait_exit()), 1);
    EXPECT_NE(log().find("Socket could not listen, error code 98"), std::string::npos);
    EXPECT_EQ(exit_code(first.stop()), 0);

    // Arguments the program does not know.
    ServerProcess usage;
    EXPECT_FALSE(usage.start(LARKD_PATH, m_tree.path("Corvane.ini"), "", {"--bogus"}));
    EXPECT_EQ(exit_code(usage.wait_exit()), 2);
    ServerProcess version;
    EXPECT_FALSE(version.start(LARKD_PATH, "", "", {"--version"}));
    EXPECT_EQ(exit_code(version.wait_exit()), 0);
    EXPECT_EQ(version.stderr_text(), "Larkd 2.0.1\n");
}

TEST_F(WebServerTest, StartedAsCorvaneItServesTheUsers)
{
    // A copy of the program with the link and an engine stand-in beside it,
    // so that the defaults "/Corvane" -> Corvane.so apply.
    install(LARKD_PATH, "Larkd");
    ASSERT_EQ(::symlink("Larkd", m_tree.path("Corvane").c_str()), 0);
    install(TEST_CGI_LIBRARY, "Corvane.so");
    install(TEST_CGI_PROGRAM, "cgi-bin/t.cgi");
    m_tree.write("Corvane.ini", "[General]\nRunAsService=No\n[Directories]\nTempDir=" + m_tree.path("Temp") +
                                    "\nLogDir=" + m_tree.path("Logs") + "\nBaseDir=" + m_tree.root() +
                                    "\n[WebServer]\nPort=" + std::to_string(m_tree.port()) +
                                    "\nBindAddress=127.0.0.1\nHtmlDir=" + m_tree.path("HTML") +
                                    "\nCgiDir=" + m_tree.path("cgi-bin") + "\n");
    // No CORVANE_INI: the file beside the program is found.
    ASSERT_TRUE(m_server.start(m_tree.path("Corvane"), "", m_tree.path("Logs"), {}, "Corvane.pid"))
        << m_server.stderr_text();
    auto r = get("/");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("SCRIPT_NAME=/Corvane\n"), std::string::npos) << r.raw;
    // No CGI directory on the server that faces the users.
    EXPECT_EQ(get("/cgi-bin/t.cgi").status, 404);
    EXPECT_EQ(exit_code(m_server.stop()), 0);

    corvane::ini::Profile ini(m_tree.path("Corvane.ini"));
    EXPECT_EQ(ini.text("WebServer", "CgiBase1", ""), "/Corvane");
    EXPECT_EQ(ini.text("WebServer", "CgiFile1", ""), "Corvane.so");
    EXPECT_FALSE(ini.has_key("AdminWebServer", "Port"));
    EXPECT_NE(m_tree.read("Logs/Larkd-user.log").find("----- Corvane Pro Server 2.0.1 Log file starting -----"),
              std::string::npos);
    EXPECT_NE(m_tree.read("Logs/http-user.log").find("\"GET / HTTP/1.0\" 200 "), std::string::npos);
    EXPECT_FALSE(m_tree.exists("Logs/Larkd-admin.log"));
    EXPECT_EQ(m_tree.read("cgi-trace.txt"), "StartUp Corvane.so\nShutDown Corvane.so\n");
}

TEST_F(WebServerTest, RunningAsADaemon)
{
    m_tree.write("HTML/index.html", "daemon");
    m_tree.write_ini();
    corvane::ini::Profile ini(m_tree.path("Corvane.ini"));
    ASSERT_TRUE(ini.write_text("General", "RunAsService", "Yes"));
    ServerProcess starter;
    EXPECT_FALSE(starter.start(LARKD_PATH, m_tree.path("Corvane.ini"), ""));
    EXPECT_EQ(exit_code(starter.wait_exit()), 0);  // returns once the daemon is serving
    std::string pid_text = m_tree.read("Logs/Larkd.pid");
    pid_t daemon = std::atoi(pid_text.c_str());
    ASSERT_GT(daemon, 0);
    // Whatever happens below, the daemon does not outlive the test.
    std::unique_ptr<void, std::function<void(void*)>> reaper(reinterpret_cast<void*>(1), [daemon](void*) {
        if (::kill(daemon, 0) == 0)
            ::kill(daemon, SIGKILL);
    });
    EXPECT_EQ(::kill(daemon, 0), 0);
    EXPECT_EQ(get("/").body, "daemon");
    ASSERT_EQ(::kill(daemon, SIGTERM), 0);
    for (int i = 0; i < 500 && ::kill(daemon, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(::kill(daemon, 0), 0);
    EXPECT_FALSE(m_tree.exists("Logs/Larkd.pid"));

    // A daemon that cannot start says so through the process that started it.
    ASSERT_TRUE(ini.write_text("AdminWebServer", "BindAddress", "not-an-address"));
    ServerProcess failing;
    EXPECT_FALSE(failing.start(LARKD_PATH, m_tree.path("Corvane.ini"), ""));
    EXPECT_EQ(exit_code(failing.wait_exit()), 1);
    EXPECT_NE(failing.stderr_text().find("Larkd could not start"), std::string::npos);
}

TEST_F(WebServerTest, RemovingTheInstalledUnit)
{
    m_tree.write_ini();
    m_tree.write("units/corvane-admin.service", "[Unit]\n");
    ::setenv("CORVANE_SYSTEMD_DIR", m_tree.path("units").c_str(), 1);
    ServerProcess remove;
    EXPECT_FALSE(remove.start(LARKD_PATH, m_tree.path("Corvane.ini"), "", {"-u"}));
    EXPECT_EQ(exit_code(remove.wait_exit()), 0);
    EXPECT_FALSE(m_tree.exists("units/corvane-admin.service"));
    EXPECT_NE(remove.stderr_text().find("Removed " + m_tree.path("units/corvane-admin.service")), std::string::npos);
    ServerProcess again;
    EXPECT_FALSE(again.start(LARKD_PATH, m_tree.path("Corvane.ini"), "", {"-U"}));
    EXPECT_EQ(exit_code(again.wait_exit()), 0);
    EXPECT_NE(again.stderr_text().find("corvane-admin.service is not installed"), std::string::npos);
    ::unsetenv("CORVANE_SYSTEMD_DIR");
}
