#include "engine/store/message_index/index_file.h"

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/folder_list.h"

namespace corvane::store {

namespace {

constexpr char separator = '\x01';

std::uint32_t unsigned_of(std::string_view field)
{
    std::int64_t n = text::leading_number(field);
    if (n < 0)
        return 0;
    if (n > 0xffffffffLL)
        return 0xffffffffu;
    return static_cast<std::uint32_t>(n);
}

bool usable_file_name(std::string_view name)
{
    return platform::is_plain_name(name) && name.front() != '.' && !text::has_controls(name);
}

bool usable_folder(std::string_view folder)
{
    return folder.empty() || is_safe_folder_name(folder);
}

// A value as the index keeps it: cut to max_bytes, control characters made
// blanks. scratch holds the cleaned copy when one is needed.
std::string_view kept_value(std::string_view value, std::size_t max_bytes, std::string& scratch)
{
    std::string_view cut = text::cut(value, max_bytes);
    if (!text::has_controls(cut))
        return cut;
    scratch = text::without_controls(cut);
    return scratch;
}

void append_field(std::string& out, std::string_view value, std::size_t max_bytes)
{
    std::string scratch;
    out += kept_value(value, max_bytes, scratch);
    out += separator;
}

}  // namespace

std::string index_value(std::string_view value, std::size_t max_bytes)
{
    std::string scratch;
    return std::string(kept_value(value, max_bytes, scratch));
}

void normalize_entry_fields(MessageEntry& entry)
{
    entry.server_id = index_value(entry.server_id, max_index_server_id);
    entry.mailbox = index_value(entry.mailbox, max_index_mailbox);
    entry.to = index_value(entry.to, max_index_address);
    entry.from = index_value(entry.from, max_index_from);
    entry.subject = index_value(entry.subject, max_index_subject);
}

void append_record(std::string& out, const MessageEntry& entry)
{
    append_field(out, entry.server_id, max_index_server_id);
    append_field(out, entry.mailbox, max_index_mailbox);
    append_field(out, entry.to, max_index_address);
    append_field(out, entry.from, max_index_from);
    append_field(out, entry.subject, max_index_subject);
    // Numbers are 1..999999, so "%u" writes what "%d" always wrote; it
    // also writes back whatever a damaged file held without turning it
    // negative.
    text::append_format(out, "%u%c%u%c%u%c", entry.date, separator, entry.size, separator, entry.number, separator);
    append_field(out, entry.file_name, max_index_folder);
    append_field(out, entry.folder, max_index_folder);
    text::append_format(out, "%u%c\r\n", entry.flags, separator);
}

std::string format_index(std::uint32_t counter, const std::vector<std::unique_ptr<MessageEntry>>& entries)
{
    std::string out;
    out.reserve(16 + entries.size() * 160);
    text::append_format(out, "%u\n", counter);
    for (const auto& entry : entries)
        append_record(out, *entry);
    return out;
}

std::uint32_t counter_from(std::string_view text)
{
    std::int64_t n = text::leading_number(text);
    if (n < 1 || n > max_message_number)
        return 1;
    return static_cast<std::uint32_t>(n);
}

IndexText IndexParser::stored(std::string_view value, std::size_t max_bytes)
{
    std::string scratch;
    return IndexText::in_arena(m_arena, kept_value(value, max_bytes, scratch));
}

IndexText IndexParser::repeated(std::vector<IndexText>& seen, std::string_view value, std::size_t max_bytes)
{
    // A user has a few folders, mailboxes and own addresses; a file that
    // names a new one on every line has only the latest few looked at.
    constexpr std::size_t kept = 16;
    std::string_view cut = text::cut(value, max_bytes);
    if (cut.empty())
        return {};
    for (const IndexText& name : seen) {
        if (name.view() == cut)
            return name.share();
    }
    IndexText made = stored(cut, max_bytes);
    if (seen.size() == kept)
        seen.erase(seen.begin());
    seen.push_back(made.share());
    return made;
}

void IndexParser::line(std::string_view text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    if (!m_have_counter) {
        m_have_counter = true;
        m_counter = counter_from(text);
        return;
    }
    if (text.size() > max_index_line)
        return;

    // Fields between separators; a seventeenth separator's field is kept
    // but never used.
    std::string_view fields[18];
    std::size_t separators = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t sep = text.find(separator, start);
        if (sep == std::string_view::npos)
            break;
        if (separators < 18)
            fields[separators] = text.substr(start, sep - start);
        ++separators;
        start = sep + 1;
    }

    auto entry = std::make_unique<MessageEntry>();
    bool earlier = false;
    std::string_view file_name;
    std::string_view folder;
    if (separators == 11) {
        entry->date = unsigned_of(fields[5]);
        entry->size = unsigned_of(fields[6]);
        entry->number = unsigned_of(fields[7]);
        file_name = fields[8];
        folder = fields[9];
        entry->flags = unsigned_of(fields[10]);
    } else if (separators == 16 || separators == 17) {
        earlier = true;
        entry->date = unsigned_of(fields[7]);
        entry->size = unsigned_of(fields[8]);
        if (fields[9] == "Y")
            entry->flags |= flags::multipart;
        entry->number = unsigned_of(fields[10]);
        file_name = fields[11];
        folder = fields[12];
        if (fields[13] == "Y")
            entry->flags |= flags::downloaded;
        if (fields[14] == "Y")
            entry->flags |= flags::read;
        if (fields[15] == "Y")
            entry->flags |= flags::draft;
    } else {
        return;
    }
    // The file name and the folder become a path: a record that would lead
    // outside its folder (or the user directory) is not ours.
    if (!usable_file_name(file_name) || !usable_folder(folder))
        return;
    entry->file_name = IndexText::in_arena(m_arena, file_name);
    // A folder name is never cut: a shorter one would be another folder.
    entry->folder = repeated(m_folders, folder, max_index_line);
    // Header values are kept as a save would write them (limits, no control
    // characters).
    entry->server_id = stored(fields[0], max_index_server_id);
    entry->mailbox = repeated(m_mailboxes, fields[1], max_index_mailbox);
    entry->to = repeated(m_recipients, fields[2], max_index_address);
    entry->from = stored(fields[3], max_index_from);
    entry->subject = stored(fields[4], max_index_subject);
    if (earlier)
        m_earlier.push_back(entry.get());
    m_entries.push_back(std::move(entry));
}

}  // namespace corvane::store
