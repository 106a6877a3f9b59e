// The mail check inside a running engine, against a real Dovecot: a List
// request's check fills the store and the user's [Stats], a failure shows
// its message on the next page, opening a header-only message fetches it,
// EmptyTrash and the end of a session delete on the server, StatusCheck
// counts the new mail, the running check is visible in the session, and
// a new account finds its welcome message. The engine runs in this process
// with a stand-in for the views, which only ask for the checks.
#include "engine/features/mail_check/mail_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <future>
#include <regex>
#include <thread>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/dispatch/dispatcher.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/lifecycle/engine.h"
#include "engine/core/sessions/session.h"
#include "engine/features/mailbox_actions/mailbox_actions.h"
#include "engine/features/not_available/not_available.h"
#include "engine/features/welcome/welcome_message.h"
#include "tests/engine/transport/fake_server.h"
#include "tests/peers/dovecot/dovecot_peer.h"
#include "tests/support/store_seed.h"
#include "tests/support/temp_dir.h"

namespace corvane::mail_check {
namespace {

namespace fs = corvane::platform;
using testing::stored_index;

// The views as far as the mail check needs them: List asks for a check
// (Check) or empties the Trash first (EmptyTrash); Message asks for its
// message when it arrived as header only.
class AskingViews final : public dispatch::ViewHandlers {
public:
    void run(dispatch::RequestContext& request) override
    {
        accounts::UserRecord* user = request.user();
        if (!user)
            return;
        if (request.view() == dispatch::view_list) {
            if (request.fields().present("EmptyTrash")) {
                (void)user->mail().empty_trash();
                if (mailboxes::prune_deleted_entries(user->mail().index(), user->mail().mailboxes()))
                    ask(request);
            } else if (request.fields().present("Check")) {
                ask(request);
            }
        } else if (request.view() == dispatch::view_message && request.session()->current_message) {
            store::MessageEntry* entry = user->mail().index().find(*request.session()->current_message);
            if (entry && !entry->has(store::flags::downloaded))
                ask(request);
        }
    }

private:
    static void ask(dispatch::RequestContext& request)
    {
        request.session()->retrieval_pending = true;
        request.retrieval_requested = true;
    }
};

std::string call(lifecycle::Engine& engine, const std::string& query, const std::string& body,
                 const std::string& cookie)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
        return {};
    ::close(in[1]);
    std::string block;
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"QUERY_STRING", query},
                                                          {"CONTENT_LENGTH", std::to_string(body.size())},
                                                          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                                          {"HTTP_COOKIE", cookie},
                                                          {"REMOTE_ADDR", "127.0.0.1"},
                                                          {"SCRIPT_NAME", "/cgi-bin/Corvane.so"}})
        block.append(name).append("=").append(value).push_back('\0');
    block.push_back('\0');
    std::thread main(
        [&engine, block, input = in[0], output = out[1]] { engine.main_entry(input, output, block.c_str()); });
    main.detach();
    std::string response;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        response.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    return response;
}

std::string message(const std::string& subject, std::size_t size)
{
    std::string m = "From: a@example.org\nSubject: " + subject + "\n\n";
    while (m.size() < size)
        m += "Some text of the body to make it as long as it should be.\n";
    return m;
}

class MailCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new testing::DovecotPeer;
        std::vector<testing::DovecotPeer::Account> accounts;
        for (int i = 1; i <= 12; ++i)
            accounts.push_back({"box" + std::to_string(i), "pw" + std::to_string(i)});
        start_error = server->start(accounts);
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        if (!start_error.empty())
            GTEST_SKIP() << start_error;
        ::setenv("CORVANE_INSTANCE", ("mailcheck" + std::to_string(::getpid())).c_str(), 1);
        std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + root / "Templates" + "'";
        ASSERT_EQ(std::system(copy.c_str()), 0);
        for (const char* dir : {"Logs", "Temp", "Users"})
            ASSERT_TRUE(fs::make_directories(root / dir));
        ini::Profile ini(root / "Corvane.ini");
        ASSERT_TRUE(ini.update([&](ini::Document& doc) {
            doc.set("Directories", "BaseDir", root.path());
            doc.set("Directories", "LogDir", root / "Logs");
            doc.set("Directories", "TempDir", root / "Temp");
            doc.set("Directories", "TemplateDir", root / "Templates");
            doc.set("Directories", "UserDir", root / "Users");
            doc.set("General", "LogLevel", "1");
            doc.set("PopClient", "Timeout", "5");
            doc.set("PopClient", "CAFile", server->ca_file());
            return true;
        }));
        auto dispatcher = std::make_shared<dispatch::Dispatcher>(dispatch::RequestSteps{
            .mailbox = mailbox,
            .list_order = list_order,
            .views = views,
            .compose = compose,
            .mail_check = mail_check,
            .read_confirmation = read_confirmation,
            .new_user = new_user,
            .tags = tags,
        });
        engine = std::make_unique<lifecycle::Engine>(
            root / "Corvane.ini",
            lifecycle::EngineModules{.handler = dispatcher, .server_deletion = &deletion, .welcome = &welcome});
        ASSERT_TRUE(engine->start_up(lifecycle::StartOptions{.libraries = lifecycle::Libraries::none}));
    }
    void TearDown() override { engine.reset(); }

    // A user whose first mailbox is a Dovecot account (boxN, pwN).
    void add_user(const std::string& name, int box, const std::string& more = "", const std::string& user_more = "")
    {
        ASSERT_TRUE(fs::make_directories(root / ("Users/" + name)));
        std::string ini = "[User]\nPassword=-secret\n" + user_more + "[MailHost1]\nMailbox=Home\nHost=127.0.0.1\n" +
                          "Port=" + std::to_string(server->pop3_port()) + "\nUser=box" + std::to_string(box) +
                          "\nPass=-pw" + std::to_string(box) + "\nActive=Yes\nDefault=Yes\n" + more;
        ASSERT_TRUE(fs::write_file_atomic(root / ("Users/" + name + "/User.ini"), ini));
    }

    struct Session {
        std::string id;
        std::string cookie;
    };
    Session logon(const std::string& name)
    {
        std::string page = call(*engine, "View=Main", "User=" + name + "&Password=secret", "");
        std::smatch match;
        Session s;
        if (std::regex_search(page, match, std::regex("Session=([A-Z]{7})")))
            s.id = match[1];
        if (std::regex_search(page, match, std::regex("(CorvaneKey_[A-Z]{7}=[0-9a-f]{32})")))
            s.cookie = match[1];
        EXPECT_FALSE(s.id.empty()) << page;
        return s;
    }
    std::string in_session(const Session& s, const std::string& query, const std::string& body = "")
    {
        return call(*engine, "Session=" + s.id + "&" + query, body, s.cookie);
    }
    // The check runs after the response under the request lock: a request
    // of another view waits for it.
    std::string wait_for_check(const Session& s) { return in_session(s, "View=Options"); }

    std::string user_dir(const std::string& name) { return root / ("Users/" + name); }
    std::string stat(const std::string& name, const char* key)
    {
        ini::clear_cache();
        return ini::Profile(user_dir(name) + "/User.ini").text("Stats", key, "");
    }
    std::array<std::int32_t, 9> counters()
    {
        std::array<std::int32_t, 9> c{};
        engine->get_status(c.data());
        return c;
    }
    std::string engine_log()
    {
        auto text = fs::read_file(root / "Logs/Corvane.log");
        return text ? *text : std::string();
    }

    static inline testing::DovecotPeer* server = nullptr;
    static inline std::string start_error;

    testing::TempDir root;
    mailbox_actions::MailboxActions mailbox;
    not_available::ListOrder list_order;
    AskingViews views;
    not_available::ComposeWork compose;
    MailCheck mail_check;
    not_available::ReadConfirmation read_confirmation;
    not_available::NewUserHandler new_user;
    not_available::TagValues tags;
    ServerDeletion deletion{root / "Corvane.ini"};
    welcome::WelcomeMessage welcome{root / "Corvane.ini"};
    std::unique_ptr<lifecycle::Engine> engine;
};

TEST_F(MailCheckTest, ListCheckFillsTheStoreAndOpeningAHeaderFetchesTheMessage)
{
    server->deliver("box1", message("small", 800));
    server->deliver("box1", message("large", 9000));
    add_user("ann", 1);
    Session s = logon("ann");
    in_session(s, "View=List&Check=1");
    wait_for_check(s);

    auto index = stored_index(user_dir("ann"));
    ASSERT_EQ(index.size(), 2u) << engine_log();
    std::uint32_t large = 0;
    for (const auto& [number, entry] : index) {
        EXPECT_EQ(entry.mailbox, "Home");
        if (!(entry.flags & testing::flag_downloaded))
            large = number;
    }
    ASSERT_NE(large, 0u);
    EXPECT_EQ(stat("ann", "Received"), "1");
    EXPECT_EQ(stat("ann", "MessageCount"), "2");
    EXPECT_EQ(counters()[4], 1);  // POP3 sessions
    EXPECT_EQ(counters()[5], 0);  // POP3 errors

    in_session(s, "View=Message&Number=" + std::to_string(large));
    wait_for_check(s);
    index = stored_index(user_dir("ann"));
    EXPECT_TRUE(index[large].flags & testing::flag_downloaded) << engine_log();
    EXPECT_EQ(stat("ann", "Received"), "2");
    EXPECT_EQ(counters()[4], 2);
}

TEST_F(MailCheckTest, DeletedMessagesLeaveTheServerWithEmptyTrashAndAtTheSessionEnd)
{
    for (const char* subject : {"a", "b", "c"})
        server->deliver("box3", message(subject, 300));
    add_user("bea", 3, "Delete=1\n", "EmptyTrash=Yes\n");
    Session s = logon("bea");
    in_session(s, "View=List&Check=1");
    wait_for_check(s);
    auto index = stored_index(user_dir("bea"));
    ASSERT_EQ(index.size(), 3u) << engine_log();
    auto number = [&](int i) { return std::to_string(std::next(index.begin(), i)->first); };

    // To the Trash and out of it: gone from the server only then.
    in_session(s, "View=List", "Delete=1&Number=" + number(0));
    EXPECT_EQ(server->message_count("box3"), 3u);
    in_session(s, "View=List&EmptyTrash=1");
    wait_for_check(s);
    EXPECT_EQ(server->message_count("box3"), 2u) << engine_log();
    EXPECT_EQ(stored_index(user_dir("bea")).size(), 2u);

    // The end of the session empties the Trash (EmptyTrash=Yes) and deletes.
    in_session(s, "View=List", "Delete=1&Number=" + number(1));
    EXPECT_EQ(server->message_count("box3"), 2u);
    in_session(s, "View=Logout");
    for (int i = 0; i < 100 && server->message_count("box3") != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(server->message_count("box3"), 1u) << engine_log();
}

TEST_F(MailCheckTest, StatusCheckCountsTheNewMail)
{
    server->deliver("box4", message("x", 300));
    server->deliver("box4", message("y", 300));
    add_user("cid", 4);
    ASSERT_TRUE(fs::make_directories(user_dir("cid")));
    std::string answer = call(*engine, "View=StatusCheck&User=cid&Password=secret", "", "");
    EXPECT_NE(answer.find("4\nInbox\t2\t2\n"), std::string::npos) << answer;
    EXPECT_EQ(stat("cid", "Received"), "2");
}

TEST_F(MailCheckTest, TheRunningCheckIsVisibleInTheSession)
{
    // A server that stops answering after the listing.
    std::promise<void> listed;
    std::promise<void> release;
    auto released = release.get_future().share();
    testing::FakeServer slow(
        [&](testing::FakeConnection& c) {
            c.write("+OK hi\r\n");
            std::string line;
            while (c.read_line(line)) {
                if (line == "STAT")
                    c.write("+OK 3 900\r\n");
                else if (line == "UIDL")
                    c.write("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
                else if (line.rfind("LIST", 0) == 0) {
                    listed.set_value();
                    released.wait_for(std::chrono::seconds(10));
                    return;
                } else
                    c.write("+OK\r\n");
            }
        },
        1);
    ASSERT_TRUE(fs::make_directories(user_dir("dan")));
    ASSERT_TRUE(fs::write_file_atomic(user_dir("dan") + "/User.ini",
                                      "[User]\nPassword=-secret\n[MailHost1]\nMailbox=Slow Box\nHost=127.0.0.1\n"
                                      "Active=Yes\nUser=u\nPass=-p\nPort=" +
                                          std::to_string(slow.port()) + "\n"));
    Session s = logon("dan");
    in_session(s, "View=List&Check=1");
    ASSERT_EQ(listed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    {
        sessions::SessionHold hold = engine->sessions().find_by_id(s.id);
        ASSERT_TRUE(hold);
        auto progress = hold->retrieval();
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(progress->mailbox, "Slow Box");
        EXPECT_EQ(progress->mode.load(), pop3::Mode::fetch);
        EXPECT_TRUE(progress->listed.load());
        EXPECT_EQ(progress->server_count.load(), 3u);
        EXPECT_EQ(progress->to_handle.load(), 3u);
        EXPECT_EQ(progress->position.load(), 1u);
        hold.release();
    }
    release.set_value();
    wait_for_check(s);
    sessions::SessionHold hold = engine->sessions().find_by_id(s.id);
    ASSERT_TRUE(hold);
    EXPECT_EQ(hold->retrieval(), nullptr);
    hold.release();
}

TEST_F(MailCheckTest, NewAccountFindsItsWelcomeMessage)
{
    ini::Profile(root / "Corvane.ini").write_yes_no("AccountCreation", "SendWelcomeMessage", true);
    ASSERT_TRUE(fs::write_file_atomic(root / "welcome.msg",
                                      "From: Postmaster <postmaster@example.org>\nSubject: Welcome, <$username$>\n\n"
                                      "Dear <$FULLNAME$> (<$EMail$>),\nyour account is ready.\n"));
    add_user("eve", 5, "FullName=Eve Example\nEMail=eve@example.org\n", "SendWelcome=Yes\n");
    Session s = logon("eve");
    auto index = stored_index(user_dir("eve"));
    ASSERT_EQ(index.size(), 1u) << engine_log();
    const auto& [number, entry] = *index.begin();
    EXPECT_EQ(entry.folder, "Inbox");
    EXPECT_TRUE(entry.flags & testing::flag_downloaded);
    auto text = fs::read_file(user_dir("eve") + "/Inbox/" + testing::file_name_of(number) + ".msg");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text->rfind("Date: ", 0), 0u);
    EXPECT_NE(text->find("Subject: Welcome, eve\r\n"), std::string::npos) << *text;
    EXPECT_NE(text->find("Dear Eve Example (eve@example.org),\r\nyour account is ready.\r\n"), std::string::npos);
    ini::clear_cache();
    EXPECT_FALSE(ini::Profile(user_dir("eve") + "/User.ini").has_key("User", "SendWelcome"));
    in_session(s, "View=Logout");
}

// Last: a refused logon makes Dovecot slow down the next ones from here.
TEST_F(MailCheckTest, FailuresShowTheirMessageAndCount)
{
    int closed_port = 0;
    {
        testing::FakeServer gone([](testing::FakeConnection&) {}, 0);
        closed_port = gone.port();
    }
    testing::FakeServer garbage(
        [](testing::FakeConnection& c) {
            c.write("+OK hi\r\n");
            std::string line;
            while (c.read_line(line))
                c.write(line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0 ? "+OK\r\n" : "\x01\x02 nonsense\r\n");
        },
        1);
    struct Case {
        std::string name;
        std::string mailbox;  // the [MailHost1] lines
        std::string want;
    };
    const std::vector<Case> cases = {
        {"refused", "Port=" + std::to_string(server->pop3_port()) + "\nUser=box2\nPass=-wrong\n",
         "The mail server did not accept the user name or password of mailbox Home."},
        {"no server", "Port=" + std::to_string(closed_port) + "\nUser=x\nPass=-y\n",
         "Could not connect to the mail server of mailbox Home."},
        {"garbage", "Port=" + std::to_string(garbage.port()) + "\nUser=x\nPass=-y\n",
         "An error occurred while checking mailbox Home."},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "fail" + std::to_string(++n);
        ASSERT_TRUE(fs::make_directories(user_dir(name)));
        ASSERT_TRUE(fs::write_file_atomic(user_dir(name) + "/User.ini",
                                          "[User]\nPassword=-secret\n[MailHost1]\nMailbox=Home\nHost=127.0.0.1\n"
                                          "Active=Yes\n" +
                                              c.mailbox));
        Session s = logon(name);
        in_session(s, "View=List&Check=1");
        // The message is for the next page, whichever it is.
        std::string page = wait_for_check(s);
        EXPECT_NE(page.find(c.want), std::string::npos) << c.name;
        EXPECT_EQ(stat(name, "RecvErrors"), "1") << c.name;
    }
    EXPECT_EQ(counters()[5], 3);
    EXPECT_EQ(engine_log().find("wrong"), std::string::npos) << "a password in the log";
}

}  // namespace
}  // namespace corvane::mail_check
