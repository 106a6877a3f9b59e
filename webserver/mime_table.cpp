#include "webserver/mime_table.h"

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::webserver {

namespace {

// A table is a few kilobytes; anything much larger is not one.
constexpr std::size_t max_file = 4u << 20;

bool is_separator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool MimeTable::load(const std::string& path)
{
    clear();
    auto text = platform::read_file(path, max_file);
    if (!text)
        return false;
    add_lines(*text);
    return true;
}

void MimeTable::clear()
{
    m_entries.clear();
    m_last = 0;
}

void MimeTable::add_lines(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        std::string_view type;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && is_separator(line[i]))
                ++i;
            std::size_t start = i;
            while (i < line.size() && !is_separator(line[i]))
                ++i;
            if (i == start)
                break;
            std::string_view word = line.substr(start, i - start);
            // The type goes into a header line: nothing that could bend it.
            if (text::has_controls(word))
                break;
            if (type.empty()) {
                type = word;
            } else if (word.size() <= max_extension) {
                m_entries.push_back(Entry{std::string(word), std::string(type)});
                m_last = m_entries.size() - 1;
            }
        }
    }
}

std::string_view MimeTable::lookup(std::string_view extension) const
{
    if (m_last < m_entries.size() && text::iequals(m_entries[m_last].extension, extension))
        return m_entries[m_last].type;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (text::iequals(m_entries[i].extension, extension)) {
            m_last = i;
            return m_entries[i].type;
        }
    }
    return default_content_type;
}

}  // namespace corvane::webserver
