#include "engine/core/cgi/field_table.h"

#include <cstring>

#include "common/text/strings.h"
#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/streams.h"

namespace corvane::cgi {

namespace {

const std::string empty_value;

std::string_view field_name(std::string_view name)
{
    return text::cut(name, FieldTable::max_name);
}

// Text handed on from a decoded field ends at its first NUL byte.
void end_at_nul(std::string& s)
{
    std::size_t nul = s.find('\0');
    if (nul != std::string::npos)
        s.resize(nul);
}

// True when name ends in ".x" or ".y" (any case): the coordinates an image
// button sends with its name.
bool has_coordinate_suffix(std::string_view name)
{
    if (name.size() < 2 || name[name.size() - 2] != '.')
        return false;
    char c = text::to_lower(name.back());
    return c == 'x' || c == 'y';
}

}  // namespace

// ---- Environment -------------------------------------------------------------

Environment Environment::from_block(const char* block)
{
    std::vector<std::string> variables;
    if (block) {
        for (const char* p = block; *p; p += std::strlen(p) + 1)
            variables.emplace_back(p);
    }
    return Environment(std::move(variables));
}

std::string_view Environment::variable(std::string_view name) const
{
    auto matches = [&](const std::string& entry) {
        return entry.size() > name.size() && entry[name.size()] == '=' &&
               text::iequals(std::string_view(entry).substr(0, name.size()), name);
    };
    if (name.empty())
        return {};
    if (m_last < m_variables.size() && matches(m_variables[m_last]))
        return std::string_view(m_variables[m_last]).substr(name.size() + 1);
    for (std::size_t i = 0; i < m_variables.size(); ++i) {
        if (matches(m_variables[i])) {
            m_last = i;
            return std::string_view(m_variables[i]).substr(name.size() + 1);
        }
    }
    return {};
}

std::int64_t content_length(const Environment& environment)
{
    std::int64_t length = text::leading_number(environment.variable("CONTENT_LENGTH"));
    return length > 0 ? length : 0;
}

// ---- FieldTable --------------------------------------------------------------

std::size_t FieldTable::IHash::operator()(std::string_view s) const
{
    // FNV-1a over the lower-cased bytes.
    std::size_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(text::to_lower(c));
        h *= 1099511628211ull;
    }
    return h;
}

bool FieldTable::IEqual::operator()(std::string_view a, std::string_view b) const
{
    return text::iequals(a, b);
}

void FieldTable::register_multi_value(std::string_view name)
{
    if (!is_multi_value(name))
        m_multi_value.emplace_back(field_name(name));
}

bool FieldTable::is_multi_value(std::string_view name) const
{
    name = field_name(name);
    for (const auto& multi : m_multi_value) {
        if (text::iequals(multi, name))
            return true;
    }
    return false;
}

void FieldTable::parse_query_string()
{
    parse_form(variable("QUERY_STRING"));
}

BodyResult FieldTable::parse_body(InputStream& in, std::size_t limit)
{
    std::int64_t length = content_length(m_environment);
    if (length <= 0)
        return BodyResult::parsed;
    if (!text::iequals(variable("CONTENT_TYPE"), form_type))
        return BodyResult::not_form;
    if (static_cast<std::uint64_t>(length) > limit)
        return BodyResult::too_large;
    std::string body = in.read_up_to(static_cast<std::size_t>(length));
    // The form is text: a NUL byte ends it.
    end_at_nul(body);
    parse_form(body);
    return BodyResult::parsed;
}

void FieldTable::parse_form(std::string_view form)
{
    std::size_t pos = 0;
    std::string name;
    std::string value;
    while (pos <= form.size()) {
        std::size_t end = form.find('&', pos);
        if (end == std::string_view::npos)
            end = form.size();
        std::string_view piece = form.substr(pos, end - pos);
        pos = end + 1;
        std::size_t equals = piece.find('=');
        if (piece.empty() || equals == std::string_view::npos)
            continue;
        std::string_view raw_name = piece.substr(0, equals);
        if (has_coordinate_suffix(raw_name))
            raw_name.remove_suffix(2);
        name.assign(raw_name);
        value.assign(piece.substr(equals + 1));
        decode_form_text(name);
        decode_form_text(value);
        end_at_nul(name);
        end_at_nul(value);
        add_field(name, value);
    }
}

void FieldTable::add_field(std::string& name, std::string& value)
{
    if (is_multi_value(name))
        append(name, value);
    else
        set(name, value);
}

const FieldTable::Entry* FieldTable::find(std::string_view name) const
{
    auto it = m_first.find(field_name(name));
    return it == m_first.end() ? nullptr : &m_entries[it->second];
}

const std::string& FieldTable::value(std::string_view name) const
{
    const Entry* entry = find(name);
    return entry ? entry->value : empty_value;
}

bool FieldTable::missing_or_empty(std::string_view name) const
{
    const Entry* entry = find(name);
    return !entry || entry->value.empty();
}

bool FieldTable::missing_or_blank(std::string_view name) const
{
    const Entry* entry = find(name);
    return !entry || entry->value.find_first_not_of(" \r\n\t") == std::string::npos;
}

void FieldTable::append(std::string_view name, std::string_view value)
{
    name = field_name(name);
    m_entries.push_back(Entry{std::string(name), std::string(value)});
    m_first.try_emplace(std::string(name), m_entries.size() - 1);
}

void FieldTable::set(std::string_view name, std::string_view value)
{
    auto it = m_first.find(field_name(name));
    if (it != m_first.end())
        m_entries[it->second].value.assign(value);
    else
        append(name, value);
}

bool FieldTable::remove(std::string_view name)
{
    auto it = m_first.find(field_name(name));
    if (it == m_first.end())
        return false;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(it->second));
    rebuild_index();
    return true;
}

void FieldTable::rebuild_index()
{
    m_first.clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_first.try_emplace(m_entries[i].name, i);
}

}  // namespace corvane::cgi
