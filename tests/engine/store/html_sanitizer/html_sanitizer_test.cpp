#include "engine/store/html_sanitizer/html_sanitizer.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/store/html_sanitizer/style_filter.h"
#include "engine/store/html_sanitizer/url_filter.h"
#include "tests/engine/store/html_sanitizer/tree_check.h"

namespace corvane::sanitize {
namespace {

constexpr std::string_view kPrefix = "/Corvane?Session=ABCDEFG&View=Attachment&CID=";

std::string clean(std::string_view html, bool remote = false, Report* report = nullptr)
{
    Policy policy;
    policy.cid_url_prefix = std::string(kPrefix);
    policy.allow_remote_images = remote;
    std::string out;
    Report r = sanitize_html(html, policy, out);
    if (report)
        *report = r;
    return out;
}

TEST(HtmlSanitizer, KeepsWhatAMessageLooksLike)
{
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {"<p>Hello <b>world</b></p>", "<p>Hello <b>world</b></p>"},
        {"<P ALIGN=center>x</P>", "<p align=\"center\">x</p>"},
        {"<font color=\"#ff0000\" face=\"Arial, sans-serif\" size=\"+1\">f</font>",
         "<font color=\"#ff0000\" face=\"Arial, sans-serif\" size=\"+1\">f</font>"},
        {"<table border=0 cellpadding=4 width=\"100%\"><tr><td colspan=2 bgcolor=#eee>c</td></tr></table>",
         "<table border=\"0\" cellpadding=\"4\" width=\"100%\"><tbody><tr><td colspan=\"2\" "
         "bgcolor=\"#eee\">c</td></tr></tbody></table>"},
        {"<a href=\"http://example.org/?a=1&amp;b=2\">x</a>",
         "<a href=\"http://example.org/?a=1&amp;b=2\" target=\"_blank\" rel=\"noopener noreferrer\">x</a>"},
        {"<a href=\"mailto:ann@example.org\">m</a>", "<a href=\"mailto:ann@example.org\">m</a>"},
        {"<a name=top id=x class=y>anchor</a>", "<a>anchor</a>"},
        {"<img src=\"cid:logo%40example.org\" alt=\"Logo\">",
         "<img src=\"/Corvane?Session=ABCDEFG&amp;View=Attachment&amp;CID=logo%40example.org\" alt=\"Logo\">"},
        {"<img src=\"cid:a b&quot;c\">",
         "<img src=\"/Corvane?Session=ABCDEFG&amp;View=Attachment&amp;CID=a%20b%22c\">"},
        {"<img src=\"data:image/png;base64,iVBORw0KGgo=\">", "<img src=\"data:image/png;base64,iVBORw0KGgo=\">"},
        {"<pre>\n\nindented</pre>", "<pre>\n\nindented</pre>"},
        {"<pre>\nfirst</pre>", "<pre>first</pre>"},
        {"a &lt;b&gt; &amp; &quot;c&quot;", "a &lt;b&gt; &amp; \"c\""},
        {"<p title='say \"hi\" &amp; <bye>'>t</p>", "<p title=\"say &quot;hi&quot; &amp; &lt;bye&gt;\">t</p>"},
        {"<o:p>office</o:p><center>c</center>", "office<center>c</center>"},
        {"<!-- comment -->x", "x"},
        {"<ul><li>one<li>two</ul>", "<ul><li>one</li><li>two</li></ul>"},
        {"<div style=\"color: red; position: fixed; margin:0 auto\">s</div>",
         "<div style=\"color: red; margin: 0 auto\">s</div>"},
        {"<span style=\"color: rgb(1, 2, 3)\">c</span>", "<span style=\"color: rgb(1, 2, 3)\">c</span>"},
        {"<html><head><title>T</title><style>p{}</style></head><body><p>b</p></body></html>", "<p>b</p>"},
        {"<br><hr size=1><wbr>", "<br><hr size=\"1\"><wbr>"},
        {"<form action=x>before<input>after</form>", "beforeafter"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(clean(c.in), c.want) << "in: " << c.in;
}

TEST(HtmlSanitizer, RemoteImagesOnlyWhenAskedAndOnlyOverHttps)
{
    const std::string html =
        "<img src=\"https://img.example.org/a.png\" alt=\"A\"><img src=\"http://img.example.org/b.png\">"
        "<img src=\"cid:c@x\">";
    Report report;
    EXPECT_EQ(clean(html, false, &report),
              "<img alt=\"A\"><img><img src=\"/Corvane?Session=ABCDEFG&amp;View=Attachment&amp;CID=c%40x\">");
    EXPECT_TRUE(report.remote_images);
    EXPECT_TRUE(report.remote_images_blocked);

    EXPECT_EQ(clean(html, true, &report),
              "<img src=\"https://img.example.org/a.png\" alt=\"A\"><img>"
              "<img src=\"/Corvane?Session=ABCDEFG&amp;View=Attachment&amp;CID=c%40x\">");
    EXPECT_TRUE(report.remote_images);
    EXPECT_TRUE(report.remote_images_blocked);  // the http one

    clean("<p>no images</p><a href=\"https://example.org/\">link</a>", false, &report);
    EXPECT_FALSE(report.remote_images);
    EXPECT_FALSE(report.remote_images_blocked);

    // Without a session, cid: references have nowhere to go.
    std::string out;
    sanitize_html("<img src=\"cid:c@x\" alt=a><a href=\"cid:d@x\">d</a>", Policy{}, out);
    EXPECT_EQ(out, "<img alt=\"a\"><a>d</a>");
}

TEST(HtmlSanitizer, UrlsAreReadAsBrowsersReadThem)
{
    struct Case {
        const char* raw;
        UrlKind kind;
    };
    const Case cases[] = {
        {"http://example.org/", UrlKind::web},
        {"  HTTPS://example.org/x  ", UrlKind::secure_web},
        {"ht\ttp://example.org/", UrlKind::web},
        {"java\nscript:alert(1)", UrlKind::refused},
        {"\x01javascript:alert(1)", UrlKind::refused},
        {"http:example.org", UrlKind::refused},
        {"http:///example.org", UrlKind::refused},
        {"https:\\\\example.org", UrlKind::refused},
        {"//example.org/x", UrlKind::refused},
        {"/relative", UrlKind::refused},
        {"?View=Logout", UrlKind::refused},
        {"mailto:a@b", UrlKind::mail},
        {"cid:x@y", UrlKind::content_id},
        {"cid:", UrlKind::refused},
        {"data:image/gif;base64,R0lGODlh", UrlKind::data_image},
        {"data:image/svg+xml;base64,PHN2Zz4=", UrlKind::refused},
        {"data:image/png;base64,\"onerror=x", UrlKind::refused},
        {"data:text/html,<b>", UrlKind::refused},
        {"vbscript:x", UrlKind::refused},
        {"", UrlKind::refused},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classify_url(c.raw).kind, c.kind) << c.raw;
    EXPECT_EQ(content_id_of_url("cid:a%40b%2"), "a@b%2");
    EXPECT_EQ(content_id_of_url("CID:%3c%3E"), "<>");
}

TEST(HtmlSanitizer, StylesKeepOnlyHarmlessDeclarations)
{
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {"color:red;FONT-WEIGHT: bold", "color: red; font-weight: bold"},
        {"font-family: \"Segoe UI\", 'Noto Sans'; font-size: 12px",
         "font-family: \"Segoe UI\", 'Noto Sans'; font-size: 12px"},
        {"background: #fff url(http://x/y.png)", ""},
        {"background: #fff; background-image: url(x)", "background: #fff"},
        {"color: hsl(0, 50%, 50%)", "color: hsl(0, 50%, 50%)"},
        {"width: calc(100% - 2px)", ""},
        {"color: red /* x */", ""},
        {"color: \\72 ed", ""},
        {"font-family: \"unclosed", ""},
        {"font-family: 'a;b'; color: blue", "color: blue"},
        {"position: absolute; z-index: 9; top: 0", ""},
        {"color:", ""},
        {";;;", ""},
        {"no colon here", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(filter_style(c.in), c.want) << c.in;
    EXPECT_EQ(filter_style(std::string(kMaxStyle + 1, ' ') + "color:red"), "");
}

TEST(HtmlSanitizer, HostileSizesStayBounded)
{
    // Five megabytes of unclosed tags: the parse stays shallow, the words stay.
    std::string deep;
    for (int i = 0; i < 5 * 1024 * 1024 / 6; ++i)
        deep += "<div>x";
    Policy policy;
    policy.max_input = 8u << 20;
    std::string out;
    Report report = sanitize_html(deep, policy, out);
    EXPECT_GT(report.dropped_tags, 800000u);
    EXPECT_EQ(std::count(out.begin(), out.end(), 'x'), 5 * 1024 * 1024 / 6);
    testing::TreeFacts facts = testing::check_tree(out, "", false);
    EXPECT_LE(facts.max_depth, 4 * policy.nesting.max_depth + 8);

    // Beyond the input limit the message is cut, at a character boundary.
    std::string big(3u << 20, 'a');
    big.replace((2u << 20) - 1, 2, "\xC3\xA9");
    out.clear();
    report = sanitize_html(big, Policy{}, out);
    EXPECT_TRUE(report.truncated);
    EXPECT_EQ(out.size(), (2u << 20) - 1);

    // Many small elements side by side: capped, text kept.
    std::string wide;
    for (int i = 0; i < 200000; ++i)
        wide += "<b>y</b>";
    out.clear();
    report = sanitize_html(wide, Policy{}, out);
    EXPECT_GT(report.dropped_tags, 0u);
    EXPECT_EQ(std::count(out.begin(), out.end(), 'y'), 200000);
}

}  // namespace
}  // namespace corvane::sanitize
