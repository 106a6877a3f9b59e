// Writing mail through the real Corvane.so: the compose pages posted as a
// browser posts them (form-encoded and multipart), messages sent to a real
// SMTP server (aiosmtpd), copies and drafts in the user's store, the
// address book page, the draft rescue of an expired session. What arrived
// at the server is checked byte for byte.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "common/text/base64.h"
#include "engine/core/cgi/encoding.h"
#include "tests/peers/smtp/smtp_peer.h"
#include "tests/support/engine_host.h"
#include "tests/support/store_seed.h"

namespace corvane::compose {
namespace {

using testing::EngineHost;
using testing::EngineRequest;
using testing::EngineResponse;

std::string read(const std::string& path)
{
    auto text = platform::read_file(path);
    return text ? *text : std::string("<missing>");
}

std::string url(std::string_view s)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

class ComposeFlowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(peer.start(), "");
        EngineHost::Options options;
        options.templates_from = std::string(CORVANE_SOURCE_DIR) + "/templates";
        options.mime_types = "image/png png\napplication/octet-stream bin\n";
        options.settings = {{"General", "LogLevel", "1"},
                            {"SmtpClient", "Host", "127.0.0.1"},
                            {"SmtpClient", "Port", std::to_string(peer.port())},
                            {"SmtpClient", "HeloDomain", "corvane.test"}};
        options.settings.insert(options.settings.end(), extra_settings.begin(), extra_settings.end());
        host = std::make_unique<EngineHost>(options);
        ASSERT_TRUE(host->start()) << host->log_text();
        user_dir = host->users_dir() + "/alice";
        ASSERT_TRUE(platform::make_directories(user_dir));
        ASSERT_TRUE(platform::write_file_atomic(
            user_dir + "/User.ini",
            "[User]\nPassword=-secret\nFullName=Alice\nEMail=alice@corvane.test\n"
            "[MailHost1]\nMailbox=Home\nFullName=Alice Liddell\nEMail=alice@corvane.test\nHost=127.0.0.1\n"
            "User=alice\nPass=-x\nActive=No\nDefault=Yes\n"
            "[MailHost2]\nMailbox=Work\nEMail=al@work.test\nHost=127.0.0.1\nUser=al\nPass=-x\nActive=No\n"));
        ASSERT_TRUE(platform::write_file_atomic(user_dir + "/Home.sig", "-- \r\nAlice\r\n"));
    }

    void logon()
    {
        EngineRequest request;
        request.query_string = "View=Main";
        request.body = "User=alice&Password=secret";
        EngineResponse response = host->request(request);
        std::smatch match;
        static const std::regex link("Session=([A-Z]{7})");
        ASSERT_TRUE(std::regex_search(response.body, match, link)) << response.body;
        id = match[1].str();
        for (const auto& line : response.headers) {
            if (line.rfind("Set-Cookie: CorvaneKey_", 0) == 0)
                key_cookie = line.substr(12, line.find(';') - 12);
        }
        // The first page of a session is the frame set.
        get("View=List");
    }

    EngineResponse get(const std::string& query)
    {
        EngineRequest request;
        request.query_string = "Session=" + id + "&" + query;
        request.cookie = key_cookie;
        return host->request(request);
    }

    EngineResponse post(const std::string& view, const Fields& fields)
    {
        EngineRequest request;
        request.query_string = "Session=" + id + "&View=" + view;
        request.cookie = key_cookie;
        for (const auto& [name, value] : fields)
            request.body += (request.body.empty() ? "" : "&") + url(name) + "=" + url(value);
        return host->request(request);
    }

    EngineResponse post_multipart(const std::string& view, const Fields& fields, const std::string& file_name,
                                  const std::string& file)
    {
        const std::string boundary = "----WebKitFormBoundaryC0rv4n3";
        EngineRequest request;
        request.query_string = "Session=" + id + "&View=" + view;
        request.cookie = key_cookie;
        request.content_type = "multipart/form-data; boundary=" + boundary;
        for (const auto& [name, value] : fields)
            request.body +=
                "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
        request.body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"Attachment\"; filename=\"" +
                        file_name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + file + "\r\n--" +
                        boundary + "--\r\n";
        return host->request(request);
    }

    std::string compose_file(const std::string& name) { return read(host->temp_dir() + "/" + id + "/" + name); }
    std::map<std::uint32_t, testing::Stored> index() { return testing::stored_index(user_dir); }
    std::vector<std::uint32_t> in_folder(const std::string& folder, std::uint32_t flags = 0)
    {
        std::vector<std::uint32_t> numbers;
        for (const auto& [number, entry] : index()) {
            if (entry.folder == folder && (entry.flags & flags) == flags)
                numbers.push_back(number);
        }
        return numbers;
    }
    std::string stat(const std::string& key) { return ini::Profile(user_dir + "/User.ini").text("Stats", key, ""); }

    std::vector<testing::EngineSetting> extra_settings;
    testing::SmtpPeer peer;
    std::unique_ptr<EngineHost> host;
    std::string user_dir;
    std::string id;
    std::string key_cookie;
};

TEST_F(ComposeFlowTest, WriteAttachSendAndKeepACopy)
{
    logon();
    get("View=Compose");
    EXPECT_EQ(compose_file(".body.txt"), "\n-- \nAlice\n");
    EXPECT_NE(compose_file(".headers.txt").find("From: \"Alice Liddell\" <alice@corvane.test>\r\n"), std::string::npos);

    std::string data;
    std::mt19937 rng(3);
    for (int i = 0; i < 300000; ++i)
        data += static_cast<char>(rng());
    data += "\r\n--" + std::string(20, '-') + "\r\n";
    post_multipart("Compose-Attach", {{"Attach", "Attach"}}, "C:\\Users\\alice\\pictures.bin", data);
    EXPECT_EQ(compose_file("pictures.bin"), data);

    const EngineResponse sent = post("Compose", {{"From", "1"},
                                                 {"To", "Bob <bob@x.test>"},
                                                 {"CC", "carol@x.test"},
                                                 {"BCC", "dave@x.test"},
                                                 {"Subject", "Grüße\r\nBcc: evil@x.test"},
                                                 {"Body", "Hello Bob,\r\n.\r\nsee the pictures.\r\n"},
                                                 {"SendNow", "Send"}});
    ASSERT_EQ(peer.messages().size(), 1u) << host->log_text();
    const std::string eml = read(peer.messages()[0]);
    const std::string envelope = read(peer.messages()[0].substr(0, peer.messages()[0].size() - 4) + ".json");
    EXPECT_NE(envelope.find("\"mail_from\": \"al@work.test\""), std::string::npos) << envelope;
    EXPECT_NE(envelope.find("\"rcpt_tos\": [\"bob@x.test\", \"carol@x.test\", \"dave@x.test\"]"), std::string::npos)
        << envelope;
    const std::string head = eml.substr(0, eml.find("\r\n\r\n") + 2);
    EXPECT_NE(head.find("\r\nFrom: \"Alice\" <al@work.test>\r\nTo: Bob <bob@x.test>\r\nCC: carol@x.test\r\n"),
              std::string::npos)
        << head;
    // The line break typed into the Subject stays inside it: no header of its own.
    EXPECT_NE(head.find("\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?=  Bcc: evil@x.test\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("\r\nBcc:"), std::string::npos) << head;
    EXPECT_EQ(head.find("\r\nBCC:"), std::string::npos) << head;
    EXPECT_NE(eml.find("\r\n\r\nHello Bob,\r\n.\r\nsee the pictures.\r\n"), std::string::npos) << eml.substr(0, 2000);
    // The attachment, decoded from what the server received.
    const std::size_t at = eml.find("filename=\"pictures.bin\"\r\n\r\n");
    ASSERT_NE(at, std::string::npos);
    const std::size_t start = eml.find("\r\n\r\n", at) + 4;
    const std::string base64 = eml.substr(start, eml.find("\r\n--", start) - start);
    EXPECT_EQ(text::base64_decode(base64).value_or(""), data);

    // A copy in Sent, read; the compose is over; the page says so.
    EXPECT_EQ(in_folder("Sent", testing::flag_read).size(), 1u);
    EXPECT_EQ(stat("Sent"), "1");
    EXPECT_EQ(compose_file(".body.txt"), "<missing>");
    EXPECT_EQ(compose_file("pictures.bin"), "<missing>");
    EXPECT_NE(sent.body.find("Your message has been sent."), std::string::npos) << sent.body;
}

TEST_F(ComposeFlowTest, ReplyQuotesAndMarksTheOriginal)
{
    testing::seed_store(user_dir, 5, {testing::Message(3, "Inbox", testing::flag_downloaded | testing::flag_read)});
    ASSERT_TRUE(platform::write_file_atomic(
        user_dir + "/Inbox/CV000003.msg",
        "From: Carol <carol@example.com>\r\nTo: alice@corvane.test, Bob <bob@x.test>\r\nSubject: Lunch\r\n"
        "Message-ID: <lunch@example.com>\r\nDate: Tue, 07 Mar 2023 09:05:03 +0100\r\n\r\n"
        "Shall we meet at noon?\r\n"));
    logon();
    get("View=Message&Number=3");
    post("Compose", {{"ReplyAll", "Reply to all"}});
    EXPECT_NE(compose_file(".headers.txt").find("To: \"Carol\" <carol@example.com>, \"Bob\" <bob@x.test>\r\n"),
              std::string::npos)
        << compose_file(".headers.txt");
    EXPECT_NE(compose_file(".body.txt").find("\n> Shall we meet at noon?\n"), std::string::npos);

    // The browser sends the page back: the text and the button.
    post("Compose", {{"Body", compose_file(".body.txt")}, {"SendNow", "Send"}});
    ASSERT_EQ(peer.messages().size(), 1u) << host->log_text();
    const std::string eml = read(peer.messages()[0]);
    EXPECT_NE(eml.find("\r\nSubject: Re: Lunch\r\n"), std::string::npos);
    EXPECT_NE(eml.find("\r\nIn-Reply-To: <lunch@example.com>\r\n"), std::string::npos);
    EXPECT_NE(eml.find("\r\n> Shall we meet at noon?\r\n"), std::string::npos);
    EXPECT_TRUE(index()[3].flags & 0x08) << "the original is marked replied";
}

TEST_F(ComposeFlowTest, ATenMegabyteTextIsKeptAndSentWhole)
{
    logon();
    get("View=Compose");
    std::string text;
    while (text.size() < (10u << 20))
        text += "A line of a long text, " + std::to_string(text.size()) + ".\r\n";
    text += std::string(5000, 'w');  // and one line longer than SMTP allows
    post("Compose", {{"To", "bob@x.test"}, {"Subject", "long"}, {"Body", text}});
    EXPECT_EQ(compose_file(".body.txt").size(), text.size());
    post("Compose", {{"SendNow", "Send"}});
    ASSERT_EQ(peer.messages().size(), 1u) << host->log_text();
    const std::string eml = read(peer.messages()[0]);
    EXPECT_NE(eml.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    EXPECT_NE(eml.find("\r\nA line of a long text, 0.\r\n"), std::string::npos);
    EXPECT_GT(eml.size(), text.size());
}

// Whatever the relay refuses, the page says the message was not sent, the
// error is counted and the compose stays as it was typed.
TEST_F(ComposeFlowTest, ARefusingRelayKeepsTheCompose)
{
    testing::SmtpPeer small;
    ASSERT_EQ(small.start({"--size", "2000"}), "");
    struct Case {
        const char* what;
        std::string to, helo;
        testing::SmtpPeer* relay;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"a refused recipient", "ann@x.test, reject-1@x.test", "corvane.test", &peer, "SMTP Protocol error : 550"},
        {"refused EHLO and HELO", "ann@x.test", "bad.example", &peer, "SMTP Protocol error : 550"},
        {"too large for the relay", "ann@x.test", "corvane.test", &small, "SMTP Protocol error : 552"},
    };
    logon();
    get("View=Compose");
    int errors = 0;
    for (const Case& c : cases) {
        host->set("SmtpClient", "HeloDomain", c.helo);
        host->set("SmtpClient", "Port", std::to_string(c.relay->port()));
        const std::string body = "text kept " + std::string(3000, 'x');
        const EngineResponse page =
            post("Compose", {{"To", c.to}, {"Subject", "s"}, {"Body", body}, {"SendNow", "Send"}});
        EXPECT_TRUE(c.relay->messages().empty()) << c.what;
        EXPECT_NE(page.body.find("The message could not be sent."), std::string::npos) << c.what;
        EXPECT_EQ(compose_file(".body.txt"), body) << c.what;
        EXPECT_NE(compose_file(".headers.txt").find("To: " + c.to + "\r\n"), std::string::npos) << c.what;
        EXPECT_EQ(stat("SendErrors"), std::to_string(++errors)) << c.what;
        EXPECT_TRUE(host->log_contains(c.logged)) << c.what << host->log_text();
    }
    EXPECT_EQ(in_folder("Sent").size(), 0u);
}

// The relay of today: STARTTLS, a login, a password an administrator typed
// in clear that is scrambled on first use.
TEST_F(ComposeFlowTest, SendsThroughStartTlsWithALogin)
{
    testing::SmtpPeer secure;
    ASSERT_EQ(secure.start({"--tls", "starttls", "--login", "alice:s3cret pass"}), "");
    host->set("SmtpClient", "Port", std::to_string(secure.port()));
    host->set("SmtpClient", "TLS", "STARTTLS");
    host->set("SmtpClient", "CAFile", secure.certificate());
    host->set("SmtpClient", "User", "alice");
    host->set("SmtpClient", "Password", "-s3cret pass");
    logon();
    get("View=Compose");
    for (int round = 0; round < 2; ++round) {
        const EngineResponse page =
            post("Compose", {{"To", "bob@x.test"}, {"Subject", "over TLS"}, {"Body", "hello"}, {"SendNow", "Send"}});
        EXPECT_NE(page.body.find("Your message has been sent."), std::string::npos) << host->log_text();
        ASSERT_EQ(secure.messages().size(), static_cast<std::size_t>(round + 1));
        const std::string eml = secure.messages().back();
        const std::string envelope = read(eml.substr(0, eml.size() - 4) + ".json");
        EXPECT_NE(envelope.find("\"tls\": true"), std::string::npos) << envelope;
        EXPECT_NE(envelope.find("\"login\": \"alice\""), std::string::npos) << envelope;
        // The second round reads the password back from its scrambled form.
        const std::string stored = host->setting("SmtpClient", "Password");
        EXPECT_FALSE(stored.empty());
        EXPECT_EQ(stored.find("s3cret"), std::string::npos) << stored;
        get("View=Compose&New=Yes");
    }
    EXPECT_FALSE(host->log_contains("s3cret"));
}

TEST_F(ComposeFlowTest, DraftsAndTheRescueOfAnExpiredSession)
{
    logon();
    get("View=Compose");
    post("Compose", {{"To", "bob@x.test"}, {"Subject", "later"}, {"Body", "draft text"}, {"SendLater", "Save"}});
    EXPECT_TRUE(peer.messages().empty());
    ASSERT_EQ(in_folder("Drafts", 0x40).size(), 1u);
    EXPECT_EQ(compose_file(".body.txt"), "<missing>");

    // The session ends while a text is being written; the next post of the
    // page keeps the text as a draft, new.
    const std::string old_id = id;
    get("View=Logout");
    const EngineResponse after =
        post("Compose",
             {{"ComposeUser", "alice"}, {"Subject", "rescued"}, {"Body", "typed for an hour"}, {"SendNow", "Send"}});
    EXPECT_NE(after.body.find("Your session has expired."), std::string::npos) << after.body;
    EXPECT_TRUE(peer.messages().empty());
    const auto drafts = in_folder("Drafts", 0x40);
    ASSERT_EQ(drafts.size(), 2u);
    EXPECT_TRUE(index()[drafts.back()].flags & testing::flag_new);
    EXPECT_TRUE(host->log_contains("Saving draft for user alice"));

    // Without the session's key the text of someone else's account is never kept.
    key_cookie.clear();
    post("Compose", {{"ComposeUser", "alice"}, {"Body", "planted"}});
    EXPECT_EQ(in_folder("Drafts", 0x40).size(), 2u);
}

// Remove takes an attachment of the compose and nothing else, whatever the
// form names.
TEST_F(ComposeFlowTest, RemoveTakesOnlyAnAttachment)
{
    logon();
    get("View=Compose");
    post_multipart("Compose-Attach", {{"Attach", "Attach"}}, "keep.txt", "kept");
    post_multipart("Compose-Attach", {{"Attach", "Attach"}}, "gone.txt", "gone");
    const std::string outside = host->temp_dir() + "/outside.txt";
    ASSERT_TRUE(platform::write_file_atomic(outside, "x"));
    ASSERT_TRUE(platform::write_file_atomic(user_dir + "/victim.txt", "x"));
    for (const std::string& name :
         std::vector<std::string>{"../outside.txt", outside, "../../Users/alice/victim.txt", ".body.txt",
                                  ".headers.txt", ".", "..", "", "keep.txt/", "keep.txt\n"})
        post("Compose", {{"Attachments", name}, {"Remove", "Remove"}});
    EXPECT_EQ(compose_file("keep.txt"), "kept");
    EXPECT_EQ(compose_file("gone.txt"), "gone");
    EXPECT_NE(compose_file(".body.txt"), "<missing>");
    EXPECT_NE(compose_file(".headers.txt"), "<missing>");
    EXPECT_EQ(read(outside), "x");
    EXPECT_EQ(read(user_dir + "/victim.txt"), "x");
    post("Compose", {{"Attachments", "gone.txt"}, {"Remove", "Remove"}});
    EXPECT_EQ(compose_file("gone.txt"), "<missing>");
    EXPECT_EQ(compose_file("keep.txt"), "kept");
}

class SmallUploadLimit : public ComposeFlowTest {
protected:
    SmallUploadLimit() { extra_settings = {{"General", "MaxUploadSize", "4"}}; }
};

TEST_F(SmallUploadLimit, UploadsOverTheLimitAreRefused)
{
    logon();
    get("View=Compose");
    const EngineResponse page =
        post_multipart("Compose-Attach", {{"Attach", "Attach"}}, "big.bin", std::string(10000, 'x'));
    EXPECT_EQ(compose_file("big.bin"), "<missing>");
    EXPECT_NE(page.body.find("upload limit of 4 KB"), std::string::npos) << page.body;
    post_multipart("Compose-Attach", {{"Attach", "Attach"}}, "small.bin", "tiny");
    EXPECT_EQ(compose_file("small.bin"), "tiny");
}

TEST_F(ComposeFlowTest, TheAddressBookFillsTheHeaderItWasAskedFor)
{
    logon();
    get("View=Compose");
    post("AddrBook", {{"AddrName:1", "Ann Lee"},
                      {"AddrEMail:1", "ann@x.test"},
                      {"AddrComment:1", "work"},
                      {"AddrName:2", "Team"},
                      {"AddrEMail:2", "a@x.test, b@x.test"},
                      {"AddrName:0", "Gone"},
                      {"AddrEMail:0", "gone@x.test"},
                      {"Delete:0", "Delete"}});
    EXPECT_EQ(read(user_dir + "/AddrBook.txt"), "Ann Lee\tann@x.test\twork\r\nTeam\ta@x.test, b@x.test\t\r\n");
    // A form without rows leaves the book alone.
    post("AddrBook", {{"Save", "Save"}});
    EXPECT_EQ(read(user_dir + "/AddrBook.txt"), "Ann Lee\tann@x.test\twork\r\nTeam\ta@x.test, b@x.test\t\r\n");

    post("Compose", {{"To", "first@x.test"}, {"CCAddr", "CC..."}});
    post("AddrBook", {{"Header", "CC"},
                      {"AddrNum", "1"},
                      {"AddrNum", "2"},
                      {"AddrName:1", "Ann Lee"},
                      {"AddrEMail:1", "ann@x.test"},
                      {"AddrName:2", "Team"},
                      {"AddrEMail:2", "a@x.test, b@x.test"},
                      {"Finished", "OK"}});
    const std::string headers = compose_file(".headers.txt");
    EXPECT_NE(headers.find("To: first@x.test\r\n"), std::string::npos) << headers;
    EXPECT_NE(headers.find("CC: \"Ann Lee\" <ann@x.test>, a@x.test, b@x.test\r\n"), std::string::npos) << headers;
}

}  // namespace
}  // namespace corvane::compose
