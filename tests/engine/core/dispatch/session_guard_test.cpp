// What guards a session and the logon through the real Main: the key
// cookie, header lines that requests cannot extend, hostile requests of
// every shape, the gate in front of account creation, StatusCheck and the
// draft of an ended session.
#include <gtest/gtest.h>

#include "common/ini/profile.h"
#include "tests/engine/core/dispatch/dispatch_fixture.h"

namespace corvane::dispatch::test {
namespace {

class SessionGuard : public EngineFixture {};

TEST_F(SessionGuard, ASessionIdWithoutItsKeyIsAnExpiredSession)
{
    start();
    add_user("alice", "secret");
    add_user("bob", "secret");
    Logon alice = logon("alice", "secret");
    Logon bob = logon("bob", "secret");
    ASSERT_FALSE(alice.key_cookie.empty());

    std::string key_value = alice.key_cookie.substr(alice.key_cookie.find('=') + 1);
    const std::string strangers[] = {
        "",                                                     // a copied URL
        "CorvaneKey_" + alice.id + "=" + std::string(32, '0'),  // a guessed key
        "CorvaneKey_" + alice.id + "=" + key_value.substr(1),   // a cut one
        "CorvaneKey_" + bob.id + "=" + key_value,               // under another session's name
        bob.key_cookie,                                         // another session's cookie
        "XCorvaneKey_" + alice.id + "=" + key_value,            // a name that only ends like it
    };
    for (const auto& cookie : strangers) {
        SCOPED_TRACE(cookie);
        auto response = get("Session=" + alice.id + "&View=List", cookie);
        EXPECT_NE(response.body.find(text_expired), std::string::npos);
        EXPECT_NE(response.body.find(logon_form), std::string::npos);
    }
    EXPECT_TRUE(host->log_contains("Session " + alice.id + " refused: the request does not carry the session's key"));
    EXPECT_FALSE(host->log_contains("Saving draft"));

    // The owner's session is untouched.
    auto owner = in_session(alice, "View=List", "User=alice; Lang=en");
    EXPECT_NE(owner.body.find(list_page), std::string::npos);
    EXPECT_NE(in_session(bob, "View=List").body.find(list_page), std::string::npos);
}

TEST_F(SessionGuard, RequestsCannotAddHeaderLines)
{
    start();
    add_user("bob;x", "secret");
    // A logon name with CR LF cannot be an account, so it sets no cookie at all.
    auto crlf = post("User=eve%0D%0AX-Evil:%201&Password=secret", "View=Main");
    EXPECT_EQ(crlf.header("X-Evil"), "");
    EXPECT_TRUE(cookie_lines(crlf).empty());

    Logon session = logon("bob%3Bx", "secret");
    ASSERT_FALSE(session.id.empty()) << session.response.body;
    auto cookies = cookie_lines(session.response);
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[0].substr(0, cookies[0].find(';')), "User=bobx");
    EXPECT_EQ(count_of(cookies[0], ";"), 2u) << cookies[0];
    for (const auto& line : session.response.headers)
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);

    // The User cookie shown back on the logon page is escaped.
    auto page = get("", "User=\"><script>x</script>");
    EXPECT_EQ(page.body.find("<script>"), std::string::npos);
    EXPECT_NE(page.body.find("value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""), std::string::npos);
}

TEST_F(SessionGuard, HostileRequestsGetAPageAndTheLogSaysWhy)
{
    start();
    add_user("alice", "secret");
    Logon session = logon("alice", "secret");
    ASSERT_FALSE(session.id.empty());

    std::string big(100 * 1024, 'A');
    struct Case {
        std::string query;
        std::string body;
        std::string cookie;
        const char* log;
    };
    const Case cases[] = {
        {"", "", "", nullptr},
        {"Session=&View=&User=&Password=&Lang=&FrameView=&Number=", "", "", "Bad logon attempt for user "},
        {"View=List&View=Main&Session=AAAAAAA&Session=BBBBBBB&Number=1&Number=2", "", "", "Session BBBBBBB not found"},
        {"Session=abcdefg&View=List", "", "", "Session \"abcdefg\" is not a session id"},
        {"Session=ABCDEF", "", "", "Session \"ABCDEF\" is not a session id"},
        {"Session=ABCDEFGH", "", "", "Session \"ABCDEFGH\" is not a session id"},
        {"Session=" + big, "", "", "is not a session id"},
        {"User=" + big + "&Password=" + big + "&View=" + big, "", "", "Bad logon attempt for user AAAA"},
        {"", "User=" + big + "&Lang=" + big + "&NewAccount=" + big, "", nullptr},
        {"View=%00%ff%0d%0a&User=%", "Password=%%%&&&==&", "", "Bad logon attempt for user "},
        {"", "", std::string(8 * 1024, ';') + "Lang=de" + std::string(100, 'x'), nullptr},
        {"Session=" + session.id + "&View=" + big, "", session.key_cookie + "; " + std::string(8 * 1024, 'c'),
         "doesn't exist"},
        {"Session=" + session.id + "&View=Message&Number=" + big + "&Folder=" + big + "&Move=1&Copy=1", "",
         session.key_cookie, "There is no folder AAAA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.substr(0, 80) + " | " + c.body.substr(0, 40) + " | " + c.cookie.substr(0, 20));
        EngineRequest request;
        request.query_string = c.query;
        request.body = c.body;
        request.cookie = c.cookie;
        auto response = host->request(request);
        EXPECT_EQ(response.main_result, 1);
        EXPECT_FALSE(response.timed_out);
        EXPECT_TRUE(response.header_complete);
        EXPECT_NE(response.body.find("</html>"), std::string::npos);
        if (c.log) {
            EXPECT_TRUE(host->log_contains(c.log));
        }
    }
    // A body that ends before its announced length, and one far above the limit.
    EngineRequest short_body;
    short_body.body = "User=alice";
    short_body.variables = {{"CONTENT_LENGTH", "500"}};
    EXPECT_TRUE(host->request(short_body).header_complete);
    EXPECT_TRUE(host->log_contains("Request body ended before its 500 bytes"));
    EngineRequest huge;
    huge.no_input = true;
    huge.variables = {{"CONTENT_LENGTH", "99999999999"}, {"CONTENT_TYPE", "application/x-www-form-urlencoded"}};
    EXPECT_TRUE(host->request(huge).header_complete);
    EXPECT_TRUE(host->log_contains("Request body of 99999999999 bytes is too large"));

    // The session survived all of it.
    EXPECT_NE(in_session(session, "View=List").body.find(list_page), std::string::npos);
}

TEST_F(SessionGuard, AccountCreationIsGated)
{
    start({{"AccountCreation", "Password", "-opensesame"}});
    // Start-up scrambled the administrator's plain text.
    std::string stored = host->setting("AccountCreation", "Password");
    EXPECT_FALSE(stored.empty());
    EXPECT_NE(stored[0], '-');

    auto wrong = post("NewAccount=Yes&Password=guess");
    EXPECT_NE(wrong.body.find("The account creation password is not correct."), std::string::npos);
    EXPECT_NE(wrong.body.find("Something went wrong"), std::string::npos);
    auto right = post("NewAccount=Yes&Password=opensesame");
    EXPECT_NE(right.body.find("name=\"ConfirmPass\""), std::string::npos) << right.body;

    // An administrator types a new plain password while the engine runs.
    host->set("AccountCreation", "Password", "-letmein");
    EXPECT_NE(post("NewAccount=Yes&Password=letmein").body.find("name=\"ConfirmPass\""), std::string::npos);
    EXPECT_NE(host->setting("AccountCreation", "Password")[0], '-');
    // A value that is not ours lets nobody in.
    host->set("AccountCreation", "Password", "C1notavalidvalue");
    EXPECT_NE(post("NewAccount=Yes&Password=").body.find("The account creation password is not correct."),
              std::string::npos);
    EXPECT_TRUE(host->log_contains("[AccountCreation] Password is not readable"));

    host->set("AccountCreation", "Enable", "No");
    auto disabled = post("NewAccount=Yes&Password=letmein");
    EXPECT_NE(disabled.body.find("Creating accounts is not enabled on this server."), std::string::npos);

    // The NewUser form itself creates nothing until account creation exists.
    auto form = post("User=mallory&Pass=x&ConfirmPass=x&Save=Yes", "View=NewUser");
    EXPECT_NE(form.body.find("name=\"ConfirmPass\""), std::string::npos);
    EXPECT_FALSE(platform::exists(host->users_dir() + "/mallory"));
    EXPECT_TRUE(host->log_contains("Not available yet: account creation"));
}

TEST_F(SessionGuard, StatusCheckAnswersInPlainText)
{
    start();
    add_user("alice", "secret");
    auto refused = get("View=StatusCheck&User=alice&Password=wrong");
    EXPECT_EQ(refused.header("Content-type"), "text/plain");
    EXPECT_EQ(refused.header("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(refused.body, "Invalid Login\n");

    // Without a session: a status-check session made and ended at once.
    // The four fixed folders of a new account, each empty.
    const std::string empty_folders = "4\nInbox\t0\t0\nDrafts\t0\t0\nSent\t0\t0\nTrash\t0\t0\n";
    auto counts = get("View=StatusCheck&User=alice&Password=secret");
    EXPECT_EQ(counts.body, empty_folders);
    EXPECT_TRUE(host->log_contains("StatusCheck session for alice from 127.0.0.1"));
    EXPECT_TRUE(host->log_contains("Session expired"));
    EXPECT_EQ(get("View=StatusCheck&User=alice&Password=secret").body, empty_folders) << "the first one ended";

    auto login = get("View=StatusCheck&User=alice&Password=secret&Login=1");
    ASSERT_EQ(login.body.rfind("Active Session: ", 0), 0u) << login.body;
    std::string id = login.body.substr(16, 7);
    EXPECT_EQ(login.body, "Active Session: " + id + "\n");
    EXPECT_TRUE(cookie_lines(login).empty());
    EXPECT_TRUE(host->log_contains("StatusCheck created session for alice from 127.0.0.1"));
    // The session stays, without a key, for the client to use.
    EXPECT_EQ(get("View=StatusCheck&User=alice&Password=secret").body, "Active Session: " + id + "\n");
    auto used = get("Session=" + id + "&View=List");
    EXPECT_NE(used.body.find("<iframe"), std::string::npos) << "its first request shows the frame set";
}

TEST_F(SessionGuard, DraftOfAnEndedSessionOnlyFromItsOwnBrowser)
{
    start();
    add_user("alice", "secret");
    Logon session = logon("alice", "secret");
    ASSERT_FALSE(session.id.empty());
    in_session(session, "View=Logout");

    std::string form = "View=Compose&ComposeUser=alice&Body=Dear+Bob&Session=" + session.id;
    auto stranger = post(form, "", "");
    EXPECT_NE(stranger.body.find(text_expired), std::string::npos);
    EXPECT_TRUE(
        host->log_contains("Draft for user alice not saved: the request does not come from that user's session"));
    EXPECT_FALSE(host->log_contains("Saving draft for user"));
    post("View=Compose&ComposeUser=bob&Body=Dear+Bob&Session=" + session.id, "", session.key_cookie);
    EXPECT_FALSE(host->log_contains("Saving draft for user"));
    // Cancelled or empty texts are not rescued at all.
    post(form + "&Cancel=1", "", session.key_cookie);
    post("View=Compose&ComposeUser=alice&Body=+%0D%0A&Session=" + session.id, "", session.key_cookie);
    EXPECT_FALSE(host->log_contains("Saving draft for user"));

    auto owner = post(form, "", session.key_cookie);
    EXPECT_NE(owner.body.find(text_expired), std::string::npos);
    EXPECT_TRUE(host->log_contains("Saving draft for user alice"));
}

}  // namespace
}  // namespace corvane::dispatch::test
