// The logon flow through the real Main: logon pages and their messages,
// sessions, logout, the cookies and header lines of every answer.
#include <gtest/gtest.h>

#include "common/ini/profile.h"
#include "common/text/strings.h"
#include "tests/engine/core/dispatch/dispatch_fixture.h"

namespace corvane::dispatch::test {
namespace {

class LogonFlow : public EngineFixture {};

bool has_header(const EngineResponse& response, std::string_view line)
{
    for (const auto& h : response.headers) {
        if (h == line)
            return true;
    }
    return false;
}

void expect_engine_headers(const EngineResponse& response)
{
    EXPECT_TRUE(response.header_complete) << response.raw.substr(0, 300);
    EXPECT_TRUE(has_header(response, "X-Content-Type-Options: nosniff"));
    EXPECT_TRUE(has_header(response, "Referrer-Policy: no-referrer"));
    EXPECT_TRUE(has_header(response, "X-Frame-Options: SAMEORIGIN"));
    EXPECT_TRUE(has_header(response, "Cache-Control: no-store"));
}

TEST_F(LogonFlow, WithoutSessionOrUserTheLogonPageHasNoMessage)
{
    start();
    auto response = get("");
    expect_engine_headers(response);
    EXPECT_EQ(response.header("Content-type"), "text/html");
    EXPECT_EQ(response.header("Expires"), "0");
    EXPECT_EQ(response.header("Pragma"), "no-cache");
    EXPECT_TRUE(cookie_lines(response).empty());
    EXPECT_NE(response.body.find(logon_form), std::string::npos);
    EXPECT_NE(response.body.find(empty_status), std::string::npos) << response.body;
    EXPECT_FALSE(host->log_contains("Bad logon attempt"));
}

TEST_F(LogonFlow, RefusedLogonsSayWhy)
{
    start({{"LDAPAuth", "Host", ""}});
    add_user("alice", "secret");
    add_user("idle", "secret", "Active=No\n");
    ASSERT_TRUE(platform::make_directories(host->users_dir() + "/dirk"));
    ASSERT_TRUE(platform::write_file_atomic(host->users_dir() + "/dirk/User.ini", "[User]\nPassword=*\n"));

    struct Case {
        const char* user;
        const char* password;
        std::string_view message;
        const char* log;
    };
    const Case cases[] = {
        {"alice", "wrong", text_bad_logon, "Bad logon attempt for user alice"},
        {"nobody", "secret", text_bad_logon, "Bad logon attempt for user nobody"},
        {"alice", "", text_bad_logon, "Bad logon attempt for user alice"},
        {"idle", "secret", text_inactive, nullptr},
        {"dirk", "secret", text_directory, "LDAP logon of dirk"},
        // Names that would leave the users directory.
        {"..%2Falice", "secret", text_bad_logon, "The name ../alice cannot name an account"},
        {"a%2Fb", "secret", text_bad_logon, "Bad logon attempt for user a/b"},
        {".hidden", "secret", text_bad_logon, "The name .hidden cannot name an account"},
        {"x%01y", "secret", text_bad_logon, "Bad logon attempt for user x y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        auto response = post(std::string("User=") + c.user + "&Password=" + c.password, "View=Main");
        expect_engine_headers(response);
        EXPECT_TRUE(cookie_lines(response).empty());
        EXPECT_NE(response.body.find(c.message), std::string::npos);
        EXPECT_NE(response.body.find(logon_form), std::string::npos);
        if (c.log) {
            EXPECT_TRUE(host->log_contains(c.log)) << host->log_text();
        }
    }
    // Nothing was made outside the users directory, nor for the strangers.
    EXPECT_FALSE(platform::exists(host->root() + "/alice"));
    EXPECT_FALSE(platform::exists(host->users_dir() + "/nobody"));
    EXPECT_FALSE(platform::exists(host->users_dir() + "/.hidden"));
}

TEST_F(LogonFlow, LogonSessionLogoutAndTheOldId)
{
    start();
    add_user("alice", "secret");
    Logon session = logon("alice", "secret", "Options");
    const EngineResponse& response = session.response;
    expect_engine_headers(response);
    ASSERT_EQ(session.id.size(), 7u) << response.body;
    ASSERT_FALSE(session.key_cookie.empty());

    // The cookies come before the page's header; the frame set may be cached.
    auto cookies = cookie_lines(response);
    ASSERT_EQ(cookies.size(), 3u);
    std::regex year_cookie(R"(^(User=alice|Lang=en); Expires=\w{3}, \d\d-\w{3}-\d{4} \d\d:\d\d:\d\d GMT; path=/$)");
    EXPECT_TRUE(std::regex_match(cookies[0], year_cookie)) << cookies[0];
    EXPECT_TRUE(std::regex_match(cookies[1], year_cookie)) << cookies[1];
    EXPECT_EQ(cookies[0].substr(0, 11), "User=alice;");
    EXPECT_EQ(cookies[1].substr(0, 8), "Lang=en;");
    EXPECT_TRUE(std::regex_match(
        cookies[2], std::regex("^CorvaneKey_" + session.id + "=[0-9a-f]{32}; path=/; HttpOnly; SameSite=Strict$")))
        << cookies[2];
    EXPECT_EQ(response.headers.back(), "Content-type: text/html");
    EXPECT_EQ(response.header("Expires"), "");

    // The frame set, whatever view was asked; the asked view reaches its frame.
    EXPECT_NE(response.body.find("Session=" + session.id + "&amp;View=Options\""), std::string::npos) << response.body;
    EXPECT_NE(response.body.find("<strong>alice</strong>"), std::string::npos);
    EXPECT_TRUE(host->log_contains("Session created for alice from 127.0.0.1"));
    EXPECT_TRUE(host->log_contains("[" + session.id + "] BegRequest: View=10 View=Main"));

    // The session serves the next request; the first has made it a list session.
    auto list = in_session(session, "View=List");
    expect_engine_headers(list);
    EXPECT_NE(list.body.find(list_page), std::string::npos) << list.body;
    EXPECT_TRUE(cookie_lines(list).empty());
    EXPECT_TRUE(host->log_contains("EndRequest: View=3 Session=" + session.id + "&View=List"));
    // The user's statistics see the request.
    ini::Profile user_ini(host->users_dir() + "/alice/User.ini");
    EXPECT_FALSE(user_ini.text("Stats", "LastAccess", "").empty());
    EXPECT_NE(user_ini.text("User", "Password", "").substr(0, 1), "-") << "stored scrambled after the logon";

    auto logout = in_session(session, "View=Logout");
    expect_engine_headers(logout);
    EXPECT_NE(logout.body.find(text_logged_out), std::string::npos);
    EXPECT_TRUE(host->log_contains("User alice logging out"));
    auto removal = cookie_lines(logout);
    ASSERT_EQ(removal.size(), 1u);
    EXPECT_EQ(removal[0].substr(0, 30), "CorvaneKey_" + session.id + "=; Max-Age=0");

    auto after = in_session(session, "View=List");
    EXPECT_NE(after.body.find(text_expired), std::string::npos);
    EXPECT_NE(after.body.find(logon_form), std::string::npos);
}

TEST_F(LogonFlow, SecondLogonReplacesTheIdleFirstAndTheTableFills)
{
    start({{"Session", "Maximum", "1"}});
    add_user("alice", "secret");
    add_user("bob", "secret");
    Logon first = logon("alice", "secret");
    ASSERT_FALSE(first.id.empty());
    Logon second = logon("ALICE", "secret");
    ASSERT_FALSE(second.id.empty());
    EXPECT_NE(first.id, second.id);
    EXPECT_TRUE(host->log_contains("User ALICE already found, trying to kill old session (" + first.id + ")"));
    EXPECT_TRUE(host->log_contains("Old session killed for ALICE"));

    EXPECT_NE(in_session(first, "View=List").body.find(text_expired), std::string::npos);
    EXPECT_NE(in_session(second, "View=List").body.find(list_page), std::string::npos);

    Logon third = logon("bob", "secret");
    EXPECT_TRUE(third.id.empty());
    EXPECT_NE(third.response.body.find(text_too_many), std::string::npos);
    EXPECT_TRUE(cookie_lines(third.response).empty());
    EXPECT_TRUE(host->log_contains("Too many sessions to create one for bob."));
}

TEST_F(LogonFlow, LanguageFromCookieThenField)
{
    start();
    auto german = get("", "Lang=de; other=1");
    EXPECT_NE(german.body.find("<html lang=\"de\">"), std::string::npos);
    EXPECT_NE(german.body.find("Anmelden"), std::string::npos);
    auto french = get("Lang=fr", "Lang=de; other=1");
    EXPECT_NE(french.body.find("<html lang=\"fr\">"), std::string::npos);
    // A code that cannot be one is ignored, and the log says so.
    auto odd = get("Lang=%3Cx", "Lang=d\"");
    EXPECT_NE(odd.body.find("<html lang=\"en\">"), std::string::npos);
    EXPECT_TRUE(host->log_contains("Lang field \"<x\" is not a language code"));
    EXPECT_TRUE(host->log_contains("Lang cookie \"d\"\" is not a language code"));

    // After logon the user's own language wins.
    add_user("jean", "secret", "Lang=fr\n");
    Logon session = logon("jean", "secret");
    auto cookies = cookie_lines(session.response);
    ASSERT_GE(cookies.size(), 2u);
    EXPECT_EQ(cookies[1].substr(0, 8), "Lang=fr;");
    EXPECT_NE(session.response.body.find("<html lang=\"fr\">"), std::string::npos);
    EXPECT_NE(session.response.body.find("Se déconnecter"), std::string::npos);
}

TEST_F(LogonFlow, ViewNamesAndPagesWithoutTemplates)
{
    start();
    add_user("alice", "secret");
    Logon session = logon("alice", "secret");
    ASSERT_FALSE(session.id.empty());

    auto list = in_session(session, "View=list");
    EXPECT_NE(list.body.find(list_page), std::string::npos);
    EXPECT_TRUE(host->log_contains("BegRequest: View=3 Session=" + session.id + "&View=list"));

    auto unknown = in_session(session, "View=NoSuchPage");
    expect_engine_headers(unknown);
    EXPECT_NE(unknown.body.find("Something went wrong"), std::string::npos) << unknown.body;
    EXPECT_TRUE(host->log_contains("BegRequest: View=0"));
    EXPECT_TRUE(host->log_contains("ERROR! Template NoSuchPage (jsFrames/NoSuchPage.html) doesn't exist."));

    // Frames brings the frame set back; Options is sent without the no-cache lines.
    auto frames = in_session(session, "View=List&Frames=1");
    EXPECT_NE(frames.body.find("<iframe"), std::string::npos);
    auto options = in_session(session, "View=Options");
    EXPECT_EQ(options.header("Expires"), "");
    EXPECT_EQ(options.header("Content-type"), "text/html");

    // Hostile view names stay inside the template store and out of the log's lines.
    auto hostile = in_session(session, "View=..%2F..%2FCorvane.ini%0D%0AInjected");
    EXPECT_NE(hostile.body.find("Something went wrong"), std::string::npos);
    EXPECT_FALSE(host->log_contains("\nInjected"));
}

TEST_F(LogonFlow, LogoutWithoutALogoutPageShowsTheLogonPage)
{
    start();
    ASSERT_TRUE(platform::remove_file(host->templates_dir() + "/Logout.html"));
    host->shut_down();
    ASSERT_TRUE(host->start());
    add_user("alice", "secret");
    Logon session = logon("alice", "secret");
    auto logout = in_session(session, "View=Logout");
    EXPECT_NE(logout.body.find(logon_form), std::string::npos);
    EXPECT_NE(logout.body.find(text_logged_out), std::string::npos);
}

TEST_F(LogonFlow, WithoutAnyTemplateABarePageSaysWhy)
{
    start({}, false);
    ASSERT_TRUE(platform::write_file_atomic(host->templates_dir() + "/Languages.ini",
                                            "[en]\n056=This page cannot be shown because its template is missing.\n"));
    auto response = get("");
    expect_engine_headers(response);
    EXPECT_NE(response.body.find("This page cannot be shown because its template is missing."), std::string::npos)
        << response.raw;
    EXPECT_TRUE(host->log_contains("ERROR! Template Error (jsFrames/Error.html) doesn't exist."));
}

TEST_F(LogonFlow, StartUpWiresLanguagesTemplatesAndTheDirectoryLibrary)
{
    start();
    EXPECT_TRUE(host->log_contains("Verifying Languages.ini..."));
    EXPECT_FALSE(host->log_contains("Updating Languages.ini..."));
    EXPECT_FALSE(host->log_contains("needs translation"));
    EXPECT_TRUE(host->log_contains("Loading LDAP DLL (WLDAP32.DLL)..."));
    // libldap is installed with the project's dependencies.
    EXPECT_FALSE(host->log_contains("Could not load LDAP DLL!")) << host->log_text();
    EXPECT_TRUE(host->log_contains("LDAP client library"));
}

}  // namespace
}  // namespace corvane::dispatch::test
