// What the engine refuses or keeps to itself, through the real Corvane.so:
// forms and logons sent by other sites, StatusCheck logons that would pile
// up sessions, secrets in the log's request lines, and account files that
// others could read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "common/platform/files.h"
#include "tests/engine/core/dispatch/dispatch_fixture.h"

namespace corvane::dispatch::test {
namespace {

constexpr std::string_view text_cross_site = "This request came from another web site and was refused.";

class RequestGuard : public EngineFixture {};

TEST_F(RequestGuard, FormsAndLogonsFromAnotherSiteAreRefused)
{
    start();
    add_user("alice", "secret");

    struct Case {
        const char* name;
        const char* method;
        const char* query;  // the logon goes in the body of a POST, else in the query
        const char* host;
        const char* origin;
        const char* referer;
        const char* fetch_site;
        bool refused;
    };
    const char* logon_body = "User=alice&Password=secret";
    const Case cases[] = {
        {"origin elsewhere", "POST", "", "mail.example", "https://evil.example", "", "", true},
        {"same origin", "POST", "", "mail.example:2000", "http://mail.example:2000", "", "", false},
        {"case and port differ", "POST", "", "Mail.Example", "https://MAIL.example:8443", "", "", false},
        {"a look-alike host", "POST", "", "mail.example", "https://mail.example.evil.example", "", "", true},
        {"null origin, referer elsewhere", "POST", "", "mail.example", "null", "https://evil.example/a", "", true},
        {"null origin, no referer", "POST", "", "mail.example", "null", "", "", false},
        {"referer here", "POST", "", "mail.example", "", "https://mail.example/Corvane?View=Logon", "", false},
        {"our host in the referer's query", "POST", "", "mail.example", "",
         "https://evil.example/?https://mail.example/", "", true},
        {"browser says cross-site", "POST", "", "mail.example", "", "", "cross-site", true},
        {"browser says same-origin", "POST", "", "mail.example", "", "", "same-origin", false},
        {"behind a proxy that rewrites Host", "POST", "", "127.0.0.1:2000", "https://mail.example", "", "same-origin",
         false},
        {"a neighbouring host", "POST", "", "mail.example", "https://evil.example", "", "same-site", true},
        {"IPv6 host", "POST", "", "[::1]:2000", "http://[::1]:2000", "", "", false},
        {"IPv6 elsewhere", "POST", "", "[::1]:2000", "http://[::2]:2000", "", "", true},
        {"no Host to compare", "POST", "", "", "https://evil.example", "", "", false},
        {"a client without these headers", "POST", "", "", "", "", "", false},
        {"logon by GET from a link elsewhere", "GET", "User=alice&Password=secret&View=Main", "mail.example", "",
         "https://evil.example/", "", true},
        {"our logon page linked from elsewhere", "GET", "View=Logon", "mail.example", "", "https://evil.example/", "",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineRequest request;
        request.method = c.method;
        if (std::string_view(c.method) == "POST")
            request.body = logon_body;
        request.query_string = c.query;
        for (auto [name, value] :
             {std::pair{"HTTP_HOST", c.host}, std::pair{"HTTP_ORIGIN", c.origin}, std::pair{"HTTP_REFERER", c.referer},
              std::pair{"HTTP_SEC_FETCH_SITE", c.fetch_site}}) {
            if (*value)
                request.variables.emplace_back(name, value);
        }
        EngineResponse response = host->request(request);
        bool refused = response.body.find(text_cross_site) != std::string::npos;
        EXPECT_EQ(refused, c.refused) << response.body.substr(0, 2000);
        bool logged_on = !session_in(response.body).empty();
        bool logon_asked = std::string_view(c.method) == "POST" || std::string_view(c.query).find("User=") == 0;
        EXPECT_EQ(logged_on, logon_asked && !c.refused);
        if (refused) {
            EXPECT_TRUE(cookie_lines(response).empty());
            EXPECT_NE(response.body.find(logon_form), std::string::npos);
        }
    }
    EXPECT_TRUE(host->log_contains("Request from another site refused: Origin \"https://evil.example\""));

    // A form posted into a session from elsewhere changes nothing, and the
    // session stays for its own pages.
    Logon session = logon("alice", "secret");
    ASSERT_FALSE(session.id.empty());
    EngineRequest move;
    move.body = "Session=" + session.id + "&View=Logout";
    move.cookie = session.key_cookie;
    move.variables = {{"HTTP_HOST", "mail.example"}, {"HTTP_ORIGIN", "https://evil.example"}};
    EXPECT_NE(host->request(move).body.find(text_cross_site), std::string::npos);
    EXPECT_FALSE(host->log_contains("User alice logging out"));
    EXPECT_EQ(in_session(session, "View=Main").body.find(text_expired), std::string::npos);
}

TEST_F(RequestGuard, StatusCheckLogonsShareOneSessionAndLeaveRoomForOthers)
{
    start({{"Session", "Maximum", "3"}});
    add_user("alice", "secret");
    add_user("bob", "secret");
    add_user("carol", "secret");

    std::string first;
    for (int i = 0; i < 50; ++i) {
        auto response = get("View=StatusCheck&User=alice&Password=secret&Login=1");
        ASSERT_EQ(response.body.substr(0, 16), "Active Session: ") << response.raw;
        std::string id = response.body.substr(16, 7);
        if (first.empty())
            first = id;
        EXPECT_EQ(id, first) << "call " << i;
    }
    // A StatusCheck without Login reports the same session.
    EXPECT_EQ(get("View=StatusCheck&User=alice&Password=secret").body, "Active Session: " + first + "\n");
    // Two more users still find room in a table of three.
    EXPECT_FALSE(logon("bob", "secret").id.empty());
    EXPECT_FALSE(logon("carol", "secret").id.empty());
    std::size_t created = 0;
    for (const auto& line : host->log_lines())
        created += line.find("StatusCheck created session for alice") != std::string::npos;
    EXPECT_EQ(created, 1u);
}

TEST_F(RequestGuard, SecretFieldsNeverReachTheEngineLog)
{
    start();
    add_user("alice", "Sup3rSecret");
    // A logon by GET, then requests that carry secrets in their queries,
    // under every spelling the engine reads as a secret field.
    auto page = get("View=Main&User=alice&Password=Sup3rSecret");
    std::string id = session_in(page.body);
    ASSERT_FALSE(id.empty()) << page.body;
    std::string key;
    for (const auto& cookie : cookie_lines(page)) {
        if (cookie.rfind("CorvaneKey_", 0) == 0)
            key = cookie.substr(0, cookie.find(';'));
    }
    const char* secrets[] = {"Sup3rSecret", "N3wSecret", "C0nfirmSecret", "Acc0untSecret", "P4ss1", "Pa%73sword"};
    get("Session=" + id + "&View=Options&NewPassword=N3wSecret&ConfirmPassword=C0nfirmSecret", key);
    get("Session=" + id + "&View=List&AccountPassword%3A2=Acc0untSecret&pass1=P4ss1&PASSWORD=Pa%73sword", key);
    get("View=Main&User=alice&Password=Sup3rSecretX");
    std::string log = host->log_text();
    for (const char* secret : secrets)
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in\n" << log;
    EXPECT_NE(log.find("BegRequest: View=2 View=Main&User=alice&Password=****"), std::string::npos) << log;
    EXPECT_NE(
        log.find("EndRequest: View=3 Session=" + id + "&View=List&AccountPassword%3A2=****&pass1=****&PASSWORD=****"),
        std::string::npos)
        << log;
}

TEST_F(RequestGuard, AccountFilesArePrivateWhateverTheUmask)
{
    mode_t old_umask = ::umask(0);
    start();
    // An installer made the account readable by all, with a plain password.
    std::string dir = host->users_dir() + "/alice";
    ASSERT_TRUE(platform::make_directories(dir, 0700));
    ASSERT_TRUE(platform::write_file_atomic(dir + "/User.ini", "[User]\nPassword=-secret\n", 0644));
    Logon session = logon("alice", "secret");
    ASSERT_FALSE(session.id.empty());
    in_session(session, "View=List");
    in_session(session, "View=Compose");
    EngineRequest compose;
    compose.query_string = "Session=" + session.id + "&View=Compose";
    compose.body = "To=bob%40example.com&Subject=Hi&Body=Hello";
    compose.cookie = session.key_cookie;
    host->request(compose);
    std::string temp = host->temp_dir() + "/" + session.id;
    ::umask(old_umask);

    struct stat st {};
    ASSERT_EQ(::stat((dir + "/User.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a User.ini holding a password is for its owner only";
    std::size_t seen = 0;
    std::function<void(const std::string&)> walk = [&](const std::string& path) {
        auto entries = platform::list_directory(path);
        ASSERT_TRUE(entries);
        for (const auto& entry : *entries) {
            std::string full = path + "/" + entry.name;
            struct stat s {};
            ASSERT_EQ(::lstat(full.c_str(), &s), 0) << full;
            ++seen;
            if (S_ISDIR(s.st_mode)) {
                EXPECT_EQ(s.st_mode & 07777, 0700u) << full;
                walk(full);
            } else {
                EXPECT_EQ(s.st_mode & 07777, 0600u) << full;
            }
        }
    };
    walk(dir);
    ASSERT_EQ(::stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << temp;
    walk(temp);
    EXPECT_GT(seen, 3u) << "the session made files to look at";
}

}  // namespace
}  // namespace corvane::dispatch::test
