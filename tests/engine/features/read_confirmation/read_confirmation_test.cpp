// Read confirmations through the real Corvane.so: opening a message that
// asks for one sends a disposition notification to a real SMTP server
// (aiosmtpd) once, and never when the administrator has not allowed it.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "common/platform/files.h"
#include "tests/peers/smtp/smtp_peer.h"
#include "tests/support/engine_host.h"
#include "tests/support/store_seed.h"

namespace corvane {
namespace {

constexpr std::uint32_t flag_confirm_requested = 0x200;

std::string read(const std::string& path)
{
    auto text = platform::read_file(path);
    return text ? *text : std::string("<missing>");
}

class ReadConfirmationTest : public ::testing::Test {
protected:
    void start(bool allowed)
    {
        ASSERT_EQ(peer.start(), "");
        testing::EngineHost::Options options;
        options.templates_from = std::string(CORVANE_SOURCE_DIR) + "/templates";
        options.settings = {{"General", "LogLevel", "1"},
                            {"General", "SendReadConfirmations", allowed ? "Yes" : "No"},
                            {"SmtpClient", "Host", "127.0.0.1"},
                            {"SmtpClient", "Port", std::to_string(peer.port())}};
        host = std::make_unique<testing::EngineHost>(options);
        ASSERT_TRUE(host->start()) << host->log_text();
        user_dir = host->users_dir() + "/alice";
        ASSERT_TRUE(platform::make_directories(user_dir));
        ASSERT_TRUE(platform::write_file_atomic(
            user_dir + "/User.ini",
            "[User]\nPassword=-secret\n[MailHost1]\nMailbox=Home\nEMail=alice@corvane.test\nHost=127.0.0.1\n"
            "User=a\nPass=-x\nActive=No\nDefault=Yes\n"));
        testing::Message asks(7, "Inbox", testing::flag_downloaded | flag_confirm_requested, "uid-7", "Home");
        asks.subject = "Grüße";
        testing::seed_store(user_dir, 8, {asks});
        ASSERT_TRUE(platform::write_file_atomic(
            user_dir + "/Inbox/CV000007.msg",
            "From: Bob <bob@x.test>\r\nTo: alice@corvane.test\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
            "Message-ID: <asks@x.test>\r\nDisposition-Notification-To: Bob <receipts@x.test>\r\n"
            "X-Confirm-Reading-To: other@x.test\r\n\r\nPlease confirm.\r\n"));
        testing::EngineRequest logon;
        logon.query_string = "View=Main";
        logon.body = "User=alice&Password=secret";
        auto response = host->request(logon);
        std::smatch match;
        static const std::regex link("Session=([A-Z]{7})");
        ASSERT_TRUE(std::regex_search(response.body, match, link));
        id = match[1].str();
        for (const auto& line : response.headers) {
            if (line.rfind("Set-Cookie: CorvaneKey_", 0) == 0)
                cookie = line.substr(12, line.find(';') - 12);
        }
        open();  // the first page is the frame set
    }

    void open()
    {
        testing::EngineRequest request;
        request.query_string = "Session=" + id + "&View=Message&Number=7";
        request.cookie = cookie;
        host->request(request);
    }

    std::uint32_t flags() { return testing::stored_index(user_dir)[7].flags; }

    testing::SmtpPeer peer;
    std::unique_ptr<testing::EngineHost> host;
    std::string user_dir, id, cookie;
};

TEST_F(ReadConfirmationTest, TheFirstDisplayAnswersOnce)
{
    start(true);
    open();
    ASSERT_EQ(peer.messages().size(), 1u) << host->log_text();
    const std::string mdn = read(peer.messages()[0]);
    const std::string envelope = read(peer.messages()[0].substr(0, peer.messages()[0].size() - 4) + ".json");
    EXPECT_NE(envelope.find("\"rcpt_tos\": [\"receipts@x.test\"]"), std::string::npos) << envelope;
    EXPECT_NE(envelope.find("\"mail_from\": \"alice@corvane.test\""), std::string::npos) << envelope;
    for (const char* want :
         {"\r\nTo: <receipts@x.test>\r\n",
          "Content-Type: multipart/report; boundary=\"---PART-BREAK\";\r\n"
          "\treport-type=disposition-notification\r\n",
          "\r\nSubject: Notification for =?UTF-8?", "regarding \"Grüße\" has been displayed by alice@corvane.test.",
          "Content-Type: message/disposition-notification\r\n\r\n"
          "Final-Recipient: rfc822; <alice@corvane.test>\r\n"
          "Original-Message-ID: <asks@x.test>\r\n"
          "Disposition: manual-action/MDN-sent-automatically; displayed\r\n",
          "\r\n-----PART-BREAK--\r\n"})
        EXPECT_NE(mdn.find(want), std::string::npos) << want << "\n" << mdn;
    EXPECT_FALSE(flags() & flag_confirm_requested);
    EXPECT_TRUE(host->log_contains("Sending read confirmation to receipts@x.test"));

    open();
    EXPECT_EQ(peer.messages().size(), 1u) << "a message is answered once";
}

TEST_F(ReadConfirmationTest, NotAllowedMeansNeverForThatMessage)
{
    start(false);
    open();
    EXPECT_TRUE(peer.messages().empty());
    EXPECT_FALSE(flags() & flag_confirm_requested);
    EXPECT_FALSE(host->log_contains("Sending read confirmation"));
}

}  // namespace
}  // namespace corvane
