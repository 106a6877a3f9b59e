#include "engine/features/compose/compose_upload.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "common/platform/files.h"
#include "engine/core/cgi/field_table.h"
#include "engine/core/cgi/streams.h"
#include "engine/features/compose/compose_directory.h"
#include "tests/support/temp_dir.h"

namespace corvane::compose {
namespace {

std::string read_all(const std::string& path)
{
    auto text = platform::read_file(path);
    return text ? *text : std::string("<missing>");
}

const std::string kType = "multipart/form-data; boundary=----WebKitFormBoundaryX7";
const std::string kBoundary = "----WebKitFormBoundaryX7";

class ComposeUploadTest : public ::testing::Test {
protected:
    UploadReport post(const std::string& body, std::uint64_t length, std::uint64_t limit = 1u << 30)
    {
        const std::string path = tmp / "request-body";
        EXPECT_TRUE(platform::write_file_atomic(path, body).ok());
        in = cgi::InputStream(platform::UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), length);
        return receive_upload(in, kType, length, limit, dir, fields);
    }
    std::string read(const std::string& name) { return read_all(dir.file(name)); }
    std::vector<std::string> files()
    {
        std::vector<std::string> names;
        auto entries = platform::list_directory(dir.path());
        if (entries) {
            for (const auto& e : *entries)
                names.push_back(e.name);
        }
        return names;
    }
    static std::string part(const std::string& disposition, const std::string& content)
    {
        return "--" + kBoundary + "\r\nContent-Disposition: form-data; " + disposition +
               "\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
    }

    testing::TempDir tmp;
    ComposeDirectory dir{tmp / "compose"};
    cgi::FieldTable fields;
    cgi::InputStream in;
};

TEST_F(ComposeUploadTest, StoresFieldsBodyAndAFileByteForByte)
{
    std::string data;
    for (int i = 0; i < 300000; ++i)
        data += static_cast<char>((i * 131) % 256);
    data += "\r\n--" + kBoundary.substr(0, 10);
    const std::string body = part("name=\"To\"", "a@x.org") + part("name=\"Body\"", "Hello\r\n\r\nBye") +
                             part("name=\"Attachment\"; filename=\"/home/u/pic.png\"", data) +
                             part("name=\"Attach\"", "Attach") + "--" + kBoundary + "--\r\n";
    const UploadReport report = post(body, body.size());
    EXPECT_EQ(report.outcome, UploadOutcome::stored);
    EXPECT_EQ(report.attachment, "pic.png");
    EXPECT_EQ(report.bytes, data.size());
    EXPECT_EQ(read("pic.png"), data);
    EXPECT_EQ(read(".body.txt"), "Hello\n\nBye");
    EXPECT_EQ(fields.value("To"), "a@x.org");
    EXPECT_EQ(fields.value("AttachName"), "pic.png");
    EXPECT_EQ(fields.value("AttachType"), "application/octet-stream");
    EXPECT_EQ(fields.value("AttachBoundary"), kBoundary);
    EXPECT_TRUE(fields.present("Attach"));
    EXPECT_EQ(files(), (std::vector<std::string>{".body.txt", "pic.png"}));
}

TEST_F(ComposeUploadTest, NothingHalfWrittenIsKept)
{
    ASSERT_TRUE(dir.write_body("old text").ok());
    ASSERT_TRUE(platform::write_file_atomic(dir.file("f.txt"), "earlier upload").ok());
    ASSERT_TRUE(dir.set_content_type("f.txt", "text/x-earlier").ok());

    // The browser went away in the middle of the file.
    const std::string body = part("name=\"Attachment\"; filename=\"f.txt\"", std::string(100000, 'x'));
    const UploadReport cut = post(body.substr(0, 50000), body.size());
    EXPECT_EQ(cut.outcome, UploadOutcome::incomplete);
    EXPECT_EQ(read("f.txt"), "earlier upload");
    EXPECT_EQ(dir.content_type("f.txt"), "text/x-earlier");

    // Over the limit: refused before a byte is read.
    const UploadReport large = post(body, 200u << 20, 50u << 20);
    EXPECT_EQ(large.outcome, UploadOutcome::too_large);
    EXPECT_EQ(in.remaining(), 200u << 20);
    EXPECT_EQ(files(), (std::vector<std::string>{".body.txt", ".f.txt", "f.txt"}));

    // A complete upload of the same name replaces it, and its old type goes.
    const std::string whole = body + "--" + kBoundary + "--";
    EXPECT_EQ(post(whole, whole.size()).outcome, UploadOutcome::stored);
    EXPECT_EQ(read("f.txt"), std::string(100000, 'x'));
    EXPECT_EQ(dir.content_type("f.txt"), "");
    EXPECT_EQ(read(".body.txt"), "old text");
}

TEST_F(ComposeUploadTest, FileNamesNeverLeaveOrOverwriteTheComposeFiles)
{
    struct Case {
        const char* sent;
        const char* stored;  // "" when nothing may be stored
    };
    const Case cases[] = {
        {".headers.txt", "headers.txt"},
        {"../../etc/passwd", "passwd"},
        {"..\\..\\boot.ini", "boot.ini"},
        {"C:evil.exe", "evil.exe"},
        {"a\rb\x01"
         "c.txt",
         "a b c.txt"},
        {"...", ""},
        {"dir/", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(dir.clear().ok());
        ASSERT_TRUE(dir.write_body("body").ok());
        const std::string body =
            part(std::string("name=\"Attachment\"; filename=\"") + c.sent + "\"", "data") + "--" + kBoundary + "--";
        const UploadReport report = post(body, body.size());
        EXPECT_EQ(report.attachment, c.stored) << c.sent;
        EXPECT_EQ(read(".body.txt"), "body") << c.sent;
        const auto names = files();
        EXPECT_EQ(names.size(), std::string(c.stored).empty() ? 1u : 2u) << c.sent;
        if (*c.stored) {
            EXPECT_EQ(read(c.stored), "data") << c.sent;
        }
        EXPECT_FALSE(platform::exists(tmp / "passwd"));
    }
}

}  // namespace
}  // namespace corvane::compose
