#include "engine/store/html_sanitizer/nesting_limit.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/store/html_sanitizer/tree_check.h"

namespace corvane::sanitize {
namespace {

std::string repeat(std::string_view s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// The depth a real parser builds from html, read with the same parser the
// sanitiser uses.
std::size_t parsed_depth(const std::string& html)
{
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = GUMBO_TAG_BODY;
    GumboOutput* out = gumbo_parse_with_options(&options, html.data(), html.size());
    std::size_t deepest = 0;
    std::vector<std::pair<const GumboNode*, std::size_t>> stack{{out->root, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        deepest = std::max(deepest, depth);
        for (unsigned i = 0; i < node->v.element.children.length; ++i)
            stack.push_back({static_cast<const GumboNode*>(node->v.element.children.data[i]), depth + 1});
    }
    gumbo_destroy_output(&options, out);
    return deepest;
}

TEST(NestingLimit, OrdinaryDocumentsPassUnchanged)
{
    const std::string docs[] = {
        repeat("<p>para", 5000),
        "<ul>" + repeat("<li>item", 3000) + "</ul>",
        "<table>" + repeat("<tr><td>a<td>b", 2000) + "</table>",
        repeat("<div><span>x</span></div>", 3000),
        "<svg>" + repeat("<path d='M0 0'/>", 500) + "</svg><div>after</div>",
        "<style>" + repeat("<div>", 500) + "</style><p>styled</p>",
        "<script>if (a<b && c>d) {}</script>" + repeat("<i>i</i>", 200),
        "<!-- " + repeat("<div>", 300) + " -->" + repeat("<b>b</b>", 10),
        "<p title='" + repeat("<div>", 300) + "'>attribute</p>",
        "<a href=\"x\"" + std::string(" data-x=a>b ") + ">q</a>",
    };
    for (const std::string& doc : docs) {
        NestingResult r = limit_nesting(doc);
        EXPECT_EQ(r.dropped_tags, 0u) << doc.substr(0, 80);
        EXPECT_EQ(r.html, doc) << doc.substr(0, 80);
    }
}

TEST(NestingLimit, HostileNestingStaysNearTheLimitInARealParser)
{
    NestingLimits limits;
    limits.max_depth = 50;
    const std::string docs[] = {
        repeat("<div>", 10000),
        repeat("<b><i><u>", 5000),
        repeat("<div></span></p></li>", 5000),
        repeat("<div><table></div>", 3000),
        repeat("<table><tr><td>", 3000),
        repeat("<p><table>", 3000),
        repeat("<li><table>", 3000),
        repeat("<svg><p>", 3000),
        repeat("<svg/><div>", 3000),
        repeat("<math><mi>", 3000),
        repeat("<select><div>", 3000),
        repeat("<div><style></style>", 3000),
        repeat("<div><!----><!--->", 3000),
        repeat("<div><title>x</title>", 3000),
        repeat("<button><p>", 3000),
        repeat("<a><div>", 3000),
        repeat("<object><div>", 3000),
        repeat("<div/>", 3000),
        repeat("<font><center>", 3000),
        repeat("<dl><dt><dd>", 3000),
    };
    for (const std::string& doc : docs) {
        NestingResult r = limit_nesting(doc, limits);
        EXPECT_LE(parsed_depth(r.html), 4 * limits.max_depth + 8) << doc.substr(0, 40);
    }
}

TEST(NestingLimit, TagCapDropsTagsNotText)
{
    NestingLimits limits;
    limits.max_tags = 10;
    NestingResult r = limit_nesting(repeat("<b>t</b>", 10), limits);
    EXPECT_EQ(r.dropped_tags, 10u);
    EXPECT_EQ(r.html, repeat("<b>t</b>", 5) + "ttttt");
    // Unterminated markup at the end stays as it is.
    EXPECT_EQ(limit_nesting("a <b").html, "a <b");
    EXPECT_EQ(limit_nesting("a <").html, "a <");
    EXPECT_EQ(limit_nesting("<!-- open").html, "<!-- open");
    EXPECT_EQ(limit_nesting("<p title=\"open").html, "<p title=\"open");
}

}  // namespace
}  // namespace corvane::sanitize
