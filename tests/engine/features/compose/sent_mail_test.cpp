// Built messages sent to a real SMTP server (aiosmtpd) and read back from
// the bytes it received: a thousand generated messages through Python's
// email package, and header fields carrying line breaks and NULs that must
// never become a header line or an SMTP command of their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/mime_types/mime_type_table.h"
#include "common/platform/files.h"
#include "engine/features/compose/compose_directory.h"
#include "engine/features/compose/message_builder.h"
#include "engine/features/compose/sending.h"
#include "tests/engine/features/compose/generated_mail.h"
#include "tests/peers/smtp/smtp_peer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_log.h"

namespace corvane::compose {
namespace {

using testing_support::read_or_missing;

class SentMailTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(peer.start(), "");
        (void)dir.ensure();
        types.add_text("image/png png\ntext/plain txt\napplication/pdf pdf\n");
        options.types = &types;
        options.now = 1678176303;
        smtp.host = "127.0.0.1";
        smtp.port = peer.port();
        smtp.helo_domain = "corvane.test";
    }
    // The n-th message the server kept (from 1): its bytes and its envelope.
    std::string received(std::size_t n, const char* ext) const
    {
        char name[32];
        std::snprintf(name, sizeof name, "/%04zu.%s", n, ext);
        return peer.mail_dir() + name;
    }

    testing::SmtpPeer peer;
    testing::TempDir tmp;
    ComposeDirectory dir{tmp / "c"};
    mime_types::MimeTypeTable types;
    BuildOptions options;
    transport::SmtpSettings smtp;
    testing_support::TextLog log{2};
};

std::string envelope_list(const std::vector<testing::Address>& list)
{
    std::string out;
    for (const auto& a : list)
        out += (out.empty() ? "\"" : ", \"") + a.address + "\"";
    return out;
}

TEST_F(SentMailTest, AThousandGeneratedMessagesArriveAsWritten)
{
    testing::GeneratedMail generator(1015);
    const std::size_t count = 1000;
    const std::string out = tmp / "read";
    ASSERT_TRUE(platform::make_directories(out));
    for (std::size_t i = 0; i < count; ++i) {
        testing::MailCase c = generator.next(2u << 20);
        std::vector<testing::Address> bcc;
        if (!c.fields.bcc.empty()) {
            // The generator's BCC is one rendered address; keep its address.
            const std::size_t lt = c.fields.bcc.rfind('<');
            bcc.push_back({"", lt == std::string::npos ? c.fields.bcc
                                                       : c.fields.bcc.substr(lt + 1, c.fields.bcc.size() - lt - 2)});
        }
        ASSERT_TRUE(dir.clear().ok());
        c.write(dir);
        options.charset = c.charset;
        auto built = build_message(dir, c.fields, options);
        ASSERT_TRUE(built.ok()) << built.error().text;
        const SendOutcome sent = send_message(smtp, c.fields, *built, log);
        ASSERT_TRUE(sent.sent) << i << ": " << sent.reply << "\n" << log.text;

        const std::string envelope = read_or_missing(received(i + 1, "json"));
        std::vector<testing::Address> all = c.to;
        all.insert(all.end(), c.cc.begin(), c.cc.end());
        all.insert(all.end(), bcc.begin(), bcc.end());
        EXPECT_NE(envelope.find("\"rcpt_tos\": [" + envelope_list(all) + "]"), std::string::npos)
            << i << ": " << envelope;
        EXPECT_NE(envelope.find("\"mail_from\": \"" + c.from.address + "\""), std::string::npos)
            << i << ": " << envelope;
        ASSERT_TRUE(platform::rename_file(received(i + 1, "eml"), out + "/" + std::to_string(i) + ".eml").ok());
        testing::write_expectation(c, out, i);
    }
    // Each accepted once: nothing beyond the last one.
    EXPECT_EQ(read_or_missing(received(count + 1, "json")), "<missing>");

    const auto report = testing::python_reading(MAIL_REFERENCE_SCRIPT, out, count);
    ASSERT_EQ(report.size(), count);
    std::size_t failures = 0;
    for (std::size_t i = 0; i < count && failures < 10; ++i) {
        EXPECT_EQ(report[i], std::to_string(i) + " OK");
        failures += report[i] != std::to_string(i) + " OK";
    }
}

// Every line of the header block, unfolded, by name.
std::vector<std::string> header_names(const std::string& eml)
{
    std::vector<std::string> names;
    const std::string head = eml.substr(0, eml.find("\r\n\r\n") + 2);
    std::size_t start = 0;
    while (start < head.size()) {
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end - start);
        if (!line.empty() && line[0] != ' ' && line[0] != '\t')
            names.push_back(line.substr(0, line.find(':')));
        start = end + 2;
    }
    return names;
}

TEST_F(SentMailTest, LineBreaksInFieldsNeverMakeAHeaderOrACommand)
{
    // Where the hostile text goes: the display name of an address, behind
    // the address itself, the subject, the name of an attached file.
    enum class Place { name, after_address, subject, file_name };
    struct Case {
        const char* what;
        std::string MessageFields::*member;
        Place place;
    };
    const std::vector<Case> cases = {
        {"To name", &MessageFields::to, Place::name},
        {"To address", &MessageFields::to, Place::after_address},
        {"CC name", &MessageFields::cc, Place::name},
        {"CC address", &MessageFields::cc, Place::after_address},
        {"BCC name", &MessageFields::bcc, Place::name},
        {"BCC address", &MessageFields::bcc, Place::after_address},
        {"Reply-To name", &MessageFields::reply_to, Place::name},
        {"Reply-To address", &MessageFields::reply_to, Place::after_address},
        {"Subject", &MessageFields::subject, Place::subject},
        {"attachment name", nullptr, Place::file_name},
    };
    const std::vector<std::string> breaks = {"\r\n", "\n", "\r", std::string(1, '\0'), "\r\n\r\n", "\n.\n"};
    std::size_t arrived = 0;
    for (const Case& c : cases) {
        for (const std::string& brk : breaks) {
            const std::string what = std::string(c.what) + " with break " + std::to_string(&brk - &breaks[0]);
            // Should a break reach the SMTP dialogue, QUIT ends it: the relay
            // says "221" and nothing arrives.
            const std::string payload = brk + "X-Evil: 1" + brk + "QUIT";
            MessageFields f;
            f.from = "Jo <jo@corvane.test>";
            f.to = "ann@x.test";
            f.subject = "hello";
            ASSERT_TRUE(dir.clear().ok());
            ASSERT_TRUE(dir.write_body("text\r\n").ok());
            if (c.place == Place::name)
                (f.*c.member) = "Bob" + payload + " <bob@x.test>";
            else if (c.place == Place::after_address)
                (f.*c.member) = "bob@x.test" + payload;
            else if (c.place == Place::subject)
                f.subject = "s" + payload;
            else if (brk.find('\0') == std::string::npos)
                ASSERT_TRUE(platform::write_file_atomic(dir.file("a" + payload + ".txt"), "data").ok()) << what;
            else
                continue;  // a file name cannot hold a NUL
            auto built = build_message(dir, f, options);
            ASSERT_TRUE(built.ok()) << what;
            const SendOutcome sent = send_message(smtp, f, *built, log);
            if (!sent.sent) {
                // An address run together with the text behind it may be
                // refused as an address, but the dialogue was never broken.
                EXPECT_EQ(c.place, Place::after_address) << what << ": " << sent.reply;
                EXPECT_EQ(sent.reply.substr(0, 1), "5") << what << ": " << sent.reply;
                EXPECT_EQ(read_or_missing(received(arrived + 1, "json")), "<missing>") << what;
                continue;
            }
            ++arrived;
            const std::string eml = read_or_missing(received(arrived, "eml"));
            const std::string envelope = read_or_missing(received(arrived, "json"));
            for (const char* control : {"\\r", "\\n", "\\u0000", "QUIT"})
                EXPECT_EQ(envelope.find(control), std::string::npos) << what << envelope;
            for (const std::string& name : header_names(eml)) {
                EXPECT_NE(name, "X-Evil") << what << "\n" << eml.substr(0, 2000);
                EXPECT_NE(name, "QUIT") << what;
                EXPECT_NE(name, "BCC") << what;
            }
            const std::string head = eml.substr(0, eml.find("\r\n\r\n"));
            EXPECT_EQ(head.find('\0'), std::string::npos) << what;
            // Whatever the field held, the text part is still the text.
            EXPECT_NE(eml.find("\r\n\r\ntext\r\n"), std::string::npos) << what << "\n" << eml.substr(0, 2000);
        }
    }
    EXPECT_GE(arrived, 40u);
}

}  // namespace
}  // namespace corvane::compose
