// POP3 sessions against a real Dovecot: what arrives in the store, what the
// server is asked, what stays on it, and TLS both ways.
#include <gtest/gtest.h>

#include "engine/transport/pop3/pop3_session.h"
#include "engine/transport/pop3/replies.h"
#include "tests/engine/transport/pop3/pop3_fixture.h"
#include "tests/peers/dovecot/dovecot_peer.h"

namespace corvane::pop3 {
namespace {

using test::CaptureLog;
using test::sample_message;
using test::UserStore;
using test::with_crlf;

class Pop3DovecotTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new testing::DovecotPeer;
        std::vector<testing::DovecotPeer::Account> accounts;
        for (int i = 1; i <= 20; ++i)
            accounts.push_back({"user" + std::to_string(i), "secret-user" + std::to_string(i)});
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
        // Every test has an account of its own.
        account = "user" + std::to_string(++accounts);
    }

    mailboxes::MailboxRecord mailbox(int delete_mode = 0)
    {
        mailboxes::MailboxRecord m;
        m.mailbox = "Home";
        m.host = "127.0.0.1";
        m.port = server->pop3_port();
        m.user = account;
        m.pass = "secret-" + account;
        m.active = true;
        m.delete_mode = delete_mode;
        return m;
    }
    Settings settings(std::uint32_t cutoff = 4096)
    {
        Settings s;
        s.timeout = std::chrono::seconds(10);
        s.retr_cutoff = cutoff;
        s.ca_file = server->ca_file();
        return s;
    }
    // One get_mail session; returns whether it completed.
    bool fetch(UserStore& store, const mailboxes::MailboxRecord& box, const Settings& s, CaptureLog& log,
               ResultCode* result = nullptr, std::uint32_t* retrieved = nullptr)
    {
        Pop3Session session(box, store.index(), log, s);
        bool ok = session.get_mail(store.mail->filter_context());
        if (result)
            *result = session.result();
        if (retrieved)
            *retrieved = session.retrieved();
        return ok;
    }

    static inline testing::DovecotPeer* server = nullptr;
    static inline std::string start_error;
    static inline int accounts = 0;
    std::string account;
};

TEST_F(Pop3DovecotTest, EmptyMailboxAsksFourCommandsAndWritesAnEmptyUidFile)
{
    UserStore store;
    CaptureLog log;
    std::uint32_t retrieved = 99;
    EXPECT_TRUE(fetch(store, mailbox(), settings(), log, nullptr, &retrieved)) << log.all();
    EXPECT_EQ(retrieved, 0u);
    EXPECT_EQ(log.commands(), (std::vector<std::string>{"USER " + account, "PASS ****", "STAT", "QUIT"}));
    EXPECT_TRUE(platform::exists(store.index().uid_file_path("Home")));
    EXPECT_TRUE(store.uid_file("Home").empty());
    EXPECT_TRUE(log.has("POP3 0 messages retrieved"));
}

TEST_F(Pop3DovecotTest, LargeMessageArrivesAsHeaderAndOpeningItFetchesItWhole)
{
    const std::string small = sample_message("small", 1200);
    const std::string large = sample_message("large", 5000);
    server->deliver(account, small);
    server->deliver(account, large);
    UserStore store;
    CaptureLog log;
    std::uint32_t retrieved = 0;
    ASSERT_TRUE(fetch(store, mailbox(), settings(), log, nullptr, &retrieved)) << log.all();
    EXPECT_EQ(retrieved, 1u);  // the header of the large one is no retrieved message
    ASSERT_EQ(store.entries().size(), 2u);
    store::MessageEntry* first = store.entries()[0];
    store::MessageEntry* second = store.entries()[1];
    EXPECT_EQ(first->subject, "small");
    EXPECT_TRUE(first->has(store::flags::downloaded));
    EXPECT_EQ(store.message_file(*first), with_crlf(small));
    EXPECT_EQ(first->folder, "Inbox");
    EXPECT_EQ(second->subject, "large");
    EXPECT_FALSE(second->has(store::flags::downloaded));
    EXPECT_TRUE(log.has("POP3 <<< TOP 2 0"));
    EXPECT_TRUE(log.has("POP3 <<< RETR 1"));
    EXPECT_EQ(store.uid_file("Home").size(), 2u);

    // A copy made while only the header is here waits for the message.
    store::MessageEntry* copy = store.index().copy(*second, "Drafts");
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->has(store::flags::copy_pending));

    CaptureLog single_log;
    Pop3Session single(mailbox(), store.index(), single_log, settings());
    EXPECT_TRUE(single.get_single(*second)) << single_log.all();
    EXPECT_TRUE(single_log.has("POP3 <<< RETR 2"));
    EXPECT_TRUE(second->has(store::flags::downloaded));
    EXPECT_EQ(store.message_file(*second), with_crlf(large));
    EXPECT_TRUE(copy->has(store::flags::downloaded));
    EXPECT_FALSE(copy->has(store::flags::copy_pending));
    EXPECT_EQ(store.message_file(*copy), with_crlf(large));

    // Nothing new the second time; nothing fetched twice.
    CaptureLog again;
    ASSERT_TRUE(fetch(store, mailbox(), settings(), again, nullptr, &retrieved));
    EXPECT_EQ(retrieved, 0u);
    EXPECT_FALSE(again.has("POP3 <<< LIST"));
    EXPECT_EQ(store.entries().size(), 3u);
}

TEST_F(Pop3DovecotTest, CutoffZeroFetchesEverythingWhole)
{
    for (std::size_t size : {300u, 5000u, 70000u})
        server->deliver(account, sample_message("m" + std::to_string(size), size));
    UserStore store;
    CaptureLog log;
    std::uint32_t retrieved = 0;
    ASSERT_TRUE(fetch(store, mailbox(), settings(0), log, nullptr, &retrieved)) << log.all();
    EXPECT_EQ(retrieved, 3u);
    EXPECT_FALSE(log.has("<<< TOP"));
    for (auto* entry : store.entries())
        EXPECT_TRUE(entry->has(store::flags::downloaded)) << entry->subject;
}

TEST_F(Pop3DovecotTest, StoredMessageIsTheOriginalDotsLongLinesAndEightBitIncluded)
{
    // Dovecot stuffs the dots; what arrives must be the message as sent.
    const std::string message =
        "From: a@example.org\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= dots\n\n"
        ".\n..\n.x\n...\n. \nline\n" +
        std::string(10000, 'w') + "\n." + std::string(6000, 'd') + "\n..starts with two\nGrüße, 8 bit\n.\n";
    server->deliver(account, message);
    UserStore store;
    CaptureLog log;
    ASSERT_TRUE(fetch(store, mailbox(), settings(0), log)) << log.all();
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.message_file(*store.entries()[0]), with_crlf(message));
    EXPECT_EQ(store.entries()[0]->subject, "Grüße dots");
}

TEST_F(Pop3DovecotTest, WrongPasswordIsResultSevenAndNeverLogged)
{
    server->deliver(account, sample_message("x", 500));
    UserStore store;
    CaptureLog log;
    auto box = mailbox();
    box.pass = "wrong-password-123";
    // Dovecot slows down logons from an address that failed one; fail from
    // an address of our own.
    auto s = settings();
    s.bind_address = "127.0.0.2";
    ResultCode result = ResultCode::none;
    EXPECT_FALSE(fetch(store, box, s, log, &result));
    EXPECT_EQ(result, ResultCode::login_rejected);
    EXPECT_TRUE(log.has("POP3 <<< PASS ****"));
    EXPECT_TRUE(log.has("POP3 Unexpected response : -ERR"));
    EXPECT_FALSE(log.has("wrong-password-123"));
    EXPECT_EQ(log.commands().back(), "QUIT");
    // The listing never completed: no UID file.
    EXPECT_FALSE(platform::exists(store.index().uid_file_path("Home")));
}

TEST_F(Pop3DovecotTest, DeleteModeTwoDeletesEachWholeMessageBeforeTheNext)
{
    server->deliver(account, sample_message("one", 400));
    server->deliver(account, sample_message("two", 400));
    server->deliver(account, sample_message("big", 9000));
    UserStore store;
    CaptureLog log;
    ASSERT_TRUE(fetch(store, mailbox(2), settings(), log)) << log.all();
    EXPECT_EQ(log.commands(),
              (std::vector<std::string>{"USER " + account, "PASS ****", "STAT", "UIDL", "LIST 1", "RETR 1", "DELE 1",
                                        "LIST 2", "RETR 2", "DELE 2", "LIST 3", "TOP 3 0", "QUIT"}));
    // The header-only message stays until the user deletes it here.
    EXPECT_EQ(server->message_count(account), 1u);
    // Deleted messages leave the UID file once the server no longer lists
    // them.
    CaptureLog again;
    ASSERT_TRUE(fetch(store, mailbox(2), settings(), again));
    EXPECT_EQ(store.uid_file("Home").size(), 1u);
    EXPECT_EQ(store.entries().size(), 3u);
}

TEST_F(Pop3DovecotTest, LocallyDeletedMessagesLeaveTheServerOnlyWhenDeletionRuns)
{
    for (const char* s : {"keep", "drop", "also"})
        server->deliver(account, sample_message(s, 300));
    UserStore store;
    CaptureLog log;
    ASSERT_TRUE(fetch(store, mailbox(1), settings(), log)) << log.all();
    ASSERT_EQ(store.entries().size(), 3u);
    store::MessageEntry* drop = store.entries()[1];
    ASSERT_EQ(drop->subject, "drop");
    ASSERT_TRUE(store.index().delete_entry(*drop));  // waits for the server now
    EXPECT_EQ(store.index().size(), 3u);

    // A normal check deletes nothing.
    CaptureLog check;
    ASSERT_TRUE(fetch(store, mailbox(1), settings(), check));
    EXPECT_EQ(server->message_count(account), 3u);

    CaptureLog deletion_log;
    Pop3Session deletion(mailbox(1), store.index(), deletion_log, settings());
    EXPECT_TRUE(deletion.delete_on_server());
    EXPECT_EQ(deletion.progress()->to_handle.load(), 1u);
    EXPECT_TRUE(deletion_log.has("POP3 <<< DELE 2")) << deletion_log.all();
    EXPECT_EQ(server->message_count(account), 2u);
    EXPECT_EQ(store.index().size(), 2u);

    // Nothing waits any more: no connection at all.
    CaptureLog idle;
    Pop3Session nothing(mailbox(1), store.index(), idle, settings());
    EXPECT_TRUE(nothing.delete_on_server());
    EXPECT_FALSE(idle.has("POP3 Connecting"));
}

TEST_F(Pop3DovecotTest, DemoMailboxArrivesWithItsSubjectsDecoded)
{
    // The quick start's demo mailbox, as its generator writes it.
    testing::TempDir demo;
    std::string command = "/usr/bin/python3 '" CORVANE_SOURCE_DIR "/scripts/demo/make-demo-mail' '" + demo.path() +
                          "/Maildir' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto files = platform::list_directory(demo.path() + "/Maildir/cur");
    ASSERT_TRUE(files.ok());
    ASSERT_GE(files->size(), 24u);
    for (const auto& file : *files)
        server->deliver(account, *platform::read_file(demo.path() + "/Maildir/cur/" + file.name));
    UserStore store;
    CaptureLog log;
    ASSERT_TRUE(fetch(store, mailbox(), settings(0), log)) << log.all();
    ASSERT_EQ(store.entries().size(), files->size());
    std::string subjects;
    for (auto* entry : store.entries()) {
        EXPECT_TRUE(entry->has(store::flags::downloaded)) << entry->subject;
        subjects += entry->subject + "\n";
    }
    for (const char* want :
         {"Grüße aus München", "Réunion de l'équipe à 14 h", "Отчёт за май", "会議の議事録", "周末计划", "Καλημέρα",
          "Café ☕ and emoji 🎉 in UTF-8", "Smart “quotes” – in windows-1252", "Re: Release date"})
        EXPECT_NE(subjects.find(want), std::string::npos) << want << " not in\n" << subjects;
}

TEST_F(Pop3DovecotTest, TlsFromTheFirstByteAndStlsAreVerified)
{
    server->deliver(account, sample_message("secure", 400));
    struct Case {
        std::string name;
        std::string host;
        bool pop3s;
        std::string tls;
        std::string ca_file;  // "" uses the server's, "none" the system store only
        bool want_ok;
        std::string want_log;
    };
    const std::vector<Case> cases = {
        {"POP3S", "localhost", true, "Yes", "", true, "POP3 TLS : TLSv1."},
        {"STLS", "localhost", false, "STARTTLS", "", true, "POP3 <<< STLS"},
        {"TLS=yes in any case", "localhost", true, "yes", "", true, "POP3 TLS : TLSv1."},
        {"certificate for another name", "127.0.0.1", true, "Yes", "", false,
         "POP3 TLS with 127.0.0.1 failed : certificate refused: IP address mismatch"},
        {"STLS to another name", "127.0.0.1", false, "STARTTLS", "", false,
         "POP3 TLS with 127.0.0.1 failed : certificate refused"},
        {"untrusted certificate", "localhost", true, "Yes", "none", false,
         "POP3 TLS with localhost failed : certificate refused: self-signed certificate"},
    };
    for (const Case& c : cases) {
        UserStore store;
        CaptureLog log;
        auto box = mailbox();
        box.host = c.host;
        box.port = c.pop3s ? server->pop3s_port() : server->pop3_port();
        box.tls = c.tls;
        auto s = settings();
        if (c.ca_file == "none")
            s.ca_file.clear();
        ResultCode result = ResultCode::none;
        bool ok = fetch(store, box, s, log, &result);
        EXPECT_EQ(ok, c.want_ok) << c.name << "\n" << log.all();
        EXPECT_TRUE(log.has(c.want_log)) << c.name << "\n" << log.all();
        if (c.want_ok) {
            EXPECT_EQ(store.entries().size(), 1u) << c.name;
        } else {
            EXPECT_EQ(result, ResultCode::could_not_connect) << c.name;
            EXPECT_FALSE(log.has("PASS")) << c.name;
        }
    }
    auto security = [](int port, std::string tls) {
        mailboxes::MailboxRecord m;
        m.port = port;
        m.tls = std::move(tls);
        return security_of(m);
    };
    EXPECT_EQ(security(995, ""), Security::tls);
    EXPECT_EQ(security(995, "No"), Security::plain);
    EXPECT_EQ(security(110, "starttls"), Security::starttls);
    EXPECT_EQ(security(110, ""), Security::plain);
}

}  // namespace
}  // namespace corvane::pop3
