// Reads sanitiser output back with an HTML5 parser and reports what must
// never be in it, by a list of its own (not the sanitiser's allow-list).
#pragma once

#include <gumbo.h>

#include <string>
#include <string_view>
#include <vector>

namespace corvane::sanitize::testing {

struct TreeFacts {
    std::vector<std::string> problems;
    std::size_t max_depth = 0;
    std::size_t elements = 0;
};

inline bool starts_with_nocase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i])
            return false;
    }
    return true;
}

inline std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// own_prefix: the start of URLs that lead back to the server for a part.
inline TreeFacts check_tree(const std::string& html, std::string_view own_prefix, bool remote_images_allowed)
{
    static const std::vector<std::string_view> kForbiddenElements = {
        "script", "style",    "iframe",    "frame",   "frameset", "object", "embed",  "applet", "svg",
        "math",   "form",     "input",     "button",  "textarea", "select", "option", "meta",   "link",
        "base",   "template", "noscript",  "video",   "audio",    "source", "track",  "image",  "isindex",
        "keygen", "xmp",      "plaintext", "noembed", "noframes", "title",  "param",  "area",   "map",
        "canvas", "bgsound",  "marquee",   "picture", "dialog"};
    static const std::vector<std::string_view> kForbiddenAttributes = {
        "srcset", "background", "lowsrc",   "dynsrc", "longdesc", "ping",  "formaction", "poster", "action",
        "data",   "code",       "codebase", "id",     "name",     "class", "xmlns",      "srcdoc", "http-equiv"};
    TreeFacts facts;
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = GUMBO_TAG_BODY;
    GumboOutput* out = gumbo_parse_with_options(&options, html.data(), html.size());
    struct Item {
        const GumboNode* node;
        std::size_t depth;
    };
    std::vector<Item> stack{{out->root, 0}};
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        const GumboNode* node = item.node;
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        const GumboElement& el = node->v.element;
        facts.max_depth = std::max(facts.max_depth, item.depth);
        ++facts.elements;
        std::string name = el.tag == GUMBO_TAG_UNKNOWN
                               ? lowered(std::string_view(el.original_tag.data, el.original_tag.length))
                               : gumbo_normalized_tagname(el.tag);
        if (el.tag_namespace != GUMBO_NAMESPACE_HTML)
            facts.problems.push_back("foreign element " + name);
        for (std::string_view bad : kForbiddenElements) {
            if (name == bad)
                facts.problems.push_back("element " + name);
        }
        for (unsigned i = 0; i < el.attributes.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(el.attributes.data[i]);
            std::string attr = lowered(a->name);
            std::string_view value = a->value;
            if (attr.starts_with("on"))
                facts.problems.push_back("handler " + attr);
            for (std::string_view bad : kForbiddenAttributes) {
                if (attr == bad)
                    facts.problems.push_back("attribute " + attr);
            }
            if (attr.find(':') != std::string::npos)
                facts.problems.push_back("namespaced attribute " + attr);
            if (attr == "href") {
                bool ok = starts_with_nocase(value, "http://") || starts_with_nocase(value, "https://") ||
                          starts_with_nocase(value, "mailto:") ||
                          (!own_prefix.empty() && value.starts_with(own_prefix));
                if (!ok || name != "a")
                    facts.problems.push_back("href " + std::string(value));
            }
            if (attr == "src") {
                bool ok = starts_with_nocase(value, "data:image/") ||
                          (!own_prefix.empty() && value.starts_with(own_prefix)) ||
                          (remote_images_allowed && starts_with_nocase(value, "https://"));
                if (!ok)
                    facts.problems.push_back("src " + std::string(value));
            }
            if (attr == "style") {
                std::string v = lowered(value);
                for (std::string_view bad : {"url(", "expression(", "\\", "@", "image-set(", "var(", "attr(", "/*"}) {
                    if (v.find(bad) != std::string::npos)
                        facts.problems.push_back("style " + v);
                }
                // Properties are the names at the start of declarations.
                std::size_t start = 0;
                while (start < v.size()) {
                    std::size_t colon = v.find(':', start);
                    std::size_t semi = v.find(';', start);
                    if (colon == std::string::npos)
                        break;
                    std::string_view prop = std::string_view(v).substr(start, colon - start);
                    while (!prop.empty() && prop.front() == ' ')
                        prop.remove_prefix(1);
                    for (std::string_view bad : {"position", "z-index", "-moz-binding", "behavior", "content",
                                                 "background-image", "cursor", "list-style-image", "filter"}) {
                        if (prop == bad)
                            facts.problems.push_back("style property " + std::string(prop));
                    }
                    if (semi == std::string::npos)
                        break;
                    start = semi + 1;
                }
            }
            if (attr == "target" && std::string_view(value) != "_blank")
                facts.problems.push_back("target " + std::string(value));
        }
        for (unsigned i = 0; i < el.children.length; ++i)
            stack.push_back({static_cast<const GumboNode*>(el.children.data[i]), item.depth + 1});
    }
    gumbo_destroy_output(&options, out);
    return facts;
}

}  // namespace corvane::sanitize::testing
