#include "engine/store/html_sanitizer/html_sanitizer.h"

#include <gumbo.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/text/strings.h"
#include "engine/store/html_sanitizer/style_filter.h"
#include "engine/store/html_sanitizer/url_filter.h"

namespace corvane::sanitize {

namespace {

// What happens to an element.
enum class Fate : unsigned char {
    unwrap,  // tags go, content stays (unknown and harmless elements)
    keep,    // written with its allowed attributes
    drop,    // removed with everything inside
};

// What an attribute value may be.
enum class Value : unsigned char { none, text, lang, dir, style, url, colour, face, size, keyword };

struct AttributeRule {
    std::string_view name;
    Value value;
};

constexpr AttributeRule kGlobalAttributes[] = {
    {"title", Value::text},  {"lang", Value::lang},     {"dir", Value::dir},
    {"style", Value::style}, {"align", Value::keyword}, {"valign", Value::keyword},
    {"width", Value::size},  {"height", Value::size},   {"bgcolor", Value::colour},
};

struct ElementRule {
    std::string_view tag;
    std::initializer_list<AttributeRule> attributes;
};

const ElementRule kKept[] = {
    {"a", {{"href", Value::url}}},
    {"abbr", {}},
    {"address", {}},
    {"article", {}},
    {"aside", {}},
    {"b", {}},
    {"bdi", {}},
    {"bdo", {}},
    {"big", {}},
    {"blockquote", {{"type", Value::keyword}}},
    {"br", {{"clear", Value::keyword}}},
    {"caption", {}},
    {"center", {}},
    {"cite", {}},
    {"code", {}},
    {"col", {{"span", Value::size}}},
    {"colgroup", {{"span", Value::size}}},
    {"dd", {}},
    {"del", {}},
    {"details", {}},
    {"dfn", {}},
    {"div", {}},
    {"dl", {}},
    {"dt", {}},
    {"em", {}},
    {"figcaption", {}},
    {"figure", {}},
    {"font", {{"color", Value::colour}, {"face", Value::face}, {"size", Value::size}}},
    {"footer", {}},
    {"h1", {}},
    {"h2", {}},
    {"h3", {}},
    {"h4", {}},
    {"h5", {}},
    {"h6", {}},
    {"header", {}},
    {"hr", {{"size", Value::size}, {"noshade", Value::keyword}, {"color", Value::colour}}},
    {"i", {}},
    {"img",
     {{"src", Value::url},
      {"alt", Value::text},
      {"border", Value::size},
      {"hspace", Value::size},
      {"vspace", Value::size}}},
    {"ins", {}},
    {"kbd", {}},
    {"li", {{"value", Value::size}, {"type", Value::keyword}}},
    {"main", {}},
    {"mark", {}},
    {"nav", {}},
    {"ol", {{"start", Value::size}, {"type", Value::keyword}, {"reversed", Value::keyword}}},
    {"p", {}},
    {"pre", {}},
    {"q", {}},
    {"rp", {}},
    {"rt", {}},
    {"ruby", {}},
    {"s", {}},
    {"samp", {}},
    {"section", {}},
    {"small", {}},
    {"span", {}},
    {"strike", {}},
    {"strong", {}},
    {"sub", {}},
    {"summary", {}},
    {"sup", {}},
    {"table",
     {{"border", Value::size},
      {"cellpadding", Value::size},
      {"cellspacing", Value::size},
      {"summary", Value::text},
      {"frame", Value::keyword},
      {"rules", Value::keyword}}},
    {"tbody", {}},
    {"td", {{"colspan", Value::size}, {"rowspan", Value::size}, {"nowrap", Value::keyword}, {"abbr", Value::text}}},
    {"tfoot", {}},
    {"th",
     {{"colspan", Value::size},
      {"rowspan", Value::size},
      {"nowrap", Value::keyword},
      {"abbr", Value::text},
      {"scope", Value::keyword}}},
    {"thead", {}},
    {"time", {{"datetime", Value::text}}},
    {"tr", {}},
    {"tt", {}},
    {"u", {}},
    {"ul", {{"type", Value::keyword}}},
    {"var", {}},
    {"wbr", {}},
};

// Removed with their content: they run code, load things, take input, or
// hold text that is not meant to be read as the message.
constexpr std::string_view kDropped[] = {
    "applet",   "area",      "audio",    "base",     "basefont", "bgsound",  "button",   "canvas",
    "datalist", "dialog",    "embed",    "frame",    "frameset", "head",     "iframe",   "image",
    "input",    "isindex",   "keygen",   "link",     "map",      "math",     "menuitem", "meta",
    "meter",    "noembed",   "noframes", "noscript", "object",   "optgroup", "option",   "output",
    "param",    "plaintext", "progress", "script",   "select",   "source",   "style",    "svg",
    "template", "textarea",  "title",    "track",    "video",    "xmp",
};

struct Tables {
    std::array<Fate, GUMBO_TAG_LAST + 1> fate{};
    std::array<const ElementRule*, GUMBO_TAG_LAST + 1> rule{};

    Tables()
    {
        fate.fill(Fate::unwrap);
        rule.fill(nullptr);
        for (const ElementRule& r : kKept) {
            GumboTag tag = gumbo_tag_enum(std::string(r.tag).c_str());
            if (tag < GUMBO_TAG_UNKNOWN) {
                fate[tag] = Fate::keep;
                rule[tag] = &r;
            }
        }
        for (std::string_view name : kDropped) {
            GumboTag tag = gumbo_tag_enum(std::string(name).c_str());
            if (tag < GUMBO_TAG_UNKNOWN)
                fate[tag] = Fate::drop;
        }
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

bool is_void(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// Appends s with & < > (and " in attributes) as references. Characters a
// parser would read differently the second time are replaced: control
// characters and noncharacters become U+FFFD (a parser replaces or keeps
// them depending on how they were written), a CR is written as a reference
// (a parser turns a bare one into LF).
void escape(std::string_view s, bool attribute, std::string& out)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::size_t i = 0;
    while (i < s.size()) {
        auto u = static_cast<unsigned char>(s[i]);
        if (u < 0x80) {
            switch (u) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
            case '\n':
            case '\f':
                out.push_back(static_cast<char>(u));
                break;
            default:
                if (u < 0x20 || u == 0x7F)
                    out += kReplacement;
                else
                    out.push_back(static_cast<char>(u));
            }
            ++i;
            continue;
        }
        std::size_t length = u >= 0xF0 ? 4 : u >= 0xE0 ? 3 : u >= 0xC0 ? 2 : 1;
        std::string_view seq = s.substr(i, length);
        auto byte = [&](std::size_t k) { return k < seq.size() ? static_cast<unsigned char>(seq[k]) : 0; };
        bool bad = length == 1 || seq.size() < length;
        if (!bad && length == 2 && u == 0xC2 && byte(1) < 0xA0)
            bad = true;  // C1 controls
        if (!bad && length == 3 && u == 0xEF &&
            ((byte(1) == 0xB7 && byte(2) >= 0x90 && byte(2) <= 0xAF) || (byte(1) == 0xBF && byte(2) >= 0xBE)))
            bad = true;  // U+FDD0..U+FDEF, U+FFFE, U+FFFF
        if (!bad && length == 4 && (byte(1) & 0x0F) == 0x0F && byte(2) == 0xBF && byte(3) >= 0xBE)
            bad = true;  // U+xFFFE, U+xFFFF of the other planes
        if (bad)
            out += kReplacement;
        else
            out.append(seq);
        i += seq.empty() ? 1 : seq.size();
    }
}

void escape_text(std::string_view s, std::string& out)
{
    escape(s, false, out);
}

void escape_attribute(std::string_view s, std::string& out)
{
    escape(s, true, out);
}

bool all_chars(std::string_view s, std::size_t max, bool (*ok)(char))
{
    if (s.size() > max)
        return false;
    for (char c : s) {
        if (!ok(c))
            return false;
    }
    return true;
}

bool alnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A checked attribute value, or nullopt-like empty with ok = false.
struct Checked {
    bool ok = false;
    std::string value;
};

Checked check_plain(Value kind, std::string_view v)
{
    auto pass = [&](bool ok) { return ok ? Checked{true, std::string(v)} : Checked{}; };
    switch (kind) {
    case Value::text:
        return pass(v.size() <= 1024);
    case Value::lang:
        return pass(all_chars(v, 35, [](char c) { return alnum(c) || c == '-'; }));
    case Value::dir:
        return pass(text::iequals(v, "ltr") || text::iequals(v, "rtl") || text::iequals(v, "auto"));
    case Value::colour:
        return pass(all_chars(v, 32, [](char c) { return alnum(c) || c == '#'; }));
    case Value::face:
        return pass(all_chars(v, 128, [](char c) {
            return alnum(c) || c == ' ' || c == ',' || c == '-' || c == '_' || c == '\'' || c == '"';
        }));
    case Value::size:
        return pass(all_chars(
            v, 16, [](char c) { return alnum(c) || c == '%' || c == '.' || c == '*' || c == '+' || c == '-'; }));
    case Value::keyword:
        return pass(all_chars(v, 16, [](char c) { return alnum(c) || c == '-'; }));
    case Value::style: {
        std::string s = filter_style(v);
        return s.empty() ? Checked{} : Checked{true, std::move(s)};
    }
    case Value::none:
    case Value::url:
        break;
    }
    return {};
}

const AttributeRule* find_rule(const ElementRule& element, std::string_view name)
{
    for (const AttributeRule& a : element.attributes) {
        if (a.name == name)
            return &a;
    }
    for (const AttributeRule& a : kGlobalAttributes) {
        if (a.name == name)
            return &a;
    }
    return nullptr;
}

// Bump allocation for the parse tree: freed at once when the sanitiser is
// done, which also spares the parser's recursive walk that frees a tree.
class Arena {
public:
    ~Arena()
    {
        for (void* p : m_blocks)
            std::free(p);
    }
    void* allocate(std::size_t size)
    {
        size = (size + 15) & ~static_cast<std::size_t>(15);
        if (size > kChunk / 4) {
            void* p = std::malloc(size);
            if (p)
                m_blocks.push_back(p);
            return p;
        }
        if (m_left < size) {
            m_next = static_cast<char*>(std::malloc(kChunk));
            if (!m_next) {
                m_left = 0;
                return nullptr;
            }
            m_blocks.push_back(m_next);
            m_left = kChunk;
        }
        void* p = m_next;
        m_next += size;
        m_left -= size;
        return p;
    }

    static void* allocate_fn(void* self, std::size_t size) { return static_cast<Arena*>(self)->allocate(size); }
    static void deallocate_fn(void*, void*) {}

private:
    static constexpr std::size_t kChunk = 256 * 1024;
    std::vector<void*> m_blocks;
    char* m_next = nullptr;
    std::size_t m_left = 0;
};

class Writer {
public:
    Writer(const Policy& policy, bool trust_own_urls, Report& report, std::string& out)
        : m_policy(policy), m_trust_own(trust_own_urls), m_report(report), m_out(out)
    {
    }

    bool unwrapped() const { return m_unwrapped; }

    // Walks the tree without recursion: its depth is bounded, but the
    // walk's own stack need not be.
    void write_children(const GumboNode* root)
    {
        struct Frame {
            const GumboVector* children;
            unsigned next;
            const char* end_tag;  // null for an unwrapped element
        };
        std::vector<Frame> stack;
        stack.push_back({&root->v.element.children, 0, nullptr});
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next >= top.children->length) {
                if (top.end_tag) {
                    m_out += "</";
                    m_out += top.end_tag;
                    m_out += '>';
                }
                stack.pop_back();
                continue;
            }
            const auto* node = static_cast<const GumboNode*>(top.children->data[top.next++]);
            switch (node->type) {
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_WHITESPACE:
            case GUMBO_NODE_CDATA:
                escape_text(node->v.text.text, m_out);
                break;
            case GUMBO_NODE_ELEMENT:
            case GUMBO_NODE_TEMPLATE: {
                const GumboElement& el = node->v.element;
                Fate fate = Fate::drop;
                if (el.tag_namespace == GUMBO_NAMESPACE_HTML && node->type == GUMBO_NODE_ELEMENT)
                    fate = tables().fate[el.tag];
                if (fate == Fate::drop)
                    break;
                if (fate == Fate::unwrap) {
                    m_unwrapped = true;
                    stack.push_back({&el.children, 0, nullptr});
                    break;
                }
                const char* name = gumbo_normalized_tagname(el.tag);
                write_start_tag(name, el);
                if (is_void(el.tag))
                    break;
                // A parser drops one newline right after <pre>; write one
                // more so a leading newline of the text survives.
                if (el.tag == GUMBO_TAG_PRE && el.children.length > 0) {
                    const auto* first = static_cast<const GumboNode*>(el.children.data[0]);
                    if ((first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) &&
                        first->v.text.text[0] == '\n')
                        m_out += '\n';
                }
                stack.push_back({&el.children, 0, name});
                break;
            }
            case GUMBO_NODE_COMMENT:
            case GUMBO_NODE_DOCUMENT:
                break;
            }
        }
    }

private:
    void write_start_tag(const char* name, const GumboElement& el)
    {
        const ElementRule& rule = *tables().rule[el.tag];
        m_out += '<';
        m_out += name;
        bool is_link = el.tag == GUMBO_TAG_A;
        bool is_image = el.tag == GUMBO_TAG_IMG;
        bool new_tab = false;
        for (unsigned i = 0; i < el.attributes.length; ++i) {
            const auto* attr = static_cast<const GumboAttribute*>(el.attributes.data[i]);
            if (attr->attr_namespace != GUMBO_ATTR_NAMESPACE_NONE)
                continue;
            std::string_view attr_name = attr->name;
            const AttributeRule* ar = find_rule(rule, attr_name);
            if (!ar)
                continue;
            Checked checked;
            if (ar->value == Value::url) {
                checked = is_image ? image_source(attr->value) : link_target(attr->value, new_tab);
            } else {
                checked = check_plain(ar->value, attr->value);
            }
            if (!checked.ok)
                continue;
            m_out += ' ';
            m_out += attr_name;
            m_out += "=\"";
            escape_attribute(checked.value, m_out);
            m_out += '"';
        }
        if (is_link && new_tab)
            m_out += " target=\"_blank\" rel=\"noopener noreferrer\"";
        m_out += '>';
    }

    bool own_url(std::string_view url) const
    {
        return m_trust_own && !m_policy.cid_url_prefix.empty() && url.starts_with(m_policy.cid_url_prefix) &&
               url.find_first_of("\"<> \t\r\n") == std::string_view::npos;
    }

    std::string part_url(std::string_view cid_url) const
    {
        std::string url = m_policy.cid_url_prefix;
        percent_encode(content_id_of_url(cid_url), url);
        return url;
    }

    Checked link_target(std::string_view raw, bool& new_tab)
    {
        if (own_url(raw))
            return {true, std::string(raw)};
        CleanUrl url = classify_url(raw);
        switch (url.kind) {
        case UrlKind::web:
        case UrlKind::secure_web:
            new_tab = true;
            return {true, std::move(url.url)};
        case UrlKind::mail:
            return {true, std::move(url.url)};
        case UrlKind::content_id:
            if (m_policy.cid_url_prefix.empty())
                return {};
            new_tab = true;
            return {true, part_url(url.url)};
        case UrlKind::data_image:
        case UrlKind::refused:
            break;
        }
        return {};
    }

    Checked image_source(std::string_view raw)
    {
        if (own_url(raw))
            return {true, std::string(raw)};
        CleanUrl url = classify_url(raw);
        switch (url.kind) {
        case UrlKind::content_id:
            if (m_policy.cid_url_prefix.empty())
                return {};
            return {true, part_url(url.url)};
        case UrlKind::data_image:
            return {true, std::move(url.url)};
        case UrlKind::secure_web:
            m_report.remote_images = true;
            if (m_policy.allow_remote_images)
                return {true, std::move(url.url)};
            m_report.remote_images_blocked = true;
            return {};
        case UrlKind::web:
            m_report.remote_images = true;
            m_report.remote_images_blocked = true;
            return {};
        case UrlKind::mail:
        case UrlKind::refused:
            break;
        }
        return {};
    }

    const Policy& m_policy;
    bool m_trust_own;
    Report& m_report;
    std::string& m_out;
    bool m_unwrapped = false;
};

// One parse and write; true when an element was unwrapped. Sets
// report.failed when the parser returned no tree.
bool sanitize_once(std::string_view html, const Policy& policy, bool trust_own_urls, Report& report, std::string& out)
{
    Arena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::allocate_fn;
    options.deallocator = &Arena::deallocate_fn;
    options.userdata = &arena;
    options.max_errors = 0;
    options.fragment_context = GUMBO_TAG_BODY;
    GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    if (!output || !output->root) {
        report.failed = true;
        return false;
    }
    Writer writer(policy, trust_own_urls, report, out);
    writer.write_children(output->root);
    // The arena frees the tree.
    return writer.unwrapped();
}

}  // namespace

void percent_encode(std::string_view value, std::string& out)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (char c : value) {
        auto u = static_cast<unsigned char>(c);
        if (alnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[u >> 4]);
            out.push_back(hex[u & 15]);
        }
    }
}

Report sanitize_html(std::string_view html, const Policy& policy, std::string& out)
{
    Report report;
    if (html.size() > policy.max_input) {
        html = text::cut(html, policy.max_input);
        report.truncated = true;
    }
    NestingResult limited = limit_nesting(html, policy.nesting);
    report.dropped_tags = limited.dropped_tags;
    std::string first;
    first.reserve(limited.html.size());
    if (!sanitize_once(limited.html, policy, false, report, first)) {
        out += first;
        return report;
    }
    // Taking tags away can leave a tree a parser would build differently
    // (a <p> inside a <p>); one more pass settles it.
    Report again;
    std::size_t before = out.size();
    sanitize_once(first, policy, true, again, out);
    if (again.failed) {
        out.resize(before);
        report.failed = true;
    }
    return report;
}

}  // namespace corvane::sanitize
