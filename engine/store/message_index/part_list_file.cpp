#include "engine/store/message_index/part_list_file.h"

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::store {

namespace {

constexpr char separator = '\x01';
// Our records are a few hundred bytes; a longer file is not a part list.
constexpr std::size_t max_file_size = 64u << 20;

// A stored string field: no separator, CR or LF may reach the file.
void append_field(std::string& out, std::string_view value)
{
    out += text::without_controls(text::cut(value, part_field_max));
    out += separator;
}

std::int64_t number_of(std::string_view field)
{
    return text::leading_number(field);
}

}  // namespace

std::string format_part_list(const PartList& parts)
{
    std::string out;
    for (const PartRecord& part : parts) {
        text::append_format(out, "%d%c%d%c", part.part_number, separator, part.sub_part, separator);
        append_field(out, part.file_name);
        append_field(out, part.content_type);
        append_field(out, part.transfer_encoding);
        append_field(out, part.content_id);
        text::append_format(out, "%lld%c%lld%c%lld%c\r\n", static_cast<long long>(part.decoded_size), separator,
                            static_cast<long long>(part.body_offset), separator,
                            static_cast<long long>(part.line_count), separator);
    }
    return out;
}

PartList parse_part_list(std::string_view text)
{
    PartList parts;
    std::size_t pos = 0;
    while (pos < text.size() && parts.size() < max_parts) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);

        // Split into at most nine fields; the ninth runs to the next
        // separator or the end of the line.
        std::string_view fields[9];
        std::size_t count = 0;
        std::size_t separators = 0;
        std::size_t start = 0;
        while (count < 9) {
            std::size_t sep = line.find(separator, start);
            if (sep == std::string_view::npos) {
                fields[count++] = line.substr(start);
                break;
            }
            fields[count++] = line.substr(start, sep - start);
            ++separators;
            start = sep + 1;
        }
        if (separators < 8)
            continue;

        PartRecord part;
        part.part_number = static_cast<std::int32_t>(number_of(fields[0]));
        part.sub_part = static_cast<std::int32_t>(number_of(fields[1]));
        part.file_name = text::bounded(fields[2], part_field_max);
        part.content_type = text::bounded(fields[3], part_field_max);
        part.transfer_encoding = text::bounded(fields[4], part_field_max);
        part.content_id = text::bounded(fields[5], part_field_max);
        part.decoded_size = number_of(fields[6]);
        part.body_offset = number_of(fields[7]);
        part.line_count = number_of(fields[8]);
        if (part.decoded_size < 0)
            part.decoded_size = 0;
        if (part.body_offset < 0)
            part.body_offset = 0;
        if (part.line_count < 0)
            part.line_count = 0;
        parts.push_back(std::move(part));
    }
    return parts;
}

std::optional<PartList> read_part_list(const std::string& path)
{
    auto data = platform::read_file(path, max_file_size);
    if (!data)
        return std::nullopt;
    return parse_part_list(*data);
}

bool write_part_list(const std::string& path, const PartList& parts)
{
    // Whole or not at all, and made in one go: no temporary name to clean
    // up after a crash.
    auto file = platform::UnpublishedFile::create(platform::directory_of(path), platform::file_name_of(path), 0600);
    if (!file || !platform::write_all(file->fd(), format_part_list(parts)))
        return false;
    return file->publish(path, platform::Replace::yes).ok();
}

}  // namespace corvane::store
