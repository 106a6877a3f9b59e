#include "engine/store/mime/line_decoders.h"

#include <gtest/gtest.h>

#include "common/text/base64.h"

using namespace corvane::mime;

namespace {

std::string sample_bytes(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    return s;
}

std::string decode_lines(TransferEncoding e, const std::vector<std::string>& lines)
{
    LineDecoder d(e);
    std::string out;
    for (const auto& line : lines)
        d.decode(line, out);
    return out;
}

}  // namespace

TEST(LineDecoders, Base64CarriesBitsAcrossLinesOfAnyLength)
{
    const std::string data = sample_bytes(1000);
    const std::string encoded = corvane::text::base64_encode(data);
    for (std::size_t width : {76u, 1u, 3u, 5u, 77u}) {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < encoded.size(); i += width)
            lines.push_back(encoded.substr(i, width));
        EXPECT_EQ(decode_lines(TransferEncoding::base64, lines), data) << "lines of " << width;
    }
    // Padding ends a chunk: what follows starts afresh.
    EXPECT_EQ(decode_lines(TransferEncoding::base64, {"QQ==", "QUJD"}), "AABC");
    EXPECT_EQ(decode_lines(TransferEncoding::base64, {"QUJ D", "\tREVG"}), "ABCDEF");
}

TEST(LineDecoders, Base64GarbageStaysBounded)
{
    EXPECT_EQ(decode_lines(TransferEncoding::base64, {"QUJD!!!!QUJD", "-- ", "\x01\xFF"}), "ABC");
    std::string junk(1 << 20, '\xFF');
    junk += "QUJD";
    LineDecoder d(TransferEncoding::base64);
    EXPECT_EQ(d.decode(junk), "");
}

TEST(LineDecoders, QuotedPrintable)
{
    EXPECT_EQ(decode_lines(TransferEncoding::quoted_printable,
                           {"caf=E9 =3D ok", "soft=", "ly broken", "trail   ", "=4", "a=zz", "low=e9"}),
              "caf\xE9 = ok\r\nsoftly broken\r\ntrail\r\n=4\r\na=zz\r\nlow\xE9\r\n");
    // Soft breaks after every character join the pieces.
    EXPECT_EQ(decode_lines(TransferEncoding::quoted_printable, {"a=", "b=", "=3D=", "c"}), "ab=c\r\n");
    EXPECT_EQ(decode_lines(TransferEncoding::quoted_printable, {"x=  "}), "x") << "blanks after a soft break";
}

TEST(LineDecoders, UuencodeWithAndWithoutFrame)
{
    // "Cat" and "hello\n" uuencoded.
    const std::vector<std::string> framed = {"begin 644 file.txt", "#0V%T", "&:&5L;&\\*", "`", "end", "junk"};
    EXPECT_EQ(decode_lines(TransferEncoding::uuencode, framed), "Cathello\n");
    EXPECT_EQ(decode_lines(TransferEncoding::uuencode, {"#0V%T", "`"}), "Cat");
    // A line whose trailing blanks a transport stripped still gives its count.
    EXPECT_EQ(decode_lines(TransferEncoding::uuencode, {"#"}), std::string(3, '\0'));
    EXPECT_EQ(decode_lines(TransferEncoding::uuencode, {"\x7f\xff\xfe"}).size(), 31u) << "count from the first byte";
}

TEST(LineDecoders, NoneAppendsLineEnds)
{
    EXPECT_EQ(decode_lines(TransferEncoding::none, {"a", "", "b"}), "a\r\n\r\nb\r\n");
    LineDecoder d(TransferEncoding::base64);
    d.decode("QQ");
    d.reset();
    EXPECT_EQ(d.decode("QUJD"), "ABC") << "reset forgets the carried bits";
}

TEST(LineDecoders, Classification)
{
    EXPECT_EQ(classify_encoding(" Base64 "), TransferEncoding::base64);
    EXPECT_EQ(classify_encoding("QUOTED-PRINTABLE"), TransferEncoding::quoted_printable);
    EXPECT_EQ(classify_encoding("x-uuencode"), TransferEncoding::uuencode);
    EXPECT_EQ(classify_encoding("8bit"), TransferEncoding::none);
    EXPECT_EQ(classify_encoding("base64x"), TransferEncoding::none);
    EXPECT_EQ(classify_content("TEXT/HTML; charset=x"), ContentKind::html);
    EXPECT_EQ(classify_content("text/plain"), ContentKind::text);
    EXPECT_EQ(classify_content("message/rfc822"), ContentKind::text);
    EXPECT_EQ(classify_content("application/pdf"), ContentKind::other);
    EXPECT_TRUE(has_iso2022jp_charset("text/plain; charset=\"iso-2022-jp\""));
    EXPECT_TRUE(has_iso2022jp_charset("text/plain; Charset=ISO-2022-JP; format=flowed"));
    EXPECT_FALSE(has_iso2022jp_charset("text/plain; charset=utf-8; x=iso-2022-jp"));
    EXPECT_FALSE(has_iso2022jp_charset("text/plain"));
    Classification c = classify("base64", "text/html; charset=iso-2022-jp");
    EXPECT_EQ(c.encoding, TransferEncoding::base64);
    EXPECT_EQ(c.kind, ContentKind::html);
    EXPECT_TRUE(c.iso2022jp);

    EXPECT_EQ(estimate_decoded_size(780, "BASE64"), 570);
    EXPECT_EQ(estimate_decoded_size(780, "quoted-printable"), 730);
    EXPECT_EQ(estimate_decoded_size(780, "7bit"), 780);
    EXPECT_EQ(estimate_decoded_size(4'000'000'000, "base64"), 4'000'000'000 * 57 / 78) << "no 32-bit overflow";
}
