#include "common/ini/document.h"

#include <algorithm>

#include "common/text/strings.h"

namespace corvane::ini {

using text::trim;

namespace {

constexpr std::string_view bom = "\xEF\xBB\xBF";

std::string_view unquote(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

bool needs_quotes(std::string_view value)
{
    if (value.empty())
        return false;
    return text::is_space(value.front()) || text::is_space(value.back()) ||
           (value.size() >= 2 && value.front() == '"' && value.back() == '"');
}

}  // namespace

std::string Document::index_key(std::string_view section, std::string_view key)
{
    std::string k = text::lower(trim(section));
    k += '\x01';
    for (char c : trim(key))
        k += text::to_lower(c);
    return k;
}

Document::Line Document::make_line(std::string_view raw)
{
    Line line;
    line.text = std::string(raw);
    std::string_view t = trim(raw);
    if (t.empty() || t[0] == ';')
        return line;
    if (t[0] == '[') {
        auto close = t.rfind(']');
        if (close == std::string_view::npos)
            return line;
        line.kind = Kind::section;
        line.name = std::string(trim(t.substr(1, close - 1)));
        return line;
    }
    auto eq = t.find('=');
    if (eq == std::string_view::npos)
        return line;
    std::string_view key = trim(t.substr(0, eq));
    if (key.empty())
        return line;
    line.kind = Kind::entry;
    line.name = std::string(key);
    line.value = std::string(unquote(trim(t.substr(eq + 1))));
    return line;
}

Document Document::parse(std::string_view input)
{
    Document doc;
    if (input.substr(0, bom.size()) == bom) {
        doc.m_bom = std::string(bom);
        input.remove_prefix(bom.size());
    }
    auto first_lf = input.find('\n');
    if (first_lf != std::string_view::npos && first_lf > 0 && input[first_lf - 1] == '\r')
        doc.m_newline = "\r\n";
    doc.m_final_newline = input.empty() || input.back() == '\n';
    doc.m_lines.reserve(static_cast<std::size_t>(std::count(input.begin(), input.end(), '\n')) + 1);
    std::size_t pos = 0;
    while (pos < input.size()) {
        auto lf = input.find('\n', pos);
        std::string_view raw = input.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos);
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        doc.m_lines.push_back(make_line(raw));
        if (lf == std::string_view::npos)
            break;
        pos = lf + 1;
    }
    doc.reindex();
    return doc;
}

void Document::reindex()
{
    m_sections.clear();
    m_entries.clear();
    m_entries.reserve(m_lines.size());
    std::string current;  // lower-case name of the section being read
    bool in_section = false;
    bool counting = false;  // only the first section of a name counts
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.kind == Kind::section) {
            current = text::lower(line.name);
            in_section = true;
            counting = m_sections.emplace(current, i).second;
        } else if (line.kind == Kind::entry && in_section && counting) {
            m_entries.emplace(index_key(current, line.name), i);
        }
    }
}

std::string Document::serialize() const
{
    std::string out = m_bom;
    std::size_t total = 0;
    for (const Line& line : m_lines)
        total += line.text.size() + 2;
    out.reserve(total);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        out += m_lines[i].text;
        if (i + 1 < m_lines.size() || m_final_newline)
            out += m_newline;
    }
    return out;
}

std::optional<std::string_view> Document::get(std::string_view section, std::string_view key) const
{
    auto it = m_entries.find(index_key(section, key));
    if (it == m_entries.end())
        return std::nullopt;
    return std::string_view(m_lines[it->second].value);
}

bool Document::has_section(std::string_view section) const
{
    return find_section(section) != std::string::npos;
}

std::size_t Document::find_section(std::string_view section) const
{
    auto it = m_sections.find(text::lower(trim(section)));
    return it == m_sections.end() ? std::string::npos : it->second;
}

std::size_t Document::section_end(std::size_t header) const
{
    std::size_t i = header + 1;
    while (i < m_lines.size() && m_lines[i].kind != Kind::section)
        ++i;
    return i;
}

bool Document::set(std::string_view section_in, std::string_view key_in, std::string_view value_in)
{
    std::string section(trim(text::without_controls(section_in)));
    std::string key(trim(text::without_controls(key_in)));
    std::string value = text::without_controls(value_in);
    if (section.empty() || key.empty() || section.find(']') != std::string::npos ||
        key.find('=') != std::string::npos || key[0] == '[' || key[0] == ';')
        return false;
    std::string rendered_value = needs_quotes(value) ? "\"" + value + "\"" : value;

    auto it = m_entries.find(index_key(section, key));
    if (it != m_entries.end()) {
        Line& line = m_lines[it->second];
        // Keep the key as spelled in the file; only the value changes.
        line.text = line.name + "=" + rendered_value;
        line.value = value;
        return true;
    }
    Line entry;
    entry.kind = Kind::entry;
    entry.name = key;
    entry.value = value;
    entry.text = key + "=" + rendered_value;

    std::size_t header = find_section(section);
    if (header == std::string::npos) {
        if (!m_lines.empty() && !trim(m_lines.back().text).empty())
            m_lines.push_back(Line{});
        Line head;
        head.kind = Kind::section;
        head.name = section;
        head.text = "[" + section + "]";
        m_lines.push_back(std::move(head));
        m_lines.push_back(std::move(entry));
        m_final_newline = true;
        reindex();
        return true;
    }
    // New keys go after the last non-blank line of the section, so the
    // blank line that separates it from the next section stays in place.
    std::size_t end = section_end(header);
    std::size_t at = end;
    while (at > header + 1 && trim(m_lines[at - 1].text).empty())
        --at;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    if (at == m_lines.size() - 1)
        m_final_newline = true;
    reindex();
    return true;
}

bool Document::remove_key(std::string_view section, std::string_view key)
{
    std::size_t header = find_section(section);
    if (header == std::string::npos)
        return false;
    std::size_t end = section_end(header);
    bool removed = false;
    for (std::size_t i = end; i-- > header + 1;) {
        if (m_lines[i].kind == Kind::entry && text::iequals(m_lines[i].name, trim(key))) {
            m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    if (removed)
        reindex();
    return removed;
}

bool Document::remove_section(std::string_view section)
{
    std::size_t header = find_section(section);
    if (header == std::string::npos)
        return false;
    std::size_t end = section_end(header);
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(header),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(end));
    reindex();
    return true;
}

std::vector<std::string> Document::sections() const
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.kind != Kind::section)
            continue;
        auto it = m_sections.find(text::lower(line.name));
        if (it != m_sections.end() && it->second == i)
            names.push_back(line.name);
    }
    return names;
}

std::vector<std::string> Document::keys(std::string_view section) const
{
    std::vector<std::string> names;
    std::size_t header = find_section(section);
    if (header == std::string::npos)
        return names;
    std::string lower_section = text::lower(trim(section));
    std::size_t end = section_end(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const Line& line = m_lines[i];
        if (line.kind != Kind::entry)
            continue;
        auto it = m_entries.find(index_key(lower_section, line.name));
        if (it != m_entries.end() && it->second == i)
            names.push_back(line.name);
    }
    return names;
}

}  // namespace corvane::ini
