#include "engine/features/upload/form_upload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace corvane::upload {
namespace {

// Records what the parser hands over, as one readable log.
class RecordingSink final : public UploadSink {
public:
    void field(std::string_view name, std::string_view value) override
    {
        log += "field " + std::string(name) + "=" + std::string(value) + "\n";
    }
    void body_begin() override { log += "body{"; }
    void body_data(std::string_view bytes) override { log += bytes; }
    void body_end(bool complete) override { log += complete ? "}\n" : "}cut\n"; }
    void file_begin(std::string_view name, std::string_view type) override
    {
        log += "file " + std::string(name) + " (" + std::string(type) + "){";
    }
    void file_data(std::string_view bytes) override { log += bytes; }
    void file_end(bool complete) override { log += complete ? "}\n" : "}cut\n"; }

    std::string log;
};

std::string parse(const std::string& boundary, std::string_view body, std::size_t piece)
{
    RecordingSink sink;
    FormUploadParser parser(boundary, sink);
    for (std::size_t i = 0; i < body.size(); i += piece)
        parser.feed(body.substr(i, piece));
    parser.finish();
    return sink.log;
}

std::string part(const std::string& boundary, const std::string& disposition, const std::string& content,
                 const std::string& type = "")
{
    std::string p = "--" + boundary + "\r\nContent-Disposition: form-data; " + disposition + "\r\n";
    if (!type.empty())
        p += "Content-Type: " + type + "\r\n";
    return p + "\r\n" + content + "\r\n";
}

TEST(FormUpload, BoundaryFromTheContentType)
{
    struct Case {
        const char* type;
        const char* want;  // "" for none
    };
    const Case cases[] = {
        {"multipart/form-data; boundary=----WebKitFormBoundaryabc", "----WebKitFormBoundaryabc"},
        {"Multipart/Form-Data; BOUNDARY=\"quoted b\"; charset=x", "quoted b"},
        {"multipart/form-data; boundary=abc; x=y", "abc"},
        {"multipart/mixed; boundary=abc", ""},
        {"application/x-www-form-urlencoded", ""},
        {"multipart/form-data", ""},
        {"multipart/form-data; boundary=", ""},
        {"multipart/form-data; boundary=a\r\nb", ""},
    };
    for (const Case& c : cases) {
        auto b = form_boundary(c.type);
        EXPECT_EQ(b.value_or(""), c.want) << c.type;
    }
    EXPECT_FALSE(form_boundary("multipart/form-data; boundary=" + std::string(max_boundary + 1, 'b')));
    EXPECT_TRUE(form_boundary("multipart/form-data; boundary=" + std::string(300, 'b')));
}

TEST(FormUpload, PartsWholeAndInEveryPieceSize)
{
    const std::string b = "----b0307";
    const std::string long_line(5000, 'L');
    std::string binary;
    for (int i = 0; i < 9000; ++i)
        binary += static_cast<char>(i * 7 % 256);
    binary += "\r\n--not the boundary\r\n--" + b.substr(0, 5) + "\r\n\r\n";

    struct Case {
        const char* what;
        std::string body;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"fields, a three-line value keeps its last line, image buttons",
         part(b, "name=\"To\"", "a@x") + part(b, "name=\"Note\"", "one\r\ntwo\r\nthree") +
             part(b, "name=\"SendNow.x\"", "12") + part(b, "name=\"SendNow.y\"", "7") + "--" + b + "--\r\n",
         "field To=a@x\nfield Note=one\nfield Note=two\nfield Note=three\nfield SendNow=12\nfield SendNow=7\n"},
        {"Body keeps its lines joined by LF, a long line whole, empty lines",
         part(b, "name=\"Body\"", "\r\nfirst\r\n" + long_line + "\r\n\r\nlast\r") + "--" + b + "--",
         "body{\nfirst\n" + long_line + "\n\nlast\r}\n"},
        {"a file from a browser that sends the whole path",
         part(b, "name=\"Attachment\"; filename=\"C:\\Documents\\Report 1.pdf\"", "%PDF\r\n", "application/pdf") +
             "--" + b + "--\r\n",
         "file Report 1.pdf (application/pdf){%PDF\r\n}\n"},
        {"a file whose bytes hold CR LF -- and near-boundaries",
         part(b, "name=\"Attachment\"; filename=\"x.bin\"", binary) + "--" + b + "--\r\n",
         "file x.bin (){" + binary + "}\n"},
        {"an empty file field and an empty file",
         part(b, "name=\"Attachment\"; filename=\"\"", "") + part(b, "name=\"attachment\"; filename=\"e\"", "") + "--" +
             b + "--",
         "file e (){}\n"},
        {"a part does not inherit the file name of the one before",
         part(b, "name=\"Attachment\"; filename=\"a\"", "A", "text/plain") + part(b, "name=\"Attachment\"", "B") +
             "--" + b + "--",
         "file a (text/plain){A}\n"},
        {"filename before name, and a quoted ; in it",
         part(b, "filename=\"a;b.txt\"; name=\"Attachment\"", "x") + "--" + b + "--", "file a;b.txt (){x}\n"},
        {"no closing delimiter: the file ends cut", part(b, "name=\"Attachment\"; filename=\"f\"", "") + "partial data",
         "file f (){\r\npartial data}cut\n"},
        {"no closing delimiter in Body", "--" + b + "\r\nContent-Disposition: form-data; name=Body\r\n\r\nhalf",
         "body{half}cut\n"},
        {"preamble, epilogue and headers of any case",
         "preamble\r\n--" + b + "\r\ncontent-disposition: form-data; NAME=\"Subject\"\r\nX-Other: 1\r\n\r\nHi\r\n--" +
             b + "--\r\nepilogue\r\n--" + b + "\r\n",
         "field Subject=Hi\n"},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {c.body.size() + 1, std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(7),
                                  std::size_t(4096), std::size_t(b.size() + 3)}) {
            EXPECT_EQ(parse(b, c.body, piece), c.want) << c.what << ", pieces of " << piece;
        }
    }
}

TEST(FormUpload, HostileInputStaysBounded)
{
    const std::string b(300, 'b');
    std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"" + std::string(10000, 'n') +
                       "\"\r\nContent-Type: " + std::string(100000, 't') + "\r\n\r\n" + std::string(200000, 'v') +
                       "\r\n--" + b + "\r\n" + "Content-Disposition: form-data; name=\"Attachment\"; filename=\"" +
                       std::string(1000, 'f') + "\"\r\n\r\nX\r\n--" + b + "--";
    RecordingSink sink;
    FormUploadParser parser(b, sink);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < body.size();) {
        std::size_t n = 1 + rng() % 5000;
        parser.feed(std::string_view(body).substr(i, n));
        i += n;
    }
    parser.finish();
    EXPECT_TRUE(parser.done());
    const std::string want_field = "field " + std::string(max_field_name, 'n') + "=" + std::string(200000, 'v');
    EXPECT_NE(sink.log.find(std::string(max_field_name, 'n') + "="), std::string::npos);
    EXPECT_LT(sink.log.size(), 200000u);  // the value was cut at its limit
    EXPECT_NE(sink.log.find("file " + std::string(max_file_name, 'f') + " ("), std::string::npos);

    // Many parts: parsing stops at a bound instead of collecting fields.
    std::string many;
    for (int i = 0; i < 20000; ++i)
        many += "--x\r\nContent-Disposition: form-data; name=f" + std::to_string(i) + "\r\n\r\nv\r\n";
    RecordingSink many_sink;
    FormUploadParser many_parser("x", many_sink);
    many_parser.feed(many);
    many_parser.finish();
    EXPECT_LT(std::count(many_sink.log.begin(), many_sink.log.end(), '\n'), 10001);
}

}  // namespace
}  // namespace corvane::upload
