#include "engine/store/receiver/message_receiver.h"

#include <cerrno>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/filters/apply_filters.h"
#include "engine/store/message_index/header_flags.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/message_index/part_list_file.h"
#include "engine/store/mime/date_parser.h"
#include "engine/store/mime/line_decoders.h"
#include "engine/store/mime/line_reader.h"
#include "engine/store/mime/parameters.h"

namespace corvane::receiver {

namespace {

bool starts_with(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The two characters after a boundary say whether it closes its multipart.
bool closes(std::string_view line, std::string_view boundary)
{
    return starts_with(line.substr(boundary.size()), "--");
}

std::string_view header_piece(std::string_view line)
{
    return line.substr(0, std::min(line.size(), max_header_line));
}

// "begin 644 file name.zip" names "file name.zip".
std::string uuencode_file_name(std::string_view line)
{
    std::size_t pos = 0;
    for (int word = 0; word < 2; ++word) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
            ++pos;
    }
    return text::without_controls(text::cut(text::trim(line.substr(pos)), store::part_field_max));
}

// Index dates are unsigned 32-bit seconds; anything outside is no date.
std::uint32_t index_date(std::string_view text)
{
    std::int64_t t = mime::parse_date(text);
    return (t > 0 && t <= 0xffffffffLL) ? static_cast<std::uint32_t>(t) : 0;
}

}  // namespace

MessageReceiver::MessageReceiver(store::MessageIndex& index, FromMailbox from, ReceiverOptions options)
    : m_index(index),
      m_setup(Setup::mailbox),
      m_options(options),
      m_filters(from.filters),
      m_mailbox(std::move(from.mailbox)),
      m_server_id(std::move(from.server_id)),
      m_keep_ids(from.keep_ids)
{
}

MessageReceiver::MessageReceiver(store::MessageIndex& index, store::MessageEntry& entry, ReceiverOptions options)
    : m_index(index), m_setup(Setup::entry), m_options(options), m_folder(entry.folder), m_entry(&entry)
{
}

MessageReceiver::MessageReceiver(store::MessageIndex& index, std::string folder, ReceiverOptions options)
    : m_index(index), m_setup(Setup::folder), m_options(options), m_folder(std::move(folder))
{
}

MessageReceiver::~MessageReceiver()
{
    if (!m_finished)
        discard();
}

void MessageReceiver::begin(std::uint32_t expected_size, StoreMode mode)
{
    if (m_begun)
        return;
    m_begun = true;
    m_expected_size = expected_size;
    m_mode = mode;
    if (m_setup == Setup::entry) {
        m_number = m_entry->number;
        m_file_name = m_entry->file_name;
    } else {
        m_number = m_index.next_number();
        m_file_name = text::format("CV%06u", m_number);
    }
    if (mode == StoreMode::whole && !m_scanning) {
        // The folder is known only when the header has ended (the filters
        // choose it), and the message is whole only at finish(): until
        // then it is a file without a name on the user directory's file
        // system.
        if (auto file = store::OutputFile::create_unnamed(m_index.user_dir(), m_file_name))
            m_file = std::move(*file);
    }
}

std::size_t MessageReceiver::line(std::string_view text)
{
    consume(text, text.size() + 2);
    return text.size() + 2;
}

void MessageReceiver::write(std::string_view bytes)
{
    while (!bytes.empty()) {
        std::size_t nl = bytes.find('\n');
        std::string_view piece = bytes.substr(0, nl);
        if (nl == std::string_view::npos) {
            // Without its end, a line waits, up to a bound.
            while (m_pending.size() + piece.size() > max_pending_line) {
                std::size_t take = max_pending_line - m_pending.size();
                m_pending.append(piece.substr(0, take));
                piece.remove_prefix(take);
                line(m_pending);
                m_pending.clear();
            }
            m_pending.append(piece);
            return;
        }
        bytes.remove_prefix(nl + 1);
        if (m_pending.empty()) {
            if (!piece.empty() && piece.back() == '\r')
                piece.remove_suffix(1);
            line(piece);
        } else {
            m_pending.append(piece);
            if (m_pending.back() == '\r')
                m_pending.pop_back();
            line(m_pending);
            m_pending.clear();
        }
    }
}

void MessageReceiver::consume(std::string_view text, std::uint64_t raw_bytes)
{
    if (m_finished)
        return;
    if (!m_begun)
        begin(0, StoreMode::header_only);
    if (m_file.is_open()) {
        m_file.write(text);
        m_file.write("\r\n");
    }
    m_position += raw_bytes;

    switch (m_state) {
    case ParseState::header:
        if (text.empty())
            end_header();
        else
            m_header.add_line(header_piece(text));
        break;
    case ParseState::body:
        if (starts_with(text, "begin "))
            m_uu_begin = true;
        else if (m_uu_begin && starts_with(text, "end"))
            m_uu_end = true;
        break;
    case ParseState::preamble:
        if (m_outer && starts_with(text, *m_outer))
            outer_step(text);
        break;
    case ParseState::part_header:
        if (text.empty())
            end_part_header(false);
        else
            m_header.add_line(header_piece(text));
        break;
    case ParseState::part_body:
        if (m_outer && starts_with(text, *m_outer)) {
            close_part();
            outer_step(text);
        } else {
            count_line(text.size());
        }
        break;
    case ParseState::nested_preamble:
        if (m_inner && starts_with(text, *m_inner))
            inner_step(text);
        else if (m_outer && starts_with(text, *m_outer))
            outer_step(text);
        break;
    case ParseState::nested_part_header:
        if (text.empty())
            end_part_header(true);
        else
            m_header.add_line(header_piece(text));
        break;
    case ParseState::nested_part_body:
        // A nested multipart whose closing boundary is missing ends at the
        // next boundary of its parent instead of swallowing the parts
        // after it.
        if (m_inner && starts_with(text, *m_inner)) {
            close_part();
            inner_step(text);
        } else if (m_outer && starts_with(text, *m_outer)) {
            close_part();
            outer_step(text);
        } else {
            count_line(text.size());
        }
        break;
    }
}

void MessageReceiver::end_header()
{
    m_top_type = mime::content_type_of(m_header.value("Content-Type"), mime::kMaxTopContentType);
    if (m_top_type.empty())
        m_top_type = "text/plain";
    if (!m_entry)
        create_entry();
    m_state = ParseState::body;
    if (m_file.is_open())
        choose_final_path();
    if ((m_file.is_open() || m_scanning) && m_entry->has(store::flags::multipart))
        begin_parts();
    m_header.clear();
}

void MessageReceiver::create_entry()
{
    store::MessageEntry& entry = m_index.add_entry();
    entry.from = m_header.value("From");
    entry.to = m_header.value("To");
    entry.subject = m_header.value("Subject");

    if (m_options.use_received_date) {
        // The first Received header is the one our own server added.
        for (const mime::HeaderField& field : m_header.fields()) {
            if (text::iequals(field.name, "Received")) {
                std::size_t semicolon = field.value.rfind(';');
                if (semicolon != std::string::npos)
                    entry.date = index_date(std::string_view(field.value).substr(semicolon + 1));
                break;
            }
        }
    }
    if (entry.date == 0 && m_header.contains("Date"))
        entry.date = index_date(m_header.value("Date"));

    if (!text::istarts_with(m_top_type, "text"))
        entry.flags |= store::flags::multipart;
    entry.size = m_expected_size;

    if (m_setup == Setup::mailbox && m_filters.filters && m_filters.folders)
        entry.folder = filters::choose_folder(*m_filters.filters, m_header, m_mailbox, *m_filters.folders);
    else if (m_setup == Setup::mailbox && m_filters.folders && m_filters.folders->inbox())
        entry.folder = *m_filters.folders->inbox();
    else
        entry.folder = m_folder;

    entry.mailbox = m_mailbox;
    entry.number = m_number;
    entry.file_name = m_file_name;
    entry.flags |= store::flags::new_message;
    if (store::is_urgent(m_header))
        entry.flags |= store::flags::urgent;
    if (store::requests_confirmation(m_header))
        entry.flags |= store::flags::confirm_requested;
    if (!m_server_id.empty()) {
        entry.server_id = m_server_id;
        if (m_keep_ids)
            m_keep_ids->push_back(m_server_id);
    }
    store::normalize_entry_fields(entry);
    m_index.mark_dirty();
    m_entry = &entry;
}

void MessageReceiver::choose_final_path()
{
    // Spelled as the folder list spells it, the folder is almost always
    // spelled so on disk too; publish() looks further only when it is not.
    m_final_path = m_index.message_path_as_spelled(*m_entry);
    if (m_final_path.empty()) {
        // No file can be made in the folder: the message is parsed and
        // indexed all the same, but not stored.
        m_file.abandon();
    }
}

bool MessageReceiver::publish()
{
    const platform::Replace replace = m_setup == Setup::entry ? platform::Replace::yes : platform::Replace::no;
    auto published = m_file.publish(m_final_path, replace);
    if (!published && published.error().code == ENOENT) {
        std::string resolved = m_index.message_path(*m_entry);
        if (!resolved.empty() && resolved != m_final_path) {
            m_final_path = std::move(resolved);
            published = m_file.publish(m_final_path, replace);
        }
    }
    // A file of that name that the index does not know (put there by hand,
    // or by another program) is someone's message: never overwrite it, take
    // the next number instead.
    for (int tries = 0; !published && published.error().code == EEXIST && m_setup != Setup::entry && tries < 1000;
         ++tries) {
        m_number = m_index.next_number();
        m_file_name = text::format("CV%06u", m_number);
        m_entry->number = m_number;
        m_entry->file_name = m_file_name;
        m_final_path = m_index.message_path(*m_entry);
        if (m_final_path.empty())
            break;
        published = m_file.publish(m_final_path, replace);
    }
    if (!published) {
        m_file.abandon();
        return false;
    }
    return true;
}

void MessageReceiver::begin_parts()
{
    if (!text::istarts_with(m_top_type, "multipart")) {
        // The whole body is one part, described by the message header. It
        // has no boundary: no line of it (a "-----BEGIN PGP" line, say)
        // can end it early.
        m_outer.reset();
        m_state = ParseState::part_body;
        make_part(0, 0);
        return;
    }
    m_outer = mime::boundary_of(m_header.value("Content-Type"));
    if (m_outer) {
        m_state = ParseState::preamble;
    } else {
        m_entry->flags &= ~store::flags::multipart;
        m_index.mark_dirty();
    }
}

void MessageReceiver::make_part(std::int32_t part_number, std::int32_t sub_part)
{
    m_current = npos;
    if (m_parts.size() >= store::max_parts)
        return;
    store::PartRecord part;
    part.part_number = part_number;
    part.sub_part = sub_part;
    if (const mime::HeaderField* type = m_header.find("Content-Type")) {
        part.content_type = mime::content_type_of(type->value);
        part.file_name = mime::file_name_of(type->value, "name");
    }
    if (const mime::HeaderField* encoding = m_header.find("Content-Transfer-Encoding"))
        part.transfer_encoding = mime::transfer_encoding_of(encoding->value);
    if (const mime::HeaderField* disposition = m_header.find("Content-Disposition")) {
        std::string name = mime::file_name_of(disposition->value, "filename");
        if (!name.empty())
            part.file_name = std::move(name);
    }
    if (const mime::HeaderField* id = m_header.find("Content-ID"))
        part.content_id = mime::content_id_of(id->value);
    part.body_offset = static_cast<std::int64_t>(m_position);
    m_parts.push_back(std::move(part));
    m_current = m_parts.size() - 1;
}

void MessageReceiver::count_line(std::uint64_t length)
{
    if (m_current == npos)
        return;
    m_parts[m_current].decoded_size += static_cast<std::int64_t>(length) + 2;
    m_parts[m_current].line_count += 1;
}

void MessageReceiver::close_part()
{
    if (m_current == npos)
        return;
    store::PartRecord& part = m_parts[m_current];
    part.decoded_size = mime::estimate_decoded_size(part.decoded_size, part.transfer_encoding);
    m_current = npos;
}

void MessageReceiver::outer_step(std::string_view line)
{
    ++m_part_number;
    m_sub_part = 0;
    m_header.clear();
    m_state = closes(line, *m_outer) ? ParseState::body : ParseState::part_header;
}

void MessageReceiver::inner_step(std::string_view line)
{
    ++m_sub_part;
    m_header.clear();
    m_state = closes(line, *m_inner) ? ParseState::preamble : ParseState::nested_part_header;
}

void MessageReceiver::end_part_header(bool nested)
{
    if (nested) {
        make_part(m_part_number, m_sub_part);
        m_state = ParseState::nested_part_body;
    } else {
        const std::string& type = m_header.value("Content-Type");
        std::optional<std::string> inner;
        if (text::istarts_with(mime::content_type_of(type), "multipart"))
            inner = mime::boundary_of(type);
        if (inner) {
            m_inner = std::move(inner);
            m_state = ParseState::nested_preamble;
        } else {
            // A nested multipart without a usable boundary is one opaque part.
            make_part(m_part_number, 0);
            m_state = ParseState::part_body;
        }
    }
    m_header.clear();
}

void MessageReceiver::uuencode_scan(const std::string& path)
{
    m_parts.clear();
    m_current = npos;
    auto reader = mime::LineReader::open(path);
    if (!reader)
        return;
    std::string line;
    while (reader->next(line, max_scan_line)) {
        if (line.empty())
            break;
    }
    enum class Mode { outside, text, uuencoded } mode = Mode::outside;
    while (reader->next(line, max_scan_line)) {
        const std::uint64_t length = reader->line_length();
        if (mode == Mode::uuencoded) {
            if (starts_with(line, "end")) {
                mode = Mode::outside;
            } else if (m_current != npos) {
                m_parts[m_current].decoded_size += static_cast<std::int64_t>(length * 6 / 8);
                m_parts[m_current].line_count += 1;
            }
        } else if (starts_with(line, "begin ")) {
            mode = Mode::uuencoded;
            m_current = npos;
            if (m_parts.size() < store::max_parts) {
                store::PartRecord part;
                part.part_number = static_cast<std::int32_t>(m_parts.size());
                part.file_name = uuencode_file_name(line);
                part.transfer_encoding = "uuencode";
                part.body_offset = static_cast<std::int64_t>(reader->line_offset() + reader->line_bytes());
                m_parts.push_back(std::move(part));
                m_current = m_parts.size() - 1;
            }
        } else if (mode == Mode::text) {
            if (m_current != npos) {
                m_parts[m_current].decoded_size += static_cast<std::int64_t>(length) + 2;
                m_parts[m_current].line_count += 1;
            }
        } else if (m_parts.empty() || !line.empty()) {
            mode = Mode::text;
            m_current = npos;
            if (m_parts.size() < store::max_parts) {
                store::PartRecord part;
                part.part_number = static_cast<std::int32_t>(m_parts.size());
                part.content_type = "text/plain";
                part.transfer_encoding = "7bit";
                part.body_offset = static_cast<std::int64_t>(reader->line_offset());
                part.decoded_size = static_cast<std::int64_t>(length) + 2;
                part.line_count = 1;
                m_parts.push_back(std::move(part));
                m_current = m_parts.size() - 1;
            }
        }
    }
    m_current = npos;
}

void MessageReceiver::check_boundary_seen()
{
    // A multipart body in which its boundary never occurs has no parts: it
    // is shown as the text it is, like a multipart without a boundary.
    if (m_entry && m_entry->has(store::flags::multipart) && m_outer && m_part_number == 0 &&
        text::istarts_with(m_top_type, "multipart")) {
        m_entry->flags &= ~store::flags::multipart;
        m_index.mark_dirty();
        m_parts.clear();
    }
}

void MessageReceiver::complete_parts(bool write)
{
    if (!m_entry || !m_entry->has(store::flags::multipart) || m_parts.empty())
        return;
    if (text::iequals(m_top_type, "multipart/alternative")) {
        for (store::PartRecord& part : m_parts) {
            part.sub_part = part.part_number;
            part.part_number = 1;
        }
    }
    const bool report = text::iequals(m_top_type, "multipart/report");
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
        store::PartRecord& part = m_parts[i];
        if (part.content_type.empty())
            part.content_type = report ? "text/plain" : "application/octet-stream";
        if (part.file_name.empty()) {
            std::string_view extension =
                m_options.types ? m_options.types->extension_of(part.content_type) : mime_types::default_extension;
            part.file_name = text::bounded(
                text::format("ATT%05zu.%.*s", i + 1, static_cast<int>(extension.size()), extension.data()),
                store::part_field_max);
        } else if (text::iequals(part.content_type, "application/octet-stream") && m_options.types) {
            std::size_t dot = part.file_name.rfind('.');
            if (dot != std::string::npos && dot + 1 < part.file_name.size())
                part.content_type =
                    text::bounded(m_options.types->type_of(part.file_name.substr(dot + 1)), store::part_field_max);
        }
    }
    if (write && m_final_path.size() > 4) {
        // Beside the message file, spelled as it was stored.
        std::string path = m_final_path.substr(0, m_final_path.size() - 4) + ".att";
        (void)store::write_part_list(path, m_parts);
    }
}

store::MessageEntry* MessageReceiver::finish()
{
    if (m_finished)
        return m_entry;
    if (!m_begun)
        begin(0, StoreMode::header_only);
    if (!m_pending.empty()) {
        std::string last = std::move(m_pending);
        m_pending.clear();
        if (last.back() == '\r')
            last.pop_back();
        line(last);
    }
    // A message without the empty line after its header (or without any
    // body) is still a message: its header ends with it.
    if (m_state == ParseState::header)
        end_header();
    if (in_part_body())
        close_part();

    bool stored = false;
    if (m_file.is_open()) {
        // A message that could not be written whole is not kept.
        if (publish()) {
            stored = true;
            m_entry->flags |= store::flags::downloaded;
            if (m_setup != Setup::entry && m_expected_size == 0)
                m_entry->size = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_position, 0xffffffffu));
            if (!m_entry->has(store::flags::multipart) && m_uu_end) {
                m_entry->flags |= store::flags::multipart;
                uuencode_scan(m_final_path);
            }
        } else {
            m_entry->flags &= ~store::flags::downloaded;
            m_parts.clear();
        }
        m_index.mark_dirty();
    }
    check_boundary_seen();
    complete_parts(stored);
    m_finished = true;
    return m_entry;
}

void MessageReceiver::discard()
{
    if (m_file.is_open()) {
        m_file.abandon();
        if (m_entry) {
            m_entry->flags &= ~store::flags::downloaded;
            m_index.mark_dirty();
        }
    }
    m_finished = true;
}

void MessageReceiver::scan_lines(mime::LineReader& reader)
{
    m_scanning = true;
    begin(0, StoreMode::header_only);
    std::string line;
    while (reader.next(line, max_scan_line))
        consume(line, reader.line_bytes());
    // The file is detached: finishing touches it no more.
    m_scanning = false;
    if (m_state == ParseState::header)
        end_header();
}

std::optional<store::PartList> MessageReceiver::rescan(store::MessageIndex& index, store::MessageEntry& entry,
                                                       const ReceiverOptions& options)
{
    std::string path = index.message_path(entry);
    if (path.empty())
        return std::nullopt;
    auto reader = mime::LineReader::open(path);
    if (!reader)
        return std::nullopt;

    MessageReceiver receiver(index, entry, options);
    receiver.scan_lines(*reader);
    if (text::istarts_with(receiver.m_top_type, "text") && entry.has(store::flags::multipart)) {
        // A text message marked multipart got its parts from uuencoded
        // blocks when it arrived; find them again the same way.
        receiver.uuencode_scan(path);
    } else if (receiver.in_part_body()) {
        receiver.close_part();
    }
    receiver.check_boundary_seen();
    receiver.complete_parts(false);
    receiver.m_finished = true;
    return std::move(receiver.m_parts);
}

std::optional<MessageReceiver::Scan> MessageReceiver::scan_file(const std::string& path, const ReceiverOptions& options)
{
    auto reader = mime::LineReader::open(path);
    if (!reader)
        return std::nullopt;
    store::MessageIndex scratch;  // never opened, never saved
    MessageReceiver receiver(scratch, std::string(), options);
    receiver.scan_lines(*reader);
    store::MessageEntry& entry = *receiver.m_entry;
    if (receiver.in_part_body())
        receiver.close_part();
    if (!entry.has(store::flags::multipart) && receiver.m_uu_end) {
        entry.flags |= store::flags::multipart;
        receiver.uuencode_scan(path);
    }
    receiver.check_boundary_seen();
    receiver.complete_parts(false);
    receiver.m_finished = true;
    entry.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(receiver.m_position, 0xffffffffu));
    Scan scan{entry, std::move(receiver.m_parts), receiver.m_top_type};
    return scan;
}

const store::PartList& part_list(store::MessageIndex& index, store::MessageEntry& entry, const ReceiverOptions& options)
{
    if (entry.parts)
        return *entry.parts;
    std::string path = index.part_list_path(entry);
    if (!path.empty()) {
        if (auto stored = store::read_part_list(path)) {
            entry.parts = std::move(*stored);
            return *entry.parts;
        }
    }
    auto scanned = MessageReceiver::rescan(index, entry, options);
    if (scanned && !scanned->empty() && !path.empty())
        (void)store::write_part_list(path, *scanned);
    entry.parts = scanned ? std::move(*scanned) : store::PartList();
    return *entry.parts;
}

}  // namespace corvane::receiver
