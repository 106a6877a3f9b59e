#include "common/mime_types/mime_type_table.h"

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::mime_types {

namespace {

bool is_separator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The next word of line, advancing past it; empty at the end.
std::string_view next_word(std::string_view& line)
{
    std::size_t start = 0;
    while (start < line.size() && is_separator(line[start]))
        ++start;
    std::size_t end = start;
    while (end < line.size() && !is_separator(line[end]))
        ++end;
    std::string_view word = line.substr(start, end - start);
    line.remove_prefix(end);
    return word;
}

std::string_view without_dot(std::string_view extension)
{
    if (!extension.empty() && extension.front() == '.')
        extension.remove_prefix(1);
    return extension;
}

}  // namespace

bool MimeTypeTable::load(const std::string& path)
{
    auto data = platform::read_file(path, max_file_size);
    if (!data)
        return false;
    add_text(*data);
    return true;
}

void MimeTypeTable::add_text(std::string_view text)
{
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        add_line(line.substr(0, max_line));
    }
}

void MimeTypeTable::add_line(std::string_view line)
{
    std::string_view type = next_word(line);
    if (type.empty() || type.front() == '#')
        return;
    // A type with control characters would end up in a header line.
    if (text::has_controls(type))
        return;
    for (std::string_view word = next_word(line); !word.empty(); word = next_word(line)) {
        std::string_view extension = without_dot(word);
        if (extension.empty() || extension.size() > max_extension || text::has_controls(extension))
            continue;
        m_types.try_emplace(text::lower(extension), type);
        m_extensions.try_emplace(text::lower(type), extension);
    }
}

std::string_view MimeTypeTable::type_of(std::string_view extension) const
{
    auto it = m_types.find(text::lower(without_dot(extension)));
    return it == m_types.end() ? default_type : std::string_view(it->second);
}

std::string_view MimeTypeTable::extension_of(std::string_view type) const
{
    auto it = m_extensions.find(text::lower(text::trim(type)));
    return it == m_extensions.end() ? default_extension : std::string_view(it->second);
}

}  // namespace corvane::mime_types
