#include "engine/store/html_sanitizer/nesting_limit.h"

#include <algorithm>
#include <vector>

#include "common/text/strings.h"

namespace corvane::sanitize {

namespace {

bool is_alpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_tag_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool one_of(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements that never hold children.
bool is_void(std::string_view name)
{
    return one_of(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img",
                         "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements a real parser closes by itself when the next of their kind (or
// their parent's end) arrives; counting them would make every list or
// table look deep. Their parents (ul, table, select, ...) are counted.
bool closes_itself(std::string_view name)
{
    return one_of(name,
                  {"p",     "li",       "dt",      "dd", "option", "optgroup", "tr",  "td",   "th",   "tbody", "thead",
                   "tfoot", "colgroup", "caption", "rb", "rt",     "rp",       "rtc", "html", "head", "body"});
}

// An end tag does not reach past these to close an element outside them.
bool is_scope_boundary(std::string_view name)
{
    return one_of(name, {"applet", "table", "marquee", "object", "template", "svg", "math", "foreignobject", "desc",
                         "title", "mi", "mo", "mn", "ms", "mtext", "annotation-xml", "button", "select"});
}

class Scanner {
public:
    Scanner(std::string_view html, const NestingLimits& limits) : m_in(html), m_limits(limits)
    {
        m_out.html.reserve(html.size());
    }

    NestingResult run()
    {
        std::size_t i = 0;
        while (i < m_in.size()) {
            std::size_t lt = m_in.find('<', i);
            if (lt == std::string_view::npos) {
                m_out.html.append(m_in.substr(i));
                break;
            }
            m_out.html.append(m_in.substr(i, lt - i));
            i = markup(lt);
        }
        return std::move(m_out);
    }

private:
    bool in_foreign() const { return m_foreign > 0; }

    // Handles the markup starting at lt; returns where text resumes.
    std::size_t markup(std::size_t lt)
    {
        std::size_t n = m_in.size();
        if (lt + 1 >= n) {
            m_out.html.push_back('<');
            return lt + 1;
        }
        char c = m_in[lt + 1];
        if (c == '!')
            return declaration(lt);
        if (c == '?')
            return copy_to_gt(lt, lt + 2);
        if (c == '/') {
            if (lt + 2 < n && is_alpha(m_in[lt + 2]))
                return tag(lt, true);
            if (lt + 2 < n && m_in[lt + 2] == '>') {
                // "</>" is dropped by parsers.
                m_out.html.append("</>");
                return lt + 3;
            }
            return copy_to_gt(lt, lt + 2);
        }
        if (is_alpha(c))
            return tag(lt, false);
        m_out.html.push_back('<');
        return lt + 1;
    }

    std::size_t copy_to_gt(std::size_t from, std::size_t search)
    {
        std::size_t gt = m_in.find('>', search);
        std::size_t end = gt == std::string_view::npos ? m_in.size() : gt + 1;
        m_out.html.append(m_in.substr(from, end - from));
        return end;
    }

    std::size_t declaration(std::size_t lt)
    {
        std::string_view rest = m_in.substr(lt);
        if (rest.starts_with("<!--")) {
            // "<!-->" and "<!--->" are complete, empty comments.
            if (rest.starts_with("<!-->"))
                return copy(lt, 5);
            if (rest.starts_with("<!--->"))
                return copy(lt, 6);
            std::size_t end = std::string_view::npos;
            for (std::size_t i = 4; i + 2 < rest.size() + 1; ++i) {
                if (rest.compare(i, 3, "-->") == 0) {
                    end = i + 3;
                    break;
                }
                if (rest.compare(i, 4, "--!>") == 0) {
                    end = i + 4;
                    break;
                }
            }
            return copy(lt, end == std::string_view::npos ? rest.size() : end);
        }
        if (in_foreign() && rest.starts_with("<![CDATA[")) {
            std::size_t end = rest.find("]]>");
            return copy(lt, end == std::string_view::npos ? rest.size() : end + 3);
        }
        return copy_to_gt(lt, lt + 2);
    }

    std::size_t copy(std::size_t from, std::size_t length)
    {
        m_out.html.append(m_in.substr(from, length));
        return from + length;
    }

    // Reads a tag the way the tokenizer does; returns the end (after ">")
    // and whether it ends in "/>".
    struct TagEnd {
        std::size_t end;
        bool self_closing;
    };
    TagEnd tag_end(std::size_t i) const
    {
        std::size_t n = m_in.size();
        bool self_closing = false;
        while (i < n) {
            char c = m_in[i];
            if (c == '>')
                return {i + 1, self_closing};
            if (is_tag_space(c)) {
                ++i;
                continue;
            }
            if (c == '/') {
                self_closing = i + 1 < n && m_in[i + 1] == '>';
                ++i;
                continue;
            }
            self_closing = false;
            // Attribute name: the first character may be anything but space,
            // "/" and ">" (an "=" included).
            ++i;
            while (i < n && !is_tag_space(m_in[i]) && m_in[i] != '/' && m_in[i] != '>' && m_in[i] != '=')
                ++i;
            std::size_t j = i;
            while (j < n && is_tag_space(m_in[j]))
                ++j;
            if (j >= n || m_in[j] != '=')
                continue;
            i = j + 1;
            while (i < n && is_tag_space(m_in[i]))
                ++i;
            if (i >= n)
                break;
            if (m_in[i] == '"' || m_in[i] == '\'') {
                std::size_t close = m_in.find(m_in[i], i + 1);
                if (close == std::string_view::npos)
                    return {n, false};
                i = close + 1;
            } else {
                while (i < n && !is_tag_space(m_in[i]) && m_in[i] != '>')
                    ++i;
            }
        }
        return {n, false};
    }

    std::size_t tag(std::size_t lt, bool end_tag)
    {
        std::size_t name_start = lt + (end_tag ? 2 : 1);
        std::size_t i = name_start;
        while (i < m_in.size() && !is_tag_space(m_in[i]) && m_in[i] != '/' && m_in[i] != '>')
            ++i;
        std::string name = text::lower(m_in.substr(name_start, i - name_start));
        TagEnd te = tag_end(i);
        std::string_view whole = m_in.substr(lt, te.end - lt);

        if (++m_tags > m_limits.max_tags) {
            ++m_out.dropped_tags;
            return te.end;
        }
        if (end_tag) {
            close(name);
            m_out.html.append(whole);
            return te.end;
        }
        // Inside svg and math every tag without "/>" nests (our parser keeps
        // even HTML tags there), outside only the elements that hold
        // children and do not close themselves.
        bool opens =
            in_foreign() || name == "svg" || name == "math" ? !te.self_closing : !is_void(name) && !closes_itself(name);
        if (opens) {
            if (m_stack.size() >= m_limits.max_depth) {
                ++m_out.dropped_tags;
                return te.end;
            }
            m_stack.push_back(name);
            if (name == "svg" || name == "math")
                ++m_foreign;
        }
        m_out.html.append(whole);
        if (!in_foreign() && !in_select() && te.end <= m_in.size() &&
            (name == "script" || name == "style" || name == "textarea" || name == "title"))
            return raw_text(name, te.end);
        return te.end;
    }

    bool in_select() const { return std::find(m_stack.begin(), m_stack.end(), "select") != m_stack.end(); }

    // The content of a raw-text element runs to its end tag and is copied
    // as it stands; the end tag is then read as a tag.
    std::size_t raw_text(const std::string& name, std::size_t from)
    {
        std::size_t i = from;
        while (true) {
            std::size_t pos = m_in.find("</", i);
            if (pos == std::string_view::npos) {
                m_out.html.append(m_in.substr(from));
                return m_in.size();
            }
            std::size_t after = pos + 2 + name.size();
            if (after <= m_in.size() && text::iequals(m_in.substr(pos + 2, name.size()), name) &&
                (after == m_in.size() || is_tag_space(m_in[after]) || m_in[after] == '/' || m_in[after] == '>')) {
                m_out.html.append(m_in.substr(from, pos - from));
                return pos;
            }
            i = pos + 2;
        }
    }

    // Pops to the innermost open element of that name unless a scope
    // boundary stands in between; an end tag that matches nothing changes
    // nothing, as in a real parser.
    void close(const std::string& name)
    {
        for (std::size_t k = m_stack.size(); k > 0; --k) {
            const std::string& open = m_stack[k - 1];
            if (open == name) {
                for (std::size_t j = m_stack.size(); j >= k; --j) {
                    if (m_stack[j - 1] == "svg" || m_stack[j - 1] == "math")
                        --m_foreign;
                }
                m_stack.resize(k - 1);
                return;
            }
            if (is_scope_boundary(open))
                return;
        }
    }

    std::string_view m_in;
    const NestingLimits& m_limits;
    NestingResult m_out;
    std::vector<std::string> m_stack;
    std::size_t m_tags = 0;
    int m_foreign = 0;
};

}  // namespace

NestingResult limit_nesting(std::string_view html, const NestingLimits& limits)
{
    return Scanner(html, limits).run();
}

}  // namespace corvane::sanitize
