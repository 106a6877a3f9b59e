#include "common/text/strings.h"

#include <gtest/gtest.h>

using namespace corvane::text;

TEST(Strings, CaseInsensitiveComparisonIsAsciiOnly)
{
    EXPECT_TRUE(iequals("JSmith", "jsmith"));
    EXPECT_FALSE(iequals("JSmith", "jsmit"));
    EXPECT_FALSE(iequals("\xC3\x84", "\xC3\xA4")) << "UTF-8 letters compare as bytes";
    EXPECT_LT(icompare("apple", "Banana"), 0);
    EXPECT_GT(icompare("b", "A"), 0);
    EXPECT_EQ(icompare("Inbox", "INBOX"), 0);
    EXPECT_LT(icompare("abc", "abcd"), 0);
    EXPECT_TRUE(istarts_with("Content-Type: text", "content-type"));
    EXPECT_TRUE(iends_with("page.HTML", ".html"));
    EXPECT_EQ(ifind("a Lang=de; x", "lang="), 2u);
    EXPECT_EQ(ifind("abc", "abcd"), std::string_view::npos);
    EXPECT_EQ(ifind("xAxa", "a", 2), 3u);
}

TEST(Strings, TrimAndNumbers)
{
    EXPECT_EQ(trim(" \t value \r\n"), "value");
    EXPECT_EQ(trim("   "), "");
    struct Case {
        const char* in;
        std::int64_t want;
        bool digits;
    };
    for (const Case& c : {Case{"12abc", 12, true}, Case{"abc", 0, false}, Case{"  -7", -7, true}, Case{"+3", 3, true},
                          Case{"", 0, false}, Case{"99999999999999999999999", INT64_MAX, true}}) {
        bool digits = false;
        EXPECT_EQ(leading_number(c.in, &digits), c.want) << c.in;
        EXPECT_EQ(digits, c.digits) << c.in;
    }
    EXPECT_EQ(parse_number("42"), 42);
    EXPECT_EQ(parse_number("-42"), -42);
    EXPECT_EQ(parse_number("42a"), std::nullopt);
    EXPECT_EQ(parse_number(""), std::nullopt);
    EXPECT_EQ(parse_number("-"), std::nullopt);
}

TEST(Strings, CutNeverSplitsAUtf8Sequence)
{
    EXPECT_EQ(cut("abcdef", 3), "abc");
    EXPECT_EQ(cut("ab", 5), "ab");
    // "Andr\xC3\xA9" cut at 5 would split the e-acute.
    EXPECT_EQ(cut("Andr\xC3\xA9", 5), "Andr");
    EXPECT_EQ(cut("Andr\xC3\xA9", 6), "Andr\xC3\xA9");
    // A 4-byte sequence cut in its middle drops all of it.
    EXPECT_EQ(cut("x\xF0\x9F\x98\x80y", 3), "x");
    // Binary continuation bytes without a lead byte are cut where they are.
    EXPECT_EQ(cut("\x80\x80\x80\x80\x80", 2).size(), 2u);
    EXPECT_EQ(bounded(std::string(100, 'u'), 15).size(), 15u);
}

TEST(Strings, ControlsBecomeBlanks)
{
    EXPECT_EQ(without_controls("a\r\nb\x01"
                               "c\td"),
              "a  b c\td");
    EXPECT_TRUE(has_controls("x\ny"));
    EXPECT_FALSE(has_controls("x\ty"));
    // Every control character at every position of strings of every length
    // up to a few words, among bytes that look alike to a quick test (tab,
    // blank, 0x7E, 0x80, 0xFF).
    for (std::size_t length = 1; length <= 40; ++length) {
        for (char filler : {' ', '\t', '\x7e', '\x80', '\xff', 'A'}) {
            std::string clean(length, filler);
            ASSERT_FALSE(has_controls(clean)) << length << " of " << int(filler);
            for (std::size_t at = 0; at < length; ++at) {
                for (char c : {'\0', '\x01', '\x08', '\x0a', '\x0d', '\x1f', '\x7f'}) {
                    std::string dirty = clean;
                    dirty[at] = c;
                    ASSERT_TRUE(has_controls(dirty)) << length << " with " << int(c) << " at " << at;
                }
            }
        }
    }
    EXPECT_EQ(replace_all("(cn=USER)(uid=USER)", "USER", "jo"), "(cn=jo)(uid=jo)");
}

TEST(Strings, FormatHandlesLongOutput)
{
    EXPECT_EQ(format("%s=%d", "Port", 2000), "Port=2000");
    std::string big(5000, 'z');
    EXPECT_EQ(format("<%s>", big.c_str()).size(), 5002u);
    std::string out = "x";
    append_format(out, "%03d", 7);
    EXPECT_EQ(out, "x007");
}
