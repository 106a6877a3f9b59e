#include "engine/core/cgi/encoding.h"

#include <gtest/gtest.h>

#include "engine/core/cgi/streams.h"

namespace corvane::cgi {
namespace {

TEST(Encoding, FormDecoding)
{
    struct Case {
        std::string in;
        std::string want;
    };
    const Case cases[] = {
        {"a%2bb+c", "a+b c"},
        {"%41%62%7e", "Ab~"},
        {"%G1", std::string("\x01", 1)},
        {"%zz", std::string("\0", 1)},
        {"%", "%"},
        {"x%4", "x%4"},
        {"%%41", std::string("\x04") + "1"},
        {"++", "  "},
        {"", ""},
        {"%C3%BC", "ü"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decoded_form_text(c.in), c.want) << "input " << c.in;

    // The decoder stops at the end of a string that is not terminated.
    std::string s = "ab%4";
    s.reserve(64);
    decode_form_text(s);
    EXPECT_EQ(s, "ab%4");
}

TEST(Encoding, UrlEncodingMatchesAnotherEncoder)
{
    // Expected values from Python's urllib.parse.quote_plus(s, safe="!$'()*,").
    EXPECT_EQ(url_encoded("a b&c"), "a+b%26c");
    EXPECT_EQ(url_encoded("Grüße/ü?=%"), "Gr%C3%BC%C3%9Fe%2F%C3%BC%3F%3D%25");
    EXPECT_EQ(url_encoded("~!$'()*,-._ #@[]{}\t\x01\x7f"), "~!$'()*,-._+%23%40%5B%5D%7B%7D%09%01%7F");
    EXPECT_EQ(url_encoded(""), "");
    // Round trip through the form decoder for every byte value.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(decoded_form_text(url_encoded(all)), all);
}

TEST(Encoding, HtmlEscapes)
{
    EXPECT_EQ(html_escaped("a<b & \"c\" > d\n\t  '"), "a&lt;b &amp; &quot;c&quot; &gt; d\n\t  '");

    struct Case {
        std::string in;
        std::string want;
    };
    const Case formatted[] = {
        {"a<b\n", "a&lt;b<BR>\r\n"},
        {"a\r\nb", "a<BR>\r\nb"},
        {"x y", "x y"},
        {"x  y", "x &nbsp;y"},
        {"x   y", "x &nbsp; y"},
        {"x    y", "x &nbsp; &nbsp;y"},
        {"\tq", " &nbsp; &nbsp;q"},
        {" ", " "},
        {"\"&\"", "&quot;&amp;&quot;"},
    };
    for (const auto& c : formatted)
        EXPECT_EQ(html_escaped_formatted(c.in), c.want) << "input " << c.in;

    // The stream versions write the same bytes, also across the buffer.
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += "a <b>  \t\n";
    StringOutputStream plain;
    escape_html(big, plain);
    EXPECT_EQ(plain.str(), html_escaped(big));
    StringOutputStream rich;
    escape_html_formatted(big, rich);
    EXPECT_EQ(rich.str(), html_escaped_formatted(big));
}

TEST(Encoding, CookieValues)
{
    EXPECT_EQ(cookie_value("User=ann; Lang=de", "User"), "ann");
    EXPECT_EQ(cookie_value("Lang=de;User=bob", "User"), "bob");
    EXPECT_EQ(cookie_value("OldUser=eve; User=ann", "User"), "ann");
    EXPECT_EQ(cookie_value("OldUser=eve", "User"), "");
    EXPECT_EQ(cookie_value("user=ann", "User"), "");
    EXPECT_EQ(cookie_value("User=", "User"), "");
    EXPECT_EQ(cookie_value("", "User"), "");
    EXPECT_EQ(cookie_value("Lang=de; x=1", "Lang"), "de");
}

}  // namespace
}  // namespace corvane::cgi
