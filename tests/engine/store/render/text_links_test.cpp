#include "engine/store/render/text_links.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane::render {
namespace {

std::string html(std::string_view text, bool session)
{
    LinkContext links;
    if (session)
        links.compose_prefix = "/Corvane?Session=ABCDEFG&View=Compose&To=";
    std::string out;
    text_to_html(text, links, out);
    return out;
}

#define WEB(url, text) "<A HREF=\"" url "\" TARGET=\"_blank\" REL=\"noopener noreferrer\">" text "</A>"
#define MAIL(enc, text) "<A HREF=\"/Corvane?Session=ABCDEFG&amp;View=Compose&amp;To=" enc "&amp;New=Yes\">" text "</A>"

TEST(TextLinks, AddressesBecomeLinksWithoutTheirTrailingPunctuation)
{
    struct Case {
        const char* text;
        bool session;
        const char* want;
    };
    const Case cases[] = {
        {"see http://example.org/a, then", false, "see " WEB("http://example.org/a", "http://example.org/a") ", then"},
        {"at http://example.org.", false, "at " WEB("http://example.org", "http://example.org") "."},
        {"https://a.example.org/p?q=1&r=2#top!", false,
         WEB("https://a.example.org/p?q=1&amp;r=2#top", "https://a.example.org/p?q=1&amp;r=2#top") "!"},
        {"(http://example.org/x)", false, "(" WEB("http://example.org/x", "http://example.org/x") ")"},
        {"www.example.org/docs.", false, WEB("http://www.example.org/docs", "www.example.org/docs") "."},
        {"WWW.Example.ORG", false, WEB("http://WWW.Example.ORG", "WWW.Example.ORG")},
        {"ftp://files.example.org/a.zip", false, WEB("ftp://files.example.org/a.zip", "ftp://files.example.org/a.zip")},
        // No dot in the host, or nothing after the dot: not an address.
        {"http://localhost/x", false, "http://localhost/x"},
        {"www.example", false, "www.example"},
        {"http://.org", false, "http://.org"},
        // Addresses are links only inside a session.
        {"mail joe.doe@example.co.uk.", true, "mail " MAIL("joe.doe%40example.co.uk", "joe.doe@example.co.uk") "."},
        {"mail joe.doe@example.co.uk.", false, "mail joe.doe@example.co.uk."},
        {"a+b&c@x.example", true, MAIL("a%2Bb%26c%40x.example", "a+b&amp;c@x.example")},
        {"user@host", true, "user@host"},
        {"@example.org", true, "@example.org"},
        // A web address with a user part stays one web link.
        {"http://user@example.org/", true, WEB("http://user@example.org/", "http://user@example.org/")},
        {"\xC3\xA9t\xC3\xA9 www.b\xC3\xBC"
         "cher.example",
         false,
         "\xC3\xA9t\xC3\xA9 " WEB("http://www.b\xC3\xBC"
                                  "cher.example",
                                  "www.b\xC3\xBC"
                                  "cher.example")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(html(c.text, c.session), c.want) << "text: " << c.text;
}

TEST(TextLinks, BodyEscapeKeepsTheLookOfMailText)
{
    struct Case {
        const char* text;
        const char* want;
    };
    const Case cases[] = {
        {"a  b", "a &nbsp;b"},
        {"a   b", "a &nbsp; b"},
        {"\tx", " &nbsp; &nbsp;x"},
        {"line\r\n", "line<BR>\r\n"},
        {"<script>\"&\"</script>", "&lt;script&gt;&quot;&amp;&quot;&lt;/script&gt;"},
        {"it's a re-run...", "it's a re-run..."},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(html(c.text, true), c.want) << "text: " << c.text;
}

}  // namespace
}  // namespace corvane::render
