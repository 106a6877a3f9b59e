#include "engine/store/mime/header_list.h"

#include "common/text/strings.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::mime {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

const std::string kEmpty;

}  // namespace

void HeaderList::add_line(std::string_view line)
{
    if (line.empty())
        return;
    if (m_bytes + line.size() > kMaxHeaderBytes)
        return;

    if (is_blank(line.front())) {
        if (m_last_added == kNone)
            return;
        std::size_t i = 0;
        while (i < line.size() && is_blank(line[i]))
            ++i;
        m_bytes += line.size();
        std::string& value = m_fields[m_last_added].value;
        // "Subject:" folded straight after the colon gets no leading blank,
        // which would sort it before every other subject.
        if (!value.empty())
            m_decoder.append(" ", value);
        m_decoder.append(line.substr(i), value);
        return;
    }

    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || m_fields.size() >= kMaxHeaderPairs)
        return;
    // "Subject :" is the obsolete form of "Subject:" (RFC 5322 section 4.5.3).
    std::string_view name = text::trim_right(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    if (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);

    m_bytes += line.size();
    HeaderField& field = m_fields.emplace_back();
    field.name = text::bounded(name, kMaxHeaderName);
    m_decoder.reset();
    m_decoder.append(value, field.value);
    m_last_added = m_current = m_fields.size() - 1;
}

const HeaderField* HeaderList::find(std::string_view name) const
{
    if (m_current < m_fields.size() && text::iequals(m_fields[m_current].name, name))
        return &m_fields[m_current];
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (text::iequals(m_fields[i].name, name)) {
            m_current = i;
            return &m_fields[i];
        }
    }
    return nullptr;
}

const std::string& HeaderList::value(std::string_view name) const
{
    const HeaderField* field = find(name);
    return field ? field->value : kEmpty;
}

bool HeaderList::is_absent_or_empty(std::string_view name) const
{
    return value(name).empty();
}

bool HeaderList::is_absent_or_blank(std::string_view name) const
{
    for (char c : value(name)) {
        if (!text::is_space(c))
            return false;
    }
    return true;
}

void HeaderList::set(std::string_view name, std::string_view value)
{
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (text::iequals(m_fields[i].name, name)) {
            m_fields[i].value.assign(value);
            blank_record_breakers(m_fields[i].value);
            if (i == m_last_added)
                m_decoder.reset();
            m_current = i;
            return;
        }
    }
    HeaderField& field = m_fields.emplace_back();
    field.name = text::bounded(name, kMaxHeaderName);
    field.value.assign(value);
    blank_record_breakers(field.value);
    m_current = m_fields.size() - 1;
}

bool HeaderList::remove(std::string_view name)
{
    m_current = kNone;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (text::iequals(m_fields[i].name, name)) {
            m_fields.erase(m_fields.begin() + static_cast<std::ptrdiff_t>(i));
            if (m_last_added == i) {
                m_last_added = kNone;
                m_decoder.reset();
            } else if (m_last_added != kNone && m_last_added > i) {
                --m_last_added;
            }
            return true;
        }
    }
    return false;
}

void HeaderList::clear()
{
    m_fields.clear();
    m_current = kNone;
    m_last_added = kNone;
    m_decoder.reset();
    m_bytes = 0;
}

HeaderList read_header(const std::string& path)
{
    HeaderList list;
    auto reader = LineReader::open(path);
    if (!reader)
        return list;
    std::string line;
    // A file without an empty line is all header; past what a list keeps,
    // reading on would only cost time.
    while (reader->offset() <= kMaxHeaderBytes && reader->next(line, kMaxHeaderFileLine) && !line.empty())
        list.add_line(line);
    return list;
}

}  // namespace corvane::mime
