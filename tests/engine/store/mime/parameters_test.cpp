#include "engine/store/mime/parameters.h"

#include <gtest/gtest.h>

using namespace corvane::mime;

TEST(Parameters, ContentTypeWithoutParameters)
{
    EXPECT_EQ(content_type_of("text/plain; charset=us-ascii"), "text/plain");
    EXPECT_EQ(content_type_of("  multipart/mixed ;boundary=x"), "multipart/mixed");
    EXPECT_EQ(content_type_of("text/html"), "text/html");
    EXPECT_EQ(content_type_of(""), "");
    EXPECT_EQ(content_type_of(std::string(200, 'a')).size(), kMaxPartField);
    EXPECT_EQ(content_type_of(std::string(200, 'a'), kMaxTopContentType).size(), kMaxTopContentType);
}

TEST(Parameters, FileNames)
{
    struct Case {
        const char* value;
        const char* parameter;
        const char* want;
    };
    const Case cases[] = {
        {"application/pdf; name=\"report; final.pdf\"", "name", "report; final.pdf"},
        {"attachment; filename=plain.txt", "filename", "plain.txt"},
        {"attachment; filename=my file.txt ; size=3", "filename", "my file.txt"},
        {"attachment; filename=\"a\\\"b.txt\"", "filename", "a\"b.txt"},
        {"attachment; filename=\"first\"; filename=\"second\"", "filename", "first"},
        {"attachment; filename=x.txt", "name", ""},
        {"inline; NAME = \"spaced.gif\"", "name", "spaced.gif"},
        {"attachment; filename*=UTF-8''caf%C3%A9.txt", "filename", "caf\xC3\xA9.txt"},
        {"attachment; filename*=iso-8859-1'fr'caf%E9.txt", "filename", "caf\xC3\xA9.txt"},
        {"attachment; filename*0*=utf-8''a%20; filename*1=b; filename*2*=%21", "filename", "a b!"},
        {"attachment; filename*1=tail", "filename", ""},
        {"attachment; filename=plain; filename*=utf-8''ext", "filename", "plain"},
        {"attachment; filename=\"a\r\nb\x01\"", "filename", "a  b "},
        {"attachment; filename=\"unterminated", "filename", "unterminated"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(file_name_of(c.value, c.parameter), c.want) << c.value;
    // 79 bytes at most, never inside a UTF-8 sequence.
    std::string long_name = "x; name=\"" + std::string(78, 'a') + "\xC3\xA9\"";
    EXPECT_EQ(file_name_of(long_name, "name"), std::string(78, 'a'));
}

TEST(Parameters, ContentIdAndEncoding)
{
    EXPECT_EQ(content_id_of("<part1.abc@example.org>"), "part1.abc@example.org");
    EXPECT_EQ(content_id_of("  < a b@c >  "), "ab@c");
    EXPECT_EQ(content_id_of("bare@id"), "bare@id");
    EXPECT_EQ(content_id_of("x<in>side>y"), "in>side");
    EXPECT_EQ(content_id_of(std::string(100, 'i')).size(), kMaxPartField);
    EXPECT_EQ(transfer_encoding_of("  base64 \t"), "base64");
    EXPECT_EQ(charset_of("text/plain; charset=\"ISO-8859-1\""), "ISO-8859-1");
    EXPECT_EQ(charset_of("text/plain; charset=utf-8 format=flowed"), "utf-8");
    EXPECT_EQ(charset_of("text/plain"), "");
    EXPECT_EQ(charset_of("text/plain; charset*=ansi-x3.4-1968''us-ascii"), "us-ascii");
}

TEST(Parameters, Boundaries)
{
    struct Case {
        const char* value;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"multipart/mixed; boundary=\"----=_Part_1\"", "------=_Part_1"},
        {"multipart/mixed; BOUNDARY=simple", "--simple"},
        {"multipart/mixed;boundary=abc.def;charset=x", "--abc.def"},
        {"multipart/mixed; boundary=abc (comment)", "--abc"},
        {"multipart/mixed; boundary=a/b", "--a"},
        {"multipart/mixed; boundary=\"with \\\"quote\\\" and ;\"", "--with \"quote\" and ;"},
        {"multipart/mixed boundary=nosemicolon", "--nosemicolon"},
        {"multipart/signed; boundary*=\"ansi-x3.4-1968''EeQfGwPcQSOJBaQU\"", "--EeQfGwPcQSOJBaQU"},
        {"multipart/mixed; boundary=\"\"", std::nullopt},
        {"multipart/mixed; boundary=", std::nullopt},
        {"multipart/mixed", std::nullopt},
        {"multipart/mixed; xboundary=wrong", std::nullopt},
        {"multipart/mixed; foo=\"boundary=inside\"; boundary=outside", "--outside"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(boundary_of(c.value), c.want) << c.value;

    // Longer than any fixed field would hold: kept whole.
    std::string long_boundary(200, 'b');
    EXPECT_EQ(boundary_of("multipart/mixed; boundary=\"" + long_boundary + "\""), "--" + long_boundary);
    std::string huge(10u << 20, 'q');
    EXPECT_EQ(boundary_of("multipart/mixed; boundary=" + huge)->size(), huge.size() + 2);
}
