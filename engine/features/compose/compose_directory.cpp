#include "engine/features/compose/compose_directory.h"

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::compose {
namespace {

std::string one_line(std::string_view text, std::size_t max_bytes)
{
    std::string out(text::cut(text, max_bytes));
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return out;
}

}  // namespace

std::string ComposeDirectory::file(std::string_view name) const
{
    return platform::join_path(m_path, name);
}

Result<void> ComposeDirectory::ensure() const
{
    return platform::make_directories(m_path, 0700);
}

bool ComposeDirectory::has_body() const
{
    return platform::is_regular_file(body_path());
}

void ComposeDirectory::append_header_line(std::string& data, std::string_view name, std::string_view value)
{
    data.append(name);
    data += ": ";
    data += one_line(value, max_header_value);
    data += "\r\n";
}

Result<void> ComposeDirectory::write_headers(const std::string& data) const
{
    return platform::write_file_atomic(headers_path(), data, 0600, platform::Durability::none);
}

HeaderValues ComposeDirectory::read_headers() const
{
    HeaderValues values;
    auto reader = mime::LineReader::open(headers_path());
    if (!reader)
        return values;
    std::string line;
    while (values.size() < 64 && reader->next(line, max_header_value + 64)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : std::string();
        values.emplace_back(line.substr(0, colon), std::move(value));
    }
    return values;
}

Result<void> ComposeDirectory::write_body(std::string_view text) const
{
    if (auto made = ensure(); !made)
        return made;
    return platform::write_file_atomic(body_path(), text, 0600, platform::Durability::none);
}

bool ComposeDirectory::is_attachment_name(std::string_view name)
{
    return platform::is_plain_name(name) && name.front() != '.' && !text::has_controls(name);
}

std::string ComposeDirectory::attachment_name(std::string_view raw)
{
    std::string_view name = raw;
    for (char sep : {'\\', ':', '/'}) {
        const std::size_t p = name.rfind(sep);
        if (p != std::string_view::npos)
            name.remove_prefix(p + 1);
    }
    std::string out = one_line(name, max_attachment_name);
    std::size_t lead = 0;
    while (lead < out.size() && (out[lead] == '.' || out[lead] == ' '))
        ++lead;
    out.erase(0, lead);
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return is_attachment_name(out) ? out : std::string();
}

std::vector<std::string> ComposeDirectory::attachments() const
{
    std::vector<std::string> names;
    auto entries = platform::list_directory(m_path);
    if (!entries)
        return names;
    for (const auto& e : *entries) {
        if (e.is_directory || !is_attachment_name(e.name))
            continue;
        if (platform::is_regular_file(file(e.name)))
            names.push_back(e.name);
    }
    return names;
}

std::string ComposeDirectory::content_type(std::string_view attachment) const
{
    if (!is_attachment_name(attachment))
        return {};
    auto reader = mime::LineReader::open(file("." + std::string(attachment)));
    std::string line;
    if (!reader || !reader->next(line, 1024))
        return {};
    return one_line(text::trim(line), max_content_type);
}

Result<void> ComposeDirectory::set_content_type(std::string_view attachment, std::string_view type) const
{
    if (!is_attachment_name(attachment))
        return Error{EINVAL, "not an attachment name"};
    return platform::write_file_atomic(file("." + std::string(attachment)), one_line(type, max_content_type) + "\n",
                                       0600, platform::Durability::none);
}

bool ComposeDirectory::remove_attachment(std::string_view name) const
{
    if (!is_attachment_name(name) || !platform::is_regular_file(file(name)))
        return false;
    (void)platform::remove_file(file("." + std::string(name)));
    return platform::remove_file(file(name)).ok();
}

Result<void> ComposeDirectory::clear() const
{
    if (!platform::is_directory(m_path))
        return {};
    return platform::delete_tree(m_path);
}

}  // namespace corvane::compose
