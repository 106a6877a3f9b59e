#include "webserver/server_config.h"

#include <gtest/gtest.h>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using namespace corvane::webserver;
namespace fs = corvane::platform;

TEST(ServerConfig, TheProgramNameChoosesTheServer)
{
    EXPECT_EQ(role_for_program("/opt/corvane/Corvane"), Role::user);
    EXPECT_EQ(role_for_program("corvane"), Role::user);
    EXPECT_EQ(role_for_program("/opt/corvane/Larkd"), Role::admin);
    EXPECT_EQ(role_for_program("Corvane.old"), Role::admin);
    EXPECT_EQ(role_for_program(""), Role::admin);
    EXPECT_EQ(identity_of(Role::admin).section, "AdminWebServer");
    EXPECT_EQ(identity_of(Role::user).section, "WebServer");
    // Both servers share LogDir: none of their files may be the same.
    const auto& a = identity_of(Role::admin);
    const auto& u = identity_of(Role::user);
    EXPECT_NE(a.server_log, u.server_log);
    EXPECT_NE(a.access_log, u.access_log);
    EXPECT_NE(a.pid_file, u.pid_file);
    EXPECT_NE(a.server_log, "Corvane.log");  // the engine's
    EXPECT_NE(u.server_log, "Corvane.log");
}

TEST(ServerConfig, AnEmptyFileIsFilledWithEveryDefault)
{
    corvane::testing::TempDir tmp;
    std::string ini = tmp / "Corvane.ini";
    ASSERT_TRUE(fs::write_file_atomic(ini, "").ok());
    ServerConfig config(ini, Role::admin);
    ASSERT_TRUE(config.write_back());

    corvane::ini::Profile p(ini);
    struct Want {
        const char* section;
        const char* key;
        const char* value;
    };
    const Want want[] = {
        {"General", "RunAsService", "Yes"},
        {"General", "LogLevel", "1"},
        {"General", "MaxLogFileSize", "5000"},
        {"Directories", "TempDir", "/opt/corvane/Temp"},
        {"Directories", "LogDir", "/opt/corvane/Logs"},
        {"Directories", "BaseDir", "/opt/corvane"},
        {"AdminWebServer", "Port", "2001"},
        {"AdminWebServer", "BindAddress", "127.0.0.1"},
        {"AdminWebServer", "HtmlDir", "/opt/corvane/HTML"},
        {"AdminWebServer", "DefHtmlFile", "index.html"},
        {"AdminWebServer", "CgiAlias", "/cgi-bin"},
        {"AdminWebServer", "CgiDir", "/opt/corvane/cgi-bin"},
        {"AdminWebServer", "Auth", ""},
        {"AdminWebServer", "LocalAuth", "No"},
    };
    for (const auto& w : want) {
        EXPECT_TRUE(p.has_key(w.section, w.key)) << w.section << "/" << w.key;
        EXPECT_EQ(p.text(w.section, w.key, "<missing>"), w.value) << w.section << "/" << w.key;
    }
    // The administration server names no CGI of its own.
    EXPECT_FALSE(p.has_key("AdminWebServer", "CgiBase1"));
    EXPECT_FALSE(p.has_key("AdminWebServer", "CgiFile1"));
}

TEST(ServerConfig, TheUserServerHostsTheEngineByDefault)
{
    corvane::testing::TempDir tmp;
    std::string ini = tmp / "Corvane.ini";
    ASSERT_TRUE(fs::write_file_atomic(ini, "[WebServer]\nHtmlDir=/srv/html\n").ok());
    ServerConfig config(ini, Role::user);
    EXPECT_EQ(config.port(), 2000);
    EXPECT_EQ(config.cgi_base1(), "/Corvane");
    ASSERT_TRUE(config.write_back());
    corvane::ini::Profile p(ini);
    EXPECT_EQ(p.text("WebServer", "Port", ""), "2000");
    EXPECT_EQ(p.text("WebServer", "BindAddress", ""), "0.0.0.0");
    EXPECT_EQ(p.text("WebServer", "HtmlDir", ""), "/srv/html");  // set values stay
    EXPECT_EQ(p.text("WebServer", "CgiBase1", ""), "/Corvane");
    EXPECT_EQ(p.text("WebServer", "CgiFile1", ""), "Corvane.so");
    // The CGI directory (the INI editor's home) stays with the admin server.
    EXPECT_TRUE(p.has_key("WebServer", "CgiAlias"));
    EXPECT_EQ(p.text("WebServer", "CgiAlias", "<missing>"), "");
    EXPECT_FALSE(p.has_key("AdminWebServer", "Port"));

    // An administrator who empties CgiFile1 switches the engine off for good.
    ASSERT_TRUE(p.write_text("WebServer", "CgiFile1", ""));
    ASSERT_TRUE(config.write_back());
    EXPECT_EQ(p.text("WebServer", "CgiFile1", "<missing>"), "");
}

TEST(ServerConfig, LimitsAndOddValues)
{
    corvane::testing::TempDir tmp;
    std::string ini = tmp / "Corvane.ini";
    std::string long_base(80, 'b');
    ASSERT_TRUE(fs::write_file_atomic(ini,
                                      "[General]\nRunAsService=true\n"
                                      "[AdminWebServer]\nDefHtmlFile=" +
                                          std::string(40, 'd') + "\nCgiBase1=/" + long_base +
                                          "\nConnectionTimeout=-3\nLocalAuth=on\n")
                    .ok());
    ServerConfig config(ini, Role::admin);
    EXPECT_TRUE(config.run_as_service());
    EXPECT_EQ(config.def_html_file().size(), max_def_html_file);
    EXPECT_EQ(config.cgi_base1().size(), max_cgi_base1);
    EXPECT_EQ(config.connection_timeout_seconds(), defaults::connection_timeout_seconds);
    EXPECT_FALSE(config.local_auth());  // only 1, T, Y count as yes
}
