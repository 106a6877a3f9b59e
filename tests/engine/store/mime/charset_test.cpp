#include "engine/store/mime/charset.h"

#include <gtest/gtest.h>

#include "engine/store/mime/encoded_words.h"

using namespace corvane::mime;

namespace {

std::string hex(std::string_view h)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    return out;
}

// Feeds a converter one byte at a time.
std::string piecewise(std::string_view charset, std::string_view bytes)
{
    CharsetConverter c(charset);
    std::string out;
    for (char ch : bytes)
        c.convert(std::string_view(&ch, 1), out);
    c.finish(out);
    return out;
}

}  // namespace

TEST(Charset, ConvertsDeclaredCharsetsWholeAndInPieces)
{
    struct Case {
        const char* charset;
        std::string bytes;
        const char* want;
    };
    const Case cases[] = {
        {"iso-8859-1", hex("416e6472e9"), "Andr\xC3\xA9"},
        {"Windows-1252", hex("80"), "\xE2\x82\xAC"},
        {"koi8-r", hex("f0d2c9d7c5d4"), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"shift_jis", hex("93fa967b"), "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"x-sjis", hex("93fa967b"), "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"gb2312", hex("d6d0cec4"), "\xE4\xB8\xAD\xE6\x96\x87"},
        {"ks_c_5601-1987", hex("c7d1b1b9"), "\xED\x95\x9C\xEA\xB5\xAD"},
        {"\"utf-8\"", "\xE6\x97\xA5", "\xE6\x97\xA5"},
        {"utf-8*en", "ok", "ok"},
        {"ISO-2022-JP", hex("1b2442467c4b5c386c1b2842"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"iso-2022-jp", hex("1b28493132331b2842"), "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3"},
        {"ISO-2022-JP-1", hex("1b24284430211b2842"), "\xE4\xB8\x82"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_utf8(c.charset, c.bytes), c.want) << c.charset;
        EXPECT_EQ(piecewise(c.charset, c.bytes), c.want) << c.charset << " in 1-byte pieces";
    }
}

TEST(Charset, UnknownCharsetsPassBytesAndBadBytesBecomeReplacements)
{
    EXPECT_EQ(to_utf8("x-no-such-charset", "\xE9t\xE9"), "\xE9t\xE9");
    EXPECT_EQ(to_utf8("", "\xFF"), "\xFF");
    EXPECT_EQ(to_utf8("../../etc/passwd", "\xFF"), "\xFF") << "no path reaches iconv";
    EXPECT_EQ(normalize_charset("utf-8/TRANSLIT"), "");
    EXPECT_FALSE(CharsetConverter("bogus charset name").converts());

    EXPECT_EQ(to_utf8("utf-8",
                      "a\xFF"
                      "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(to_utf8("us-ascii", "a\xE9"), "a\xEF\xBF\xBD");
    EXPECT_EQ(to_utf8("utf-8", "\xE6\x97"), "\xEF\xBF\xBD") << "a cut sequence at the end of the text";

    CharsetConverter c("utf-8");
    std::string out;
    c.convert("\xE6\x97", out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(c.take_pending(), "\xE6\x97");
    c.convert("ok", out);
    EXPECT_EQ(out, "ok") << "taking the pending bytes starts a new stream";
}

TEST(Charset, Iso2022JpWalkerIsLenient)
{
    // A line that ends in kanji mode: the line end returns to ASCII.
    EXPECT_EQ(iso2022jp_to_utf8(hex("1b2442467c4b5c") + "\r\nab"), "\xE6\x97\xA5\xE6\x9C\xAC\r\nab");
    // Unpaired byte, 8-bit bytes and an unknown double-byte set become the geta mark.
    const std::string geta = "\xE3\x80\x93";
    EXPECT_EQ(iso2022jp_to_utf8(hex("1b2442467c4b") + "\r"), "\xE6\x97\xA5" + geta + "\r");
    EXPECT_EQ(iso2022jp_to_utf8("a\xA4z"), "a" + geta + "z");
    EXPECT_EQ(iso2022jp_to_utf8(hex("1b2441") + "AB" + hex("1b2842") + "x"), geta + "x");
    // A broken escape is dropped, the rest stays readable.
    EXPECT_EQ(iso2022jp_to_utf8("\x1b\x01"
                                "abc"),
              "\x01"
              "abc");
    // Old 7-bit JIS katakana with SO/SI.
    EXPECT_EQ(iso2022jp_to_utf8("\x0e"
                                "1\x0f"
                                "a"),
              "\xEF\xBD\xB1"
              "a");
}
