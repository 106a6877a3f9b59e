#include "engine/features/compose/message_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "common/mime_types/mime_type_table.h"
#include "common/platform/files.h"
#include "common/platform/time_format.h"
#include "engine/features/compose/compose_directory.h"
#include "tests/engine/features/compose/generated_mail.h"
#include "tests/support/temp_dir.h"

namespace corvane::compose {
namespace {

std::string read_all(const std::string& path)
{
    auto text = platform::read_file(path);
    return text ? *text : std::string("<missing>");
}

std::time_t local(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return platform::make_local_time(tm);
}

class MessageBuilderTest : public ::testing::Test {
protected:
    MessageBuilderTest()
    {
        (void)dir.ensure();
        types.add_text("image/png png\ntext/plain txt\napplication/pdf pdf\n");
        options.types = &types;
        options.mailer = "Corvane Pro 2.0.1";
        options.now = local(2023, 3, 7, 9, 5, 3);
        fields.from = "\"Jo Smith\" <jo@example.org>";
        fields.to = "ann@example.net";
        fields.subject = "Hello";
    }
    std::string build()
    {
        auto path = build_message(dir, fields, options);
        EXPECT_TRUE(path.ok()) << path.error().text;
        return read_all(dir.message_path());
    }
    static std::string header_block(const std::string& message) { return message.substr(0, message.find("\n\n") + 1); }

    testing::TempDir tmp;
    ComposeDirectory dir{tmp / "c"};
    mime_types::MimeTypeTable types;
    BuildOptions options;
    MessageFields fields;
};

TEST_F(MessageBuilderTest, PlainAsciiMessageHasNoMimeHeaders)
{
    ASSERT_TRUE(dir.write_body("Hi Ann,\r\n.hidden dot\r\n\r\nJo").ok());
    fields.cc = "  ";
    fields.bcc = "secret@example.org";
    fields.in_reply_to = "<orig@x>";
    fields.confirm_read = true;
    fields.urgent = true;
    const std::string message = build();
    const std::string head = header_block(message);
    EXPECT_EQ(head.substr(0, 6), "Date: ");
    EXPECT_NE(head.find("Tue, 07 Mar 2023 09:05:03 "), std::string::npos);
    EXPECT_NE(head.find("\nFrom: \"Jo Smith\" <jo@example.org>\nTo: ann@example.net\nSubject: Hello\n"),
              std::string::npos);
    EXPECT_EQ(head.find("MIME-Version"), std::string::npos);
    EXPECT_EQ(head.find("CC:"), std::string::npos);
    EXPECT_EQ(head.find("BCC"), std::string::npos);
    EXPECT_NE(head.find("Message-ID: <"), std::string::npos);
    EXPECT_NE(head.find("@example.org>\n"), std::string::npos);
    EXPECT_NE(head.find("X-Mailer: Corvane Pro 2.0.1\nIn-Reply-To: <orig@x>\n"
                        "X-Confirm-Reading-To: jo@example.org\nDisposition-Notification-To: jo@example.org\n"
                        "X-Priority: 1 (Highest)\n"),
              std::string::npos);
    EXPECT_EQ(message.substr(head.size()), "\nHi Ann,\n.hidden dot\n\nJo\n");
}

TEST_F(MessageBuilderTest, DraftsKeepTheirComposeFieldsAndNoFooter)
{
    ASSERT_TRUE(dir.write_body("text").ok());
    ASSERT_TRUE(platform::write_file_atomic(tmp / "footer.txt", "-- \nsent with Corvane\n").ok());
    options.footer_path = tmp / "footer.txt";
    fields.bcc = "secret@example.org";
    fields.reply_message = "12";
    fields.mailbox = "Home";
    fields.advanced = true;
    options.mode = BuildMode::draft;
    const std::string draft = build();
    EXPECT_NE(draft.find("\nBCC: secret@example.org\nReplyMessage: 12\nMailbox: Home\nAdvanced: Yes\n\ntext\n"),
              std::string::npos)
        << draft;
    EXPECT_EQ(draft.find("Message-ID"), std::string::npos);
    EXPECT_EQ(draft.find("Corvane\n"), std::string::npos);

    options.mode = BuildMode::outgoing;
    const std::string sent = build();
    EXPECT_EQ(sent.find("BCC"), std::string::npos);
    EXPECT_EQ(sent.find("ReplyMessage"), std::string::npos);
    EXPECT_NE(sent.find("\n\ntext\n-- \nsent with Corvane\n"), std::string::npos);
}

TEST_F(MessageBuilderTest, AttachmentsInBase64Lines)
{
    ASSERT_TRUE(dir.write_body("see attached").ok());
    ASSERT_TRUE(platform::write_file_atomic(dir.file("a57.png"), std::string(57, 'x')).ok());
    ASSERT_TRUE(platform::write_file_atomic(dir.file("b1.bin"), "y").ok());
    ASSERT_TRUE(platform::write_file_atomic(dir.file("c.dat"), std::string(10000, '\xff')).ok());
    ASSERT_TRUE(dir.set_content_type("c.dat", "application/x-special").ok());
    ASSERT_TRUE(platform::write_file_atomic(dir.file("naïve \"q\".txt"), "z").ok());
    const std::string message = build();
    const std::string boundary = "0307-0905-03-PART-BREAK";
    std::string base64_57;  // "xxx" is "eHh4"; 57 bytes fill one line of 76
    for (int i = 0; i < 19; ++i)
        base64_57 += "eHh4";
    EXPECT_NE(message.find("MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\n"),
              std::string::npos);
    EXPECT_NE(message.find("\n\n--" + boundary + "\nContent-Type: text/plain\n\nsee attached\n--" + boundary +
                           "\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n"
                           "Content-Disposition: attachment; filename=\"a57.png\"\n\n" +
                           base64_57 + "\n--" + boundary + "\nContent-Type: application/octet-stream\n"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("filename=\"b1.bin\"\n\neQ==\n--"), std::string::npos);
    EXPECT_NE(message.find("Content-Type: application/x-special\n"), std::string::npos);
    EXPECT_NE(message.find("filename*=UTF-8''na%C3%AFve%20%22q%22.txt\n"), std::string::npos);
    EXPECT_EQ(message.substr(message.size() - boundary.size() - 5), "--" + boundary + "--\n");
    for (std::size_t start = 0; start < message.size();) {
        const std::size_t end = message.find('\n', start);
        EXPECT_LE(end - start, 76u);
        start = end + 1;
    }
}

TEST_F(MessageBuilderTest, TextCharsetAndTransferEncoding)
{
    struct Case {
        const char* what;
        std::string body;
        WordCharset charset;
        std::string want_head;  // in the header block
        std::string want_body;  // the text as written
    };
    const std::string long_line(1500, 'w');
    const std::vector<Case> cases = {
        {"8-bit text gets its charset and 8bit",
         "Grüße\r\n",
         {},
         "MIME-Version: 1.0\nContent-Type: text/plain; charset=\"UTF-8\"\nContent-Transfer-Encoding: 8bit\n",
         "Grüße\n"},
        {"a line beyond SMTP's limit is quoted-printable",
         long_line + " \n",
         {},
         "Content-Transfer-Encoding: quoted-printable\n",
         ""},
        {"Japanese sessions send ISO-2022-JP",
         "日本語\n",
         {"UTF-8", true},
         "Content-Type: text/plain; charset=\"ISO-2022-JP\"\nX-Mailer",
         "\x1b$BF|K\\8l\x1b(B\n"},
        {"the boundary in the text makes the boundary longer", "--0307-0905-03-PART-BREAK\n", {}, "", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(dir.write_body(c.body).ok());
        options.charset = c.charset;
        const std::string message = build();
        EXPECT_NE(header_block(message).find(c.want_head), std::string::npos) << c.what << "\n" << message;
        if (!c.want_body.empty()) {
            EXPECT_EQ(message.substr(header_block(message).size() + 1), c.want_body) << c.what;
        }
        for (std::size_t start = 0; start < message.size();) {
            const std::size_t end = message.find('\n', start);
            EXPECT_LE(end - start, max_smtp_line) << c.what;
            start = end + 1;
        }
    }
    ASSERT_TRUE(platform::write_file_atomic(dir.file("x.txt"), "a").ok());
    const std::string with_attachment = build();
    EXPECT_EQ(with_attachment.find("boundary=\"0307-0905-03-PART-BREAK\""), std::string::npos);
    EXPECT_NE(with_attachment.find("boundary=\"0307-0905-03-PART-BREAK"), std::string::npos);
}

// Messages with random headers, texts and attachments, read back by
// Python's email package.
TEST_F(MessageBuilderTest, PythonReadsBackWhatWasWritten)
{
    testing::GeneratedMail generator(20230307);
    const std::size_t count = 150;
    for (std::size_t i = 0; i < count; ++i) {
        const testing::MailCase c = generator.next(64 * 1024);
        ASSERT_TRUE(dir.clear().ok());
        c.write(dir);
        fields = c.fields;
        options.charset = c.charset;
        ASSERT_TRUE(build_message(dir, fields, options).ok());
        ASSERT_TRUE(platform::rename_file(dir.message_path(), tmp / (std::to_string(i) + ".eml")).ok());
        testing::write_expectation(c, tmp.path(), i);
    }
    const auto report = testing::python_reading(MAIL_REFERENCE_SCRIPT, tmp.path(), count);
    ASSERT_EQ(report.size(), count);
    for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(report[i], std::to_string(i) + " OK");
}

}  // namespace
}  // namespace corvane::compose
