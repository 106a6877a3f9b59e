// POP3 sessions against a scripted server, for what a real server does not
// do on demand: odd segments, a stall, a close in the middle of a message,
// garbage, a listing of 100,000 lines, a message of 200 MB, a server that
// lies about a size. Whatever happens, nothing already stored is lost.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "common/text/strings.h"
#include "engine/transport/pop3/pop3_session.h"
#include "engine/transport/pop3/replies.h"
#include "tests/engine/transport/fake_server.h"
#include "tests/engine/transport/pop3/pop3_fixture.h"

namespace corvane::pop3 {
namespace {

using namespace std::chrono_literals;
using test::CaptureLog;
using test::sample_message;
using test::UserStore;
using test::with_crlf;
using testing::FakeConnection;
using testing::FakeServer;

// How the scripted server behaves.
struct Script {
    std::vector<std::string> messages;  // as the user will see them (LF line ends)
    std::vector<std::string> ids;       // default "id-<n>"
    std::size_t chunk = 0;              // every write in pieces of this size (0: whole)
    bool batched = false;               // greeting and the USER and PASS replies in one segment
    std::string greeting = "+OK fake POP3 ready\r\n";
    std::string user_reply = "+OK\r\n";
    std::string stall_after;                   // goes silent after answering this command
    std::optional<std::size_t> close_in_retr;  // bytes of RETR data before a close
    std::vector<std::string> extra_uidl;       // raw lines added to the listing
    bool list_without_size = false;
    std::optional<std::uint32_t> claimed_size;  // LIST says this instead of the truth
    // Replaces the RETR data of message 1 (the generator writes it, stuffed,
    // without the final ".").
    std::function<void(FakeConnection&)> retr_generator;
};

std::string stuffed(const std::string& message)
{
    std::string out;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t lf = message.find('\n', start);
        std::string line = message.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (!line.empty() && line[0] == '.')
            out += '.';
        out += line + "\r\n";
        start = lf == std::string::npos ? message.size() : lf + 1;
    }
    return out;
}

std::string id_of(const Script& s, std::size_t i)
{
    return i < s.ids.size() ? s.ids[i] : "id-" + std::to_string(i + 1);
}

void play(FakeConnection& c, const Script& s)
{
    auto say = [&](const std::string& bytes) {
        if (s.chunk)
            c.write_in_pieces(bytes, s.chunk, 0);
        else
            c.write(bytes);
    };
    std::string line;
    if (s.batched) {
        c.write(s.greeting + s.user_reply + "+OK logged in\r\n");
        c.read_line(line);
        c.read_line(line);
    } else {
        say(s.greeting);
    }
    while (c.read_line(line, 10000)) {
        std::string verb = line.substr(0, line.find(' '));
        std::uint32_t n = 0;
        if (line.size() > verb.size())
            n = static_cast<std::uint32_t>(std::atoi(line.c_str() + verb.size() + 1));
        bool known = n >= 1 && n <= s.messages.size();
        std::size_t total = 0;
        for (const auto& m : s.messages)
            total += with_crlf(m).size();
        if (verb == "USER") {
            say(s.user_reply);
        } else if (verb == "PASS") {
            say("+OK logged in\r\n");
        } else if (verb == "STAT") {
            say("+OK " + std::to_string(s.messages.size()) + " " + std::to_string(total) + "\r\n");
        } else if (verb == "UIDL") {
            std::string listing = "+OK\r\n";
            for (std::size_t i = 0; i < s.messages.size(); ++i)
                listing += std::to_string(i + 1) + " " + id_of(s, i) + "\r\n";
            for (const auto& extra : s.extra_uidl)
                listing += extra + "\r\n";
            say(listing + ".\r\n");
        } else if (verb == "LIST" && known) {
            std::uint32_t size =
                s.claimed_size.value_or(static_cast<std::uint32_t>(with_crlf(s.messages[n - 1]).size()));
            say(s.list_without_size ? "+OK " + std::to_string(n) + "\r\n"
                                    : "+OK " + std::to_string(n) + " " + std::to_string(size) + "\r\n");
        } else if ((verb == "RETR" || verb == "TOP") && known) {
            say("+OK\r\n");
            std::string data = stuffed(s.messages[n - 1]);
            if (verb == "TOP")
                data = data.substr(0, data.find("\r\n\r\n") + 4);
            if (verb == "RETR" && n == 1 && s.retr_generator) {
                s.retr_generator(c);
                data.clear();
            }
            if (verb == "RETR" && s.close_in_retr && n == 2) {
                say(data.substr(0, *s.close_in_retr));
                c.close();
                return;
            }
            say(data + ".\r\n");
        } else if (verb == "DELE" && known) {
            say("+OK deleted\r\n");
        } else if (verb == "QUIT") {
            say("+OK bye\r\n");
            c.close();
            return;
        } else {
            say("-ERR what\r\n");
        }
        if (!s.stall_after.empty() && verb == s.stall_after) {
            c.wait_for_close(20000);
            return;
        }
    }
}

struct Outcome {
    bool ok = false;
    ResultCode result = ResultCode::none;
    std::uint32_t retrieved = 0;
    std::shared_ptr<const Progress> progress;
};

mailboxes::MailboxRecord fake_mailbox(int port)
{
    mailboxes::MailboxRecord m;
    m.mailbox = "Fake";
    m.host = "127.0.0.1";
    m.port = port;
    m.user = "jo";
    m.pass = "pw";
    m.active = true;
    return m;
}

Settings fast_settings(std::uint32_t cutoff = 4096)
{
    Settings s;
    s.timeout = 2s;
    s.retr_cutoff = cutoff;
    return s;
}

Outcome fetch_from(const Script& script, UserStore& store, CaptureLog& log, Settings settings = fast_settings())
{
    FakeServer server([&](FakeConnection& c) { play(c, script); });
    Pop3Session session(fake_mailbox(server.port()), store.index(), log, settings);
    Outcome out;
    out.ok = session.get_mail(store.mail->filter_context());
    out.result = session.result();
    out.retrieved = session.retrieved();
    out.progress = session.progress();
    return out;
}

TEST(Pop3FaultsTest, RepliesInOddSegmentsStoreTheSameMessages)
{
    Script base;
    base.messages = {sample_message("first", 900), "Subject: dots\n\n.\n..\n.x\nend\n"};
    struct Case {
        std::string name;
        std::size_t chunk;
        bool batched;
    };
    for (const Case& c : std::vector<Case>{{"one byte a segment", 1, false},
                                           {"three bytes a segment", 3, false},
                                           {"greeting and two replies in one segment", 0, true}}) {
        Script s = base;
        s.chunk = c.chunk;
        s.batched = c.batched;
        UserStore store;
        CaptureLog log;
        Outcome out = fetch_from(s, store, log);
        EXPECT_TRUE(out.ok) << c.name << "\n" << log.all();
        ASSERT_EQ(store.entries().size(), 2u) << c.name;
        EXPECT_EQ(store.message_file(*store.entries()[0]), with_crlf(s.messages[0])) << c.name;
        EXPECT_EQ(store.message_file(*store.entries()[1]), with_crlf(s.messages[1])) << c.name;
    }
}

TEST(Pop3FaultsTest, OverlongReplyStallAndGarbageEndTheSessionWithTheirResult)
{
    struct Case {
        std::string name;
        Script script;
        ResultCode want;
        std::string want_log;
    };
    Script overlong;
    overlong.user_reply = "+OK " + std::string(5000, 'x') + "\r\n";
    Script stall;
    stall.messages = {"Subject: a\n\nx\n"};
    stall.stall_after = "PASS";
    Script garbage;
    garbage.greeting = std::string("\x00\xff\x1b[2J\x01garbage", 14) + "\r\n";
    Script refused_quit;  // USER refused: the session QUITs
    refused_quit.user_reply = "-ERR no such user\r\n";
    const std::vector<Case> cases = {
        {"reply longer than the buffer", overlong, ResultCode::unexpected_reply, "POP3 Receive buffer overflow"},
        {"server stalls", stall, ResultCode::timed_out, "POP3 Connection timed out"},
        {"binary garbage greeting", garbage, ResultCode::unexpected_reply, "POP3 Unexpected response : "},
        {"user refused", refused_quit, ResultCode::login_rejected, "POP3 Unexpected response : -ERR no such user"},
    };
    for (const Case& c : cases) {
        UserStore store;
        CaptureLog log;
        auto start = std::chrono::steady_clock::now();
        Outcome out = fetch_from(c.script, store, log);
        EXPECT_FALSE(out.ok) << c.name;
        EXPECT_EQ(out.result, c.want) << c.name << "\n" << log.all();
        EXPECT_TRUE(log.has(c.want_log)) << c.name << "\n" << log.all();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s) << c.name;
        EXPECT_FALSE(platform::exists(store.index().uid_file_path("Fake"))) << c.name;
        for (const auto& line : log.lines)
            EXPECT_FALSE(corvane::text::has_controls(line)) << c.name << ": " << line;
    }
}

TEST(Pop3FaultsTest, CloseInTheMiddleOfAMessageKeepsItForASingleFetch)
{
    Script s;
    s.messages = {sample_message("one", 800), sample_message("two", 3000), sample_message("three", 800)};
    s.close_in_retr = 1500;
    UserStore store;
    CaptureLog log;
    Outcome out = fetch_from(s, store, log);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.result, ResultCode::closed_by_server);
    EXPECT_TRUE(log.has("POP3 Connection closed by server"));
    EXPECT_EQ(out.retrieved, 1u);
    ASSERT_EQ(store.entries().size(), 2u);
    store::MessageEntry* two = store.entries()[1];
    EXPECT_TRUE(store.entries()[0]->has(store::flags::downloaded));
    EXPECT_EQ(two->subject, "two");
    EXPECT_FALSE(two->has(store::flags::downloaded));
    EXPECT_FALSE(platform::exists(store.index().message_path(*two)));
    EXPECT_TRUE(store.leftovers().empty());
    // The listing was complete: the UID file holds what is here.
    EXPECT_EQ(store.uid_file("Fake"), (std::vector<std::string>{"id-1", "id-2"}));

    // A normal check leaves the cut message alone and takes the third.
    s.close_in_retr.reset();
    CaptureLog again;
    Outcome second = fetch_from(s, store, again);
    EXPECT_TRUE(second.ok) << again.all();
    EXPECT_EQ(second.retrieved, 1u);
    EXPECT_TRUE(again.has("POP3 <<< LIST 3"));
    EXPECT_FALSE(again.has("POP3 <<< LIST 2"));

    // Opening it fetches it whole.
    FakeServer server([&](FakeConnection& c) { play(c, s); });
    CaptureLog single_log;
    Pop3Session single(fake_mailbox(server.port()), store.index(), single_log, fast_settings());
    EXPECT_TRUE(single.get_single(*two)) << single_log.all();
    EXPECT_EQ(store.message_file(*two), with_crlf(s.messages[1]));
}

TEST(Pop3FaultsTest, BadListingLinesAreSkippedAndAListWithoutSizeGivesTheHeader)
{
    Script s;
    s.messages = {sample_message("ok", 600)};
    s.extra_uidl = {"noblank",
                    "0 zero-number",
                    "x7 not-a-number",
                    "9 has\x01control",
                    "8 " + std::string(300, 'L'),
                    std::string("\xff\xfe\x00\x80", 4)};
    s.list_without_size = true;
    UserStore store;
    CaptureLog log;
    Outcome out = fetch_from(s, store, log);
    EXPECT_TRUE(out.ok) << log.all();
    EXPECT_EQ(log.count("POP3 Bad UIDL line"), s.extra_uidl.size());
    EXPECT_TRUE(log.has("POP3 No size in LIST reply : +OK 1"));
    ASSERT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.entries()[0]->subject, "ok");
    EXPECT_FALSE(store.entries()[0]->has(store::flags::downloaded));
    EXPECT_TRUE(log.has("POP3 <<< TOP 1 0"));
}

TEST(Pop3FaultsTest, HundredThousandListingLinesFetchOnlyWhatIsNew)
{
    Script s;
    s.messages = {sample_message("new one", 500)};
    s.ids = {"fresh"};
    std::vector<std::string> known;
    for (int i = 2; i <= 100'001; ++i) {
        known.push_back("known-" + std::to_string(i));
        s.extra_uidl.push_back(std::to_string(i) + " KNOWN-" + std::to_string(i));  // case does not matter
    }
    UserStore store;
    ASSERT_TRUE(write_uid_file(store.index().uid_file_path("Fake"), known).ok());
    CaptureLog log;
    Outcome out = fetch_from(s, store, log);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.retrieved, 1u);
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.uid_file("Fake").size(), 100'001u);
    EXPECT_EQ(out.progress->examined.load(), 100'001u);
    EXPECT_EQ(out.progress->to_handle.load(), 1u);
    EXPECT_EQ(out.progress->position.load(), 1u);
    EXPECT_TRUE(out.progress->listed.load());
}

TEST(Pop3FaultsTest, HugeMessagesAreBoundedAndNothingStoredIsLost)
{
    const std::string line = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n";
    std::string block;
    for (int i = 0; i < 13107; ++i)
        block += line;
    constexpr std::size_t blocks = 200;  // 200 MB
    const std::size_t huge = blocks * block.size();
    auto generate = [&](FakeConnection& c) {
        c.write("Subject: huge\r\n\r\n");
        for (std::size_t i = 0; i < blocks; ++i)
            c.write(block);
    };
    struct Case {
        std::string name;
        std::optional<std::uint32_t> claimed;  // nullopt: the true size
        bool want_stored;
    };
    for (const Case& c : std::vector<Case>{{"server lies about the size", 1000u, false},
                                           {"200 MB announced and sent", std::nullopt, true}}) {
        UserStore store;
        // A message from before, which nothing may touch.
        {
            Script before;
            before.messages = {sample_message("before", 500)};
            before.ids = {"before"};
            CaptureLog log;
            ASSERT_TRUE(fetch_from(before, store, log).ok);
        }
        const std::string before_file = store.message_file(*store.entries()[0]);
        Script s;
        s.messages = {"Subject: huge\n\n"};
        s.ids = {"huge"};
        s.claimed_size = c.claimed.value_or(static_cast<std::uint32_t>(huge + 17));
        s.retr_generator = generate;
        CaptureLog log;
        Outcome out = fetch_from(s, store, log, fast_settings(0));
        ASSERT_EQ(store.entries().size(), 2u) << c.name;
        store::MessageEntry* entry = store.entries()[1];
        EXPECT_EQ(entry->has(store::flags::downloaded), c.want_stored) << c.name << "\n" << log.all();
        if (c.want_stored) {
            EXPECT_TRUE(out.ok) << c.name;
            EXPECT_EQ(platform::file_size(store.index().message_path(*entry)), huge + 17) << c.name;
        } else {
            EXPECT_EQ(out.result, ResultCode::unexpected_reply) << c.name;
            EXPECT_TRUE(log.has("POP3 Message 1 is larger than the server said; not stored")) << c.name;
            EXPECT_FALSE(platform::exists(store.index().message_path(*entry))) << c.name;
        }
        EXPECT_TRUE(store.leftovers().empty()) << c.name;
        EXPECT_EQ(store.message_file(*store.entries()[0]), before_file) << c.name;
    }
}

}  // namespace
}  // namespace corvane::pop3
