#include "tools/mailscan/mailscan.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/platform/files.h"
#include "common/platform/time_format.h"
#include "common/text/strings.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/message_index/part_list_file.h"
#include "engine/store/message_index/store_files.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/line_decoders.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::mailscan {

namespace fs = platform;

namespace {

constexpr std::size_t max_decode_line = 1u << 20;

std::string flag_names(std::uint32_t flags)
{
    static const std::pair<std::uint32_t, const char*> names[] = {
        {store::flags::new_message, "new"},
        {store::flags::urgent, "urgent"},
        {store::flags::read, "read"},
        {store::flags::replied, "replied"},
        {store::flags::forwarded, "forwarded"},
        {store::flags::multipart, "multipart"},
        {store::flags::draft, "draft"},
        {store::flags::downloaded, "downloaded"},
        {store::flags::copy_pending, "copy-pending"},
        {store::flags::confirm_requested, "confirm-requested"},
    };
    std::string out;
    for (const auto& [bit, name] : names) {
        if (flags & bit) {
            if (!out.empty())
                out += ' ';
            out += name;
        }
    }
    return out;
}

// Terminal output of values taken from mail: no control characters.
std::string shown(std::string_view value)
{
    return text::without_controls(value);
}

// Decodes line_count lines from offset on.
bool decode_range(const std::string& path, std::uint64_t offset, std::int64_t line_count,
                  std::string_view transfer_encoding, std::FILE* out)
{
    auto reader = mime::LineReader::open(path);
    if (!reader)
        return false;
    std::string line;
    while (reader->line_offset() + reader->line_bytes() < offset) {
        if (!reader->next(line, max_decode_line))
            return true;
    }
    mime::LineDecoder decoder(mime::classify_encoding(transfer_encoding));
    std::string decoded;
    for (std::int64_t i = 0; (line_count < 0 || i < line_count) && reader->next(line, max_decode_line); ++i) {
        decoded.clear();
        decoder.decode(line, decoded);
        if (!decoded.empty() && std::fwrite(decoded.data(), 1, decoded.size(), out) != decoded.size())
            return false;
    }
    return std::fflush(out) == 0;
}

bool is_message_file(std::string_view name)
{
    return name.size() > 4 && name.front() != '.' && name.substr(name.size() - 4) == ".msg";
}

// "CV000123" is message number 123; other names have none (0).
std::uint32_t number_of(std::string_view file_name)
{
    if (file_name.size() != 8 || file_name.substr(0, 2) != "CV")
        return 0;
    auto n = text::parse_number(file_name.substr(2));
    return (n && *n >= 1 && *n <= store::max_message_number) ? static_cast<std::uint32_t>(*n) : 0;
}

bool ends_with(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// What an interrupted write leaves: a message stored under a hidden name
// (".incoming"), a replacement linked beside its target (".new"), a copy's
// temporary (".tmp").
bool is_interrupted_write(std::string_view name)
{
    return name.size() > 1 && name.front() == '.' &&
           (ends_with(name, ".incoming") || ends_with(name, ".new") || ends_with(name, ".tmp"));
}

struct FolderFiles {
    std::string folder;                   // as spelled on disk
    std::vector<std::string> files;       // file names without ".msg"
    std::vector<std::string> part_lists;  // without ".att"
    std::vector<std::string> leftovers;   // interrupted writes
};

std::vector<FolderFiles> message_files(const std::string& user_dir)
{
    std::vector<FolderFiles> result;
    auto entries = fs::list_directory(user_dir);
    if (!entries)
        return result;
    for (const fs::DirEntry& entry : *entries) {
        if (!entry.is_directory || !store::is_safe_folder_name(entry.name))
            continue;
        FolderFiles folder{entry.name, {}, {}, {}};
        if (auto files = fs::list_directory(fs::join_path(user_dir, entry.name))) {
            for (const fs::DirEntry& file : *files) {
                if (file.is_directory)
                    continue;
                if (is_message_file(file.name))
                    folder.files.push_back(file.name.substr(0, file.name.size() - 4));
                else if (file.name.front() != '.' && file.name.size() > 4 && ends_with(file.name, ".att"))
                    folder.part_lists.push_back(file.name.substr(0, file.name.size() - 4));
                else if (is_interrupted_write(file.name))
                    folder.leftovers.push_back(file.name);
            }
        }
        result.push_back(std::move(folder));
    }
    return result;
}

}  // namespace

int print_scan(const std::string& path, const receiver::ReceiverOptions& options, std::FILE* out, std::FILE* err)
{
    auto scan = receiver::MessageReceiver::scan_file(path, options);
    if (!scan) {
        std::fprintf(err, "Mailscan: cannot read %s\n", path.c_str());
        return exit_failed;
    }
    const store::MessageEntry& e = scan->entry;
    std::fprintf(out, "File:      %s\n", path.c_str());
    std::fprintf(out, "From:      %s\n", shown(e.from).c_str());
    std::fprintf(out, "To:        %s\n", shown(e.to).c_str());
    std::fprintf(out, "Subject:   %s\n", shown(e.subject).c_str());
    if (e.date)
        std::fprintf(out, "Date:      %u (%s UTC)\n", e.date, fs::format_utc(e.date, "%Y-%m-%d %H:%M:%S").c_str());
    else
        std::fprintf(out, "Date:      0 (none)\n");
    std::fprintf(out, "Size:      %u\n", e.size);
    std::fprintf(out, "Type:      %s\n", shown(scan->top_content_type).c_str());
    std::fprintf(out, "Flags:     0x%x (%s)\n", e.flags, flag_names(e.flags).c_str());
    std::fprintf(out, "Parts:     %zu\n", scan->parts.size());
    std::size_t n = 0;
    for (const store::PartRecord& p : scan->parts) {
        std::fprintf(out, "  %zu: part %d.%d, %s, %s, name \"%s\", id \"%s\", offset %lld, %lld lines, ~%lld bytes\n",
                     ++n, p.part_number, p.sub_part, shown(p.content_type).c_str(),
                     p.transfer_encoding.empty() ? "-" : shown(p.transfer_encoding).c_str(), shown(p.file_name).c_str(),
                     shown(p.content_id).c_str(), static_cast<long long>(p.body_offset),
                     static_cast<long long>(p.line_count), static_cast<long long>(p.decoded_size));
    }
    return exit_ok;
}

int write_part(const std::string& path, long number, const receiver::ReceiverOptions& options, std::FILE* out,
               std::FILE* err)
{
    auto scan = receiver::MessageReceiver::scan_file(path, options);
    if (!scan) {
        std::fprintf(err, "Mailscan: cannot read %s\n", path.c_str());
        return exit_failed;
    }
    if (scan->parts.empty()) {
        if (number != 1) {
            std::fprintf(err, "Mailscan: %s has one part (its body)\n", path.c_str());
            return exit_usage;
        }
        // The body of a message without parts: everything after the header.
        auto reader = mime::LineReader::open(path);
        if (!reader)
            return exit_failed;
        std::string line;
        std::uint64_t body = 0;
        while (reader->next(line, max_decode_line)) {
            body = reader->line_offset() + reader->line_bytes();
            if (line.empty())
                break;
        }
        mime::HeaderList header = mime::read_header(path);
        return decode_range(path, body, -1, header.value("Content-Transfer-Encoding"), out) ? exit_ok : exit_failed;
    }
    if (number < 1 || static_cast<std::size_t>(number) > scan->parts.size()) {
        std::fprintf(err, "Mailscan: %s has %zu parts\n", path.c_str(), scan->parts.size());
        return exit_usage;
    }
    const store::PartRecord& part = scan->parts[static_cast<std::size_t>(number - 1)];
    return decode_range(path, static_cast<std::uint64_t>(part.body_offset), part.line_count, part.transfer_encoding,
                        out)
               ? exit_ok
               : exit_failed;
}

std::optional<CheckReport> check_user_dir(const std::string& user_dir)
{
    if (!fs::is_directory(user_dir))
        return std::nullopt;
    CheckReport report;
    store::IndexParser parser;
    if (auto reader = mime::LineReader::open(fs::path_nocase(user_dir, store::index_file_name))) {
        std::string line;
        while (reader->next(line, store::max_index_line + 1))
            parser.line(line);
    }

    // Folder names on disk compare without regard to case.
    std::set<std::string> indexed;  // lower(folder) + "/" + file name
    std::set<std::string> missing_folders;
    for (const auto& entry : parser.entries()) {
        if (entry->folder.empty())
            continue;
        std::string key = text::lower(entry->folder) + "/" + entry->file_name;
        indexed.insert(key);
        if (!entry->has(store::flags::downloaded)) {
            // A message fetched as header only is shown from its entry, in
            // its folder: a folder that is not there hides it.
            if (missing_folders.count(text::lower(entry->folder)) || !fs::resolve_nocase(user_dir, entry->folder)) {
                missing_folders.insert(text::lower(entry->folder));
                report.hidden_entries.push_back(entry->folder + "/" + entry->file_name);
            }
            continue;
        }
        std::string path = fs::join_path(fs::path_nocase(user_dir, entry->folder), entry->file_name + ".msg");
        if (!fs::is_regular_file(path))
            report.missing_files.push_back(entry->folder + "/" + entry->file_name + ".msg");
    }
    for (const FolderFiles& folder : message_files(user_dir)) {
        for (const std::string& file : folder.files) {
            if (!indexed.count(text::lower(folder.folder) + "/" + file))
                report.unindexed_files.push_back(folder.folder + "/" + file + ".msg");
        }
        for (const std::string& file : folder.part_lists) {
            if (!std::binary_search(folder.files.begin(), folder.files.end(), file))
                report.stray_part_lists.push_back(folder.folder + "/" + file + ".att");
        }
        for (const std::string& file : folder.leftovers)
            report.leftovers.push_back(folder.folder + "/" + file);
    }
    if (auto entries = fs::list_directory(user_dir)) {
        for (const fs::DirEntry& entry : *entries) {
            if (!entry.is_directory && is_interrupted_write(entry.name))
                report.leftovers.push_back(entry.name);
        }
    }
    return report;
}

int print_check(const std::string& user_dir, std::FILE* out, std::FILE* err)
{
    auto report = check_user_dir(user_dir);
    if (!report) {
        std::fprintf(err, "Mailscan: %s is not a directory\n", user_dir.c_str());
        return exit_failed;
    }
    for (const std::string& f : report->missing_files)
        std::fprintf(out, "missing message file: %s\n", shown(f).c_str());
    for (const std::string& f : report->unindexed_files)
        std::fprintf(out, "no index entry: %s\n", shown(f).c_str());
    for (const std::string& f : report->leftovers)
        std::fprintf(out, "interrupted store: %s\n", shown(f).c_str());
    for (const std::string& f : report->hidden_entries)
        std::fprintf(out, "entry in a missing folder: %s\n", shown(f).c_str());
    for (const std::string& f : report->stray_part_lists)
        std::fprintf(out, "part list without message: %s\n", shown(f).c_str());
    std::size_t problems = report->missing_files.size() + report->unindexed_files.size() + report->leftovers.size() +
                           report->hidden_entries.size() + report->stray_part_lists.size();
    std::fprintf(out,
                 "%zu entries without files, %zu files without entries, %zu interrupted stores, "
                 "%zu entries in missing folders, %zu part lists without messages\n",
                 report->missing_files.size(), report->unindexed_files.size(), report->leftovers.size(),
                 report->hidden_entries.size(), report->stray_part_lists.size());
    return problems ? exit_findings : exit_ok;
}

std::optional<RebuildReport> rebuild_user_dir(const std::string& user_dir, const receiver::ReceiverOptions& options,
                                              std::string* error)
{
    if (!fs::is_directory(user_dir)) {
        *error = user_dir + " is not a directory";
        return std::nullopt;
    }
    RebuildReport report;
    store::MessageIndex::Entries entries;
    for (const FolderFiles& folder : message_files(user_dir)) {
        ++report.folders;
        std::string folder_dir = fs::join_path(user_dir, folder.folder);
        for (const std::string& file : folder.files) {
            std::string path = fs::join_path(folder_dir, file + ".msg");
            auto scan = receiver::MessageReceiver::scan_file(path, options);
            if (!scan)
                continue;
            auto entry = std::make_unique<store::MessageEntry>();
            *entry = scan->entry;
            entry->number = number_of(file);
            entry->file_name = file;
            entry->folder = folder.folder;
            entry->mailbox.clear();
            entry->server_id.clear();
            // Only what the file itself tells survives: it is here, it has
            // parts, it is urgent.
            entry->flags =
                store::flags::downloaded | (scan->entry.flags & (store::flags::multipart | store::flags::urgent));
            store::normalize_entry_fields(*entry);

            if (entry->has(store::flags::multipart) && !scan->parts.empty()) {
                std::string att = fs::join_path(folder_dir, file + ".att");
                if (!store::read_part_list(att) && store::write_part_list(att, scan->parts))
                    ++report.part_lists;
            }
            entries.push_back(std::move(entry));
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        if (a->number != b->number)
            return a->number < b->number;
        return text::icompare(a->folder, b->folder) < 0;
    });
    std::uint32_t highest = 0;
    for (const auto& entry : entries)
        highest = std::max(highest, entry->number);
    std::uint32_t counter = highest >= store::max_message_number ? 1 : highest + 1;

    std::string index_path = fs::path_nocase(user_dir, store::index_file_name);
    if (fs::exists(index_path)) {
        if (auto copied = fs::copy_file(index_path, index_path + ".bak", fs::Replace::yes); !copied) {
            *error = copied.error().text;
            return std::nullopt;
        }
        report.backup = true;
    }
    if (auto written = fs::write_file_atomic(index_path, store::format_index(counter, entries), 0600); !written) {
        *error = written.error().text;
        return std::nullopt;
    }
    report.entries = entries.size();
    return report;
}

int print_rebuild(const std::string& user_dir, const receiver::ReceiverOptions& options, std::FILE* out, std::FILE* err)
{
    std::string error;
    auto report = rebuild_user_dir(user_dir, options, &error);
    if (!report) {
        std::fprintf(err, "Mailscan: %s\n", error.c_str());
        return exit_failed;
    }
    std::fprintf(out, "%zu entries from %zu folders written to %s%s; %zu missing part lists written\n", report->entries,
                 report->folders, store::index_file_name.data(),
                 report->backup ? " (the old index is Messages.idx.bak)" : "", report->part_lists);
    return exit_ok;
}

}  // namespace corvane::mailscan
