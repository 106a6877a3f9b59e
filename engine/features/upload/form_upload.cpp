#include "engine/features/upload/form_upload.h"

#include <string.h>

#include <algorithm>

#include "common/text/strings.h"

namespace corvane::upload {
namespace {

constexpr std::size_t kFileChunk = 64 * 1024;
// A form of the compose pages has a few dozen parts; a body of more is not
// one of ours, and its fields would only cost memory.
constexpr std::size_t kMaxParts = 10000;

// A parameter value: between its first and its last double quote, or as it
// stands. Backslashes are data: browsers send Windows paths in file names
// unescaped, and escape quotes as %22.
std::string unquote(std::string_view v)
{
    v = text::trim(v);
    const std::size_t open = v.find('"');
    if (open == std::string_view::npos)
        return std::string(v);
    v.remove_prefix(open + 1);
    const std::size_t close = v.rfind('"');
    return std::string(close == std::string_view::npos ? v : v.substr(0, close));
}

// The last component of a path as browsers of every system send it.
std::string_view last_component(std::string_view name)
{
    for (char sep : {'\\', ':', '/'}) {
        const std::size_t p = name.rfind(sep);
        if (p != std::string_view::npos)
            name.remove_prefix(p + 1);
    }
    return name;
}

}  // namespace

std::optional<std::string> form_boundary(std::string_view content_type)
{
    if (!text::istarts_with(text::trim_left(content_type), "multipart/form-data"))
        return std::nullopt;
    const std::size_t at = text::ifind(content_type, "boundary=");
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view b = content_type.substr(at + 9);
    if (!b.empty() && b.front() == '"') {
        b.remove_prefix(1);
        b = b.substr(0, b.find('"'));
    } else {
        b = text::trim(b.substr(0, b.find(';')));
    }
    if (b.empty() || b.size() > max_boundary)
        return std::nullopt;
    for (unsigned char c : b) {
        if (c < 0x20 || c == 0x7F)
            return std::nullopt;
    }
    return std::string(b);
}

FormUploadParser::FormUploadParser(const std::string& boundary, UploadSink& sink)
    : m_boundary_line("--" + boundary), m_delimiter("\r\n--" + boundary), m_sink(sink)
{
}

void FormUploadParser::feed(std::string_view data)
{
    while (!data.empty()) {
        switch (m_state) {
        case State::skip:
        case State::part_headers:
        case State::field_value:
            feed_lines(data);
            break;
        case State::body_text:
            feed_body(data);
            break;
        case State::file_data:
            feed_file(data);
            break;
        case State::done:
            return;
        }
    }
}

void FormUploadParser::feed_lines(std::string_view& data)
{
    const std::size_t nl = data.find('\n');
    const std::string_view part = data.substr(0, nl);
    if (m_line.size() < m_line_limit)
        m_line.append(part.substr(0, m_line_limit - m_line.size()));
    if (nl == std::string_view::npos) {
        data = {};
        return;
    }
    data.remove_prefix(nl + 1);
    if (!m_line.empty() && m_line.back() == '\r')
        m_line.pop_back();
    std::string text = std::move(m_line);
    m_line.clear();
    line(text);
}

void FormUploadParser::line(std::string_view text)
{
    const bool at_boundary = text.substr(0, m_boundary_line.size()) == m_boundary_line;
    switch (m_state) {
    case State::skip:
        if (at_boundary)
            boundary_line(text);
        break;
    case State::part_headers:
        if (text.empty())
            end_headers();
        else
            header_line(text);
        break;
    case State::field_value:
        if (at_boundary) {
            boundary_line(text);
        } else if (!text.empty()) {
            std::string_view name = m_name;
            if (text::iends_with(name, ".x") || text::iends_with(name, ".y"))
                name.remove_suffix(2);
            m_sink.field(name, text);
        }
        break;
    default:
        break;
    }
}

void FormUploadParser::boundary_line(std::string_view text)
{
    m_line_limit = max_header_line;
    if (text.substr(m_boundary_line.size(), 2) == "--" || ++m_parts > kMaxParts) {
        m_state = State::done;
        return;
    }
    m_state = State::part_headers;
    m_name.clear();
    m_file_name.clear();
    m_content_type.clear();
}

void FormUploadParser::header_line(std::string_view text)
{
    if (text::istarts_with(text, "Content-Type:")) {
        std::string_view type = text.substr(13);
        m_content_type = text::bounded(text::trim(type.substr(0, type.find(';'))), max_content_type);
        return;
    }
    if (!text::istarts_with(text, "Content-Disposition:"))
        return;
    std::string_view rest = text.substr(20);
    // Parameters split at ";" outside quotes.
    while (!rest.empty()) {
        std::size_t end = 0;
        bool quoted = false;
        for (; end < rest.size(); ++end) {
            if (rest[end] == '"')
                quoted = !quoted;
            else if (rest[end] == ';' && !quoted)
                break;
        }
        const std::string_view parameter = rest.substr(0, std::min(end, rest.size()));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        const std::size_t eq = parameter.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = text::trim(parameter.substr(0, eq));
        if (text::iequals(key, "name"))
            m_name = text::bounded(unquote(parameter.substr(eq + 1)), max_field_name);
        else if (text::iequals(key, "filename"))
            m_file_name = text::bounded(last_component(unquote(parameter.substr(eq + 1))), max_file_name);
    }
}

void FormUploadParser::end_headers()
{
    if (text::iequals(m_name, "Body")) {
        m_sink.body_begin();
        m_state = State::body_text;
        m_body_started = false;
        m_body_line_start = true;
        m_cr_held = false;
    } else if (text::iequals(m_name, "Attachment")) {
        if (m_file_name.empty()) {
            m_state = State::skip;
        } else {
            m_sink.file_begin(m_file_name, m_content_type);
            m_state = State::file_data;
            m_carry.clear();
        }
    } else {
        m_state = State::field_value;
        m_line_limit = max_field_value;
    }
}

// A piece of a body line; a CR at its end waits for the next byte.
void FormUploadParser::end_body_line(std::string_view text, bool line_end)
{
    if (m_cr_held && (!text.empty() || !line_end))
        m_sink.body_data("\r");
    m_cr_held = false;
    if (!text.empty() && text.back() == '\r') {
        // Before LF it is the form's line end; else it waits to see.
        text.remove_suffix(1);
        m_cr_held = !line_end;
    }
    if (!text.empty())
        m_sink.body_data(text);
}

void FormUploadParser::feed_body(std::string_view& data)
{
    while (!data.empty() && m_state == State::body_text) {
        if (!m_body_line_start) {
            const std::size_t nl = data.find('\n');
            end_body_line(data.substr(0, nl), nl != std::string_view::npos);
            if (nl == std::string_view::npos) {
                data = {};
                return;
            }
            data.remove_prefix(nl + 1);
            m_body_line_start = true;
            continue;
        }
        // The start of a line is held until it shows whether it is the
        // boundary line.
        const std::size_t need = m_boundary_line.size() + 2;
        const std::size_t nl = data.find('\n');
        const std::size_t take = std::min(
            {need - std::min(need, m_line.size()), data.size(), nl == std::string_view::npos ? data.size() : nl});
        m_line.append(data.substr(0, take));
        data.remove_prefix(take);
        const bool line_end = !data.empty() && data.front() == '\n';
        if (!line_end && m_line.size() < need && data.empty())
            return;
        if (line_end)
            data.remove_prefix(1);
        if (m_line.substr(0, m_boundary_line.size()) == m_boundary_line) {
            m_sink.body_end(true);
            m_state = State::skip;
            if (line_end) {
                if (!m_line.empty() && m_line.back() == '\r')
                    m_line.pop_back();
                std::string text = std::move(m_line);
                m_line.clear();
                line(text);
            }
            // Otherwise the boundary line goes on in line mode.
            return;
        }
        if (m_body_started)
            m_sink.body_data("\n");
        m_body_started = true;
        std::string text = std::move(m_line);
        m_line.clear();
        end_body_line(text, line_end);
        m_body_line_start = line_end;
    }
}

void FormUploadParser::feed_file(std::string_view& data)
{
    const std::size_t take = std::min(data.size(), kFileChunk);
    m_carry.append(data.substr(0, take));
    data.remove_prefix(take);
    const void* hit = memmem(m_carry.data(), m_carry.size(), m_delimiter.data(), m_delimiter.size());
    if (hit) {
        const auto pos = static_cast<std::size_t>(static_cast<const char*>(hit) - m_carry.data());
        if (pos > 0)
            m_sink.file_data(std::string_view(m_carry).substr(0, pos));
        m_sink.file_end(true);
        // The CR LF belongs to the delimiter; the boundary line is read again
        // as a line.
        std::string rest = m_carry.substr(pos + 2);
        m_carry.clear();
        m_state = State::skip;
        feed(rest);
        return;
    }
    const std::size_t keep = m_delimiter.size() - 1;
    if (m_carry.size() > keep) {
        m_sink.file_data(std::string_view(m_carry).substr(0, m_carry.size() - keep));
        m_carry.erase(0, m_carry.size() - keep);
    }
}

void FormUploadParser::finish()
{
    switch (m_state) {
    case State::file_data:
        if (!m_carry.empty())
            m_sink.file_data(m_carry);
        m_carry.clear();
        m_sink.file_end(false);
        break;
    case State::body_text:
        if (m_body_line_start && !m_line.empty()) {
            if (m_body_started)
                m_sink.body_data("\n");
            end_body_line(m_line, true);
        } else if (m_cr_held) {
            m_sink.body_data("\r");
        }
        m_line.clear();
        m_sink.body_end(false);
        break;
    case State::field_value:
    case State::part_headers:
    case State::skip:
        if (!m_line.empty()) {
            std::string text = std::move(m_line);
            m_line.clear();
            line(text);
        }
        break;
    case State::done:
        break;
    }
    m_state = State::done;
}

}  // namespace corvane::upload
