#include "engine/store/filters/filter_set.h"

#include <algorithm>

#include "common/ini/profile.h"
#include "common/text/strings.h"

namespace corvane::filters {

namespace {

constexpr std::string_view section = "Filters";

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void skip_blanks(std::string_view s, std::size_t& pos)
{
    while (pos < s.size() && is_blank(s[pos]))
        ++pos;
}

std::string_view header_name(char letter)
{
    switch (letter) {
    case 'C':
        return "CC";
    case 'F':
        return "From";
    case 'N':
        return "Sender";
    case 'S':
        return "Subject";
    case 'T':
        return "To";
    default:
        return {};
    }
}

}  // namespace

std::optional<FilterRule> parse_filter(std::string_view value)
{
    std::size_t pos = 0;
    skip_blanks(value, pos);
    char letters[3];
    for (char& letter : letters) {
        if (pos >= value.size())
            return std::nullopt;
        letter = text::to_upper(value[pos++]);
        skip_blanks(value, pos);
    }
    FilterRule rule;
    rule.enabled = letters[0] == 'Y';
    rule.header = letters[1];
    rule.match = letters[2];

    // The text: quoted up to a quote followed by a blank, or one word.
    std::string_view rest = value.substr(pos);
    std::size_t end;
    if (!rest.empty() && rest.front() == '"') {
        end = rest.find("\" ", 1);
        if (end == std::string_view::npos)
            end = rest.find("\"\t", 1);
        if (end == std::string_view::npos)
            return std::nullopt;
        rule.text = text::bounded(rest.substr(1, end - 1), max_filter_field);
        pos += end + 1;
    } else {
        end = rest.find_first_of(" \t");
        if (end == std::string_view::npos)
            return std::nullopt;
        rule.text = text::bounded(rest.substr(0, end), max_filter_field);
        pos += end;
    }

    // The folder: quoted up to the last quote, or the rest of the value.
    skip_blanks(value, pos);
    rest = value.substr(pos);
    if (!rest.empty() && rest.front() == '"') {
        std::size_t last = rest.rfind('"');
        std::string_view inner = last > 0 ? rest.substr(1, last - 1) : rest.substr(1);
        rule.folder = text::bounded(inner, max_filter_field);
    } else {
        rule.folder = text::bounded(text::trim_right(rest), max_filter_field);
    }
    return rule;
}

std::string format_filter(const FilterRule& rule)
{
    return text::format("%c %c %c \"%s\" \"%s\"", rule.enabled ? 'Y' : 'N', rule.header, rule.match,
                        text::bounded(rule.text, max_filter_field).c_str(),
                        text::bounded(rule.folder, max_filter_field).c_str());
}

bool matches(const FilterRule& rule, const HeaderLookup& header, std::string_view mailbox)
{
    if (!rule.enabled)
        return false;
    std::string_view value;
    if (rule.header == 'M') {
        value = mailbox;
    } else if (std::string_view name = header_name(rule.header); !name.empty()) {
        value = header(name);
    }
    const std::string_view wanted = rule.text;
    switch (rule.match) {
    case 'C':
        return text::ifind(value, wanted) != std::string_view::npos;
    case 'N':
        return text::ifind(value, wanted) == std::string_view::npos;
    case 'I':
        return text::iequals(value, wanted);
    case 'S':
        return text::istarts_with(value, wanted);
    case 'E':
        return text::iends_with(value, wanted);
    default:
        return false;
    }
}

void FilterSet::load(const std::string& user_ini)
{
    m_user_ini = user_ini;
    m_rules.clear();
    ini::Profile profile(user_ini);
    auto document = profile.snapshot();
    for (int i = 0; i < max_filter_keys; ++i) {
        auto value = document->get(section, text::format("Filter%d", i));
        if (!value || value->empty())
            continue;
        if (auto rule = parse_filter(text::cut(*value, max_filter_value)))
            m_rules.push_back(std::move(*rule));
    }
}

bool FilterSet::save() const
{
    if (m_user_ini.empty())
        return false;
    ini::Profile profile(m_user_ini);
    return profile.update([&](ini::Document& document) {
        document.remove_section(section);
        for (std::size_t i = 0; i < m_rules.size(); ++i)
            document.set(section, text::format("Filter%zu", i), format_filter(m_rules[i]));
        return true;
    });
}

bool FilterSet::add(std::string_view value)
{
    auto rule = parse_filter(value);
    if (!rule)
        return false;
    m_rules.push_back(std::move(*rule));
    return true;
}

std::string FilterSet::evaluate(const HeaderLookup& header, std::string_view mailbox,
                                std::string_view default_folder) const
{
    for (const FilterRule& rule : m_rules) {
        if (matches(rule, header, mailbox))
            return rule.folder;
    }
    return std::string(default_folder);
}

bool FilterSet::rename_folder(std::string_view old_name, std::string_view new_name)
{
    bool changed = false;
    for (FilterRule& rule : m_rules) {
        if (text::iequals(rule.folder, old_name)) {
            rule.folder = text::bounded(new_name, max_filter_field);
            changed = true;
        }
    }
    return changed;
}

bool FilterSet::remove_folder(std::string_view name)
{
    std::string wanted(name);
    auto first = std::remove_if(m_rules.begin(), m_rules.end(),
                                [&](const FilterRule& rule) { return text::iequals(rule.folder, wanted); });
    bool changed = first != m_rules.end();
    m_rules.erase(first, m_rules.end());
    return changed;
}

}  // namespace corvane::filters
