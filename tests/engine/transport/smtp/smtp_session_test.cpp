#include "engine/transport/smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/files.h"
#include "tests/engine/transport/smtp/fake_relay.h"
#include "tests/peers/smtp/smtp_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_log.h"

namespace corvane::transport {
namespace {

using testing_support::read_or_missing;

class SmtpSessionTest : public ::testing::Test {
protected:
    std::string message_file(const std::string& text)
    {
        const std::string path = tmp / ("m" + std::to_string(++m_files) + ".txt");
        EXPECT_TRUE(platform::write_file_atomic(path, text).ok());
        return path;
    }
    SmtpSettings relay(int port)
    {
        SmtpSettings s;
        s.host = "127.0.0.1";
        s.port = port;
        s.helo_domain = "corvane.test";
        return s;
    }

    testing::TempDir tmp;
    testing_support::TextLog log;
    int m_files = 0;
};

TEST_F(SmtpSessionTest, DeliversToARealServer)
{
    testing::SmtpPeer peer;
    ASSERT_EQ(peer.start({"--size", "100000"}), "");
    // Lines beginning with "." (the very first byte too), bare LFs, a lone
    // CR, and no final line end: what arrives is the same text in CR LF.
    const std::string text = ".first\nSubject: dots\n\n..two\n.\nmiddle\rline\nlast";
    struct Case {
        const char* what;
        bool esmtp;
        std::string helo;
        std::string recipients;
        bool ok;
        SmtpResult result;
        std::vector<std::string> rcpts;
    };
    const std::vector<Case> cases = {
        {"To, CC and BCC in order",
         true,
         "corvane.test",
         "\"Doe, J\" <a@x.test>, b@x.test;c@x.test (C)",
         true,
         SmtpResult::none,
         {"a@x.test", "b@x.test", "c@x.test"}},
        {"HELO without ESMTP", false, "corvane.test", "a@x.test", true, SmtpResult::none, {"a@x.test"}},
        {"a refused EHLO falls back to HELO", true, "noehlo.example", "a@x.test", true, SmtpResult::none, {"a@x.test"}},
        {"a refused recipient ends the session",
         true,
         "corvane.test",
         "a@x.test, reject-b@x.test, c@x.test",
         false,
         SmtpResult::protocol_error,
         {}},
        {"refused EHLO and HELO", true, "bad.example", "a@x.test", false, SmtpResult::protocol_error, {}},
    };
    std::size_t stored = 0;
    for (const Case& c : cases) {
        SmtpSettings s = relay(peer.port());
        s.use_esmtp = c.esmtp;
        s.helo_domain = c.helo;
        log.text.clear();
        SmtpSession session(s, log);
        EXPECT_EQ(session.send("Jo <jo@corvane.test>", c.recipients, message_file(text)), c.ok) << c.what << log.text;
        EXPECT_EQ(session.result(), c.result) << c.what;
        if (!c.ok) {
            EXPECT_EQ(peer.messages().size(), stored) << c.what;
            EXPECT_FALSE(log.has("c@x.test")) << c.what << ": a recipient after the refused one was tried";
            continue;
        }
        ASSERT_EQ(peer.messages().size(), ++stored) << c.what;
        const std::string eml = peer.messages().back();
        EXPECT_EQ(read_or_missing(eml), ".first\r\nSubject: dots\r\n\r\n..two\r\n.\r\nmiddle\r\nline\r\nlast\r\n")
            << c.what;
        const std::string envelope = read_or_missing(eml.substr(0, eml.size() - 4) + ".json");
        std::string want_rcpts = "\"rcpt_tos\": [";
        for (std::size_t i = 0; i < c.rcpts.size(); ++i)
            want_rcpts += (i ? ", \"" : "\"") + c.rcpts[i] + "\"";
        EXPECT_NE(envelope.find(want_rcpts + "]"), std::string::npos) << c.what << envelope;
        EXPECT_NE(envelope.find("\"mail_from\": \"jo@corvane.test\""), std::string::npos) << envelope;
        EXPECT_EQ(envelope.find("SIZE=") != std::string::npos, c.esmtp && c.helo == "corvane.test")
            << c.what << envelope;
        EXPECT_TRUE(log.has("SMTP Completed successfully")) << c.what;
    }

    // Larger than the relay takes: refused at MAIL (SIZE) with a protocol error.
    SmtpSession large(relay(peer.port()), log);
    EXPECT_FALSE(large.send("jo@corvane.test", "a@x.test", message_file(std::string(200000, 'x'))));
    EXPECT_EQ(large.result(), SmtpResult::protocol_error);
    EXPECT_EQ(large.last_reply().substr(0, 3), "552");

    // Nothing to send to: no connection at all.
    log.text.clear();
    SmtpSession nobody(relay(peer.port()), log);
    EXPECT_FALSE(nobody.send("jo@corvane.test", " ; ,, ;", message_file(text)));
    EXPECT_EQ(nobody.result(), SmtpResult::no_recipient);
    EXPECT_TRUE(log.has("SMTP Message not To: anyone"));
    EXPECT_FALSE(log.has("Connecting"));
    SmtpSession missing(relay(peer.port()), log);
    EXPECT_FALSE(missing.send("jo@corvane.test", "a@x.test", tmp / "no such file"));
    EXPECT_EQ(missing.result(), SmtpResult::no_message_file);
    EXPECT_EQ(peer.messages().size(), stored);
}

TEST_F(SmtpSessionTest, TlsAndLogin)
{
    testing::SmtpPeer starttls;
    ASSERT_EQ(starttls.start({"--tls", "starttls", "--login", "jo:s3cret pass"}), "");
    testing::SmtpPeer implicit;
    ASSERT_EQ(implicit.start({"--tls", "implicit", "--login", "jo:s3cret pass"}), "");
    testing::SmtpPeer plain;
    ASSERT_EQ(plain.start(), "");

    struct Case {
        const char* what;
        testing::SmtpPeer* peer;
        SmtpTls tls;
        bool trust;
        std::string user, password;
        SmtpResult result;
    };
    const std::vector<Case> cases = {
        {"STARTTLS and AUTH", &starttls, SmtpTls::starttls, true, "jo", "s3cret pass", SmtpResult::none},
        {"TLS from the first byte", &implicit, SmtpTls::implicit, true, "jo", "s3cret pass", SmtpResult::none},
        {"a wrong password", &starttls, SmtpTls::starttls, true, "jo", "wrong", SmtpResult::auth_refused},
        {"a certificate nobody vouches for", &starttls, SmtpTls::starttls, false, "jo", "s3cret pass",
         SmtpResult::tls_failed},
        {"credentials never go out in plain text", &starttls, SmtpTls::none, true, "jo", "s3cret pass",
         SmtpResult::auth_refused},
        {"STARTTLS asked of a relay that has none", &plain, SmtpTls::starttls, true, "", "", SmtpResult::tls_failed},
    };
    for (const Case& c : cases) {
        SmtpSettings s = relay(c.peer->port());
        s.tls = c.tls;
        s.ca_file = c.trust ? c.peer->certificate() : "";
        s.user = c.user;
        s.password = c.password;
        log.text.clear();
        const std::size_t before = c.peer->messages().size();
        SmtpSession session(s, log);
        const bool ok = session.send("jo@corvane.test", "a@x.test", message_file("Subject: tls\n\nhi\n"));
        EXPECT_EQ(ok, c.result == SmtpResult::none) << c.what << "\n" << log.text;
        EXPECT_EQ(session.result(), c.result) << c.what << "\n" << log.text;
        EXPECT_EQ(c.peer->messages().size(), before + (ok ? 1 : 0)) << c.what;
        EXPECT_FALSE(log.has("s3cret")) << c.what << ": the password reached the log";
        if (ok) {
            const std::string eml = c.peer->messages().back();
            const std::string envelope = read_or_missing(eml.substr(0, eml.size() - 4) + ".json");
            EXPECT_NE(envelope.find("\"tls\": true"), std::string::npos) << envelope;
            EXPECT_NE(envelope.find("\"login\": \"jo\""), std::string::npos) << envelope;
        }
    }
}

TEST_F(SmtpSessionTest, RelaysThatMisbehave)
{
    using testing::Conversation;
    struct Case {
        const char* what;
        std::function<void(Conversation&)> script;
        SmtpResult result;
        std::chrono::milliseconds idle{2000};
    };
    const std::vector<Case> cases = {
        {"letters instead of a code",
         [](Conversation& c) {
             c.send("220 ready\r\n");
             c.line();
             c.send("hello there\r\n");
             c.line();
         },
         SmtpResult::protocol_error},
        {"a reply in one-byte pieces, a multi-line EHLO refusal, then HELO",
         [](Conversation& c) {
             c.trickle("220 ready\r\n", 5);
             c.line();
             c.send("500-no\r\n500-such\r\n500 command\r\n");
             if (c.line().rfind("HELO ", 0) != 0)
                 return;
             c.send("250 ok\r\n");
             c.line();
             c.trickle("250 sender ok\r\n", 2);
             c.line();
             c.send("250 rcpt ok\r\n");
             c.line();
             c.send("354 go\r\n");
             c.data();
             c.send("250 queued\r\n");
             c.line();
             c.send("221 bye\r\n");
         },
         SmtpResult::none},
        {"silence after the greeting",
         [](Conversation& c) {
             c.send("220 ready\r\n");
             c.line();
             std::this_thread::sleep_for(std::chrono::milliseconds(800));
         },
         SmtpResult::timed_out, std::chrono::milliseconds(300)},
        {"a hang-up in the middle of a reply",
         [](Conversation& c) {
             c.send("220 ready\r\n");
             c.line();
             c.send("250-half");
             c.close();
         },
         SmtpResult::closed_by_server},
        {"a reply longer than any relay sends",
         [](Conversation& c) {
             c.send("220 " + std::string(5000, 'x') + "\r\n");
             c.line();
         },
         SmtpResult::overflow},
        {"garbage bytes", [](Conversation& c) { c.send(std::string("\x00\xff\r\n\x01\x02", 6)); },
         SmtpResult::protocol_error},
        {"an answer while the data still goes out",
         [](Conversation& c) {
             c.send("220 ready\r\n");
             for (const char* reply : {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
                 c.line();
                 c.send(reply);
             }
             c.send("554 stop right there\r\n");
             c.data();
         },
         SmtpResult::protocol_error},
    };
    const std::string big = std::string(3u << 20, 'b') + "\n";
    for (const Case& c : cases) {
        testing::FakeRelay fake(c.script);
        SmtpSettings s = relay(fake.port());
        s.idle_timeout = c.idle;
        log.text.clear();
        SmtpSession session(s, log);
        const auto started = std::chrono::steady_clock::now();
        const bool ok = session.send("jo@corvane.test", "a@x.test", message_file(big));
        EXPECT_EQ(ok, c.result == SmtpResult::none) << c.what << "\n" << log.text.substr(0, 2000);
        EXPECT_EQ(session.result(), c.result) << c.what << "\n" << log.text.substr(0, 2000);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << c.what;
    }
}

}  // namespace
}  // namespace corvane::transport
