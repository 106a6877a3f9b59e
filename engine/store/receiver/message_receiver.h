// The message receiver: how a message enters the store.
//
// A receiver consumes a message as a stream of lines (without their CR LF),
// from a POP3 server, from the engine itself, or from a stored file being
// scanned again. It writes the message file, creates the index entry when
// the header ends (choosing the folder through the user's filters) and
// records where each MIME part of the body lies: part number, sub-part
// number, names, encoding, decoded size estimate, byte offset and line
// count. Bodies are never held in memory and never decoded here; two levels
// of multipart are followed, deeper ones are opaque parts of the second.
//
// Three set-ups: a new message from a mailbox (filters choose the folder),
// an existing entry (single-message retrieval), a local message put into a
// named folder. Memory stays bounded whatever the input: the message goes
// to a file without a name from its first line and gets its name in its
// folder at finish(), once it is whole, so that no crash leaves a part of a
// message where the store would take it for one; header lists are bounded;
// at most store::max_parts parts are recorded. Storing a message costs one
// file made, written and named (and the same for its part list).
//
// A receiver freed before finish() drops its partial file and leaves the
// entry without the downloaded flag. A write error (a full disk) counts the
// same: the entry is never marked downloaded for a file that is not whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/mime_types/mime_type_table.h"
#include "engine/store/filters/filter_set.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/message_index/store_files.h"
#include "engine/store/mime/header_list.h"
#include "engine/store/mime/line_reader.h"

namespace corvane::receiver {

// What the receiver needs from the engine's settings.
struct ReceiverOptions {
    // Names and types of parts without them; nullptr means none registered.
    const mime_types::MimeTypeTable* types = nullptr;
    // [PopClient] UseReceivedDate: date the message by its first Received
    // header instead of its Date header.
    bool use_received_date = false;
};

// The user's filters and folders, for messages that arrive from a mailbox.
struct FilterContext {
    const filters::FilterSet* filters = nullptr;
    const store::FolderList* folders = nullptr;
};

enum class StoreMode {
    whole,        // write the message file
    header_only,  // only the entry (a message fetched with TOP)
};

// Header blocks (the message's, each part's) are fed to the header list up
// to this many bytes per line; the message file keeps every byte.
constexpr std::size_t max_header_line = 64 * 1024;
// Longest line write() holds back while it waits for the line's end.
constexpr std::size_t max_pending_line = 16u << 20;
// Stored messages are scanned again with lines cut to this length.
constexpr std::size_t max_scan_line = 4095;

class MessageReceiver {
public:
    struct FromMailbox {
        std::string mailbox;
        std::string server_id;
        std::vector<std::string>* keep_ids = nullptr;  // identifiers to keep (UID file)
        FilterContext filters;
    };
    // A new message fetched from a mailbox.
    MessageReceiver(store::MessageIndex& index, FromMailbox from, ReceiverOptions options);
    // The files of an existing entry (its folder and file name).
    MessageReceiver(store::MessageIndex& index, store::MessageEntry& entry, ReceiverOptions options);
    // A local message of the engine into a named folder.
    MessageReceiver(store::MessageIndex& index, std::string folder, ReceiverOptions options);
    ~MessageReceiver();
    MessageReceiver(const MessageReceiver&) = delete;
    MessageReceiver& operator=(const MessageReceiver&) = delete;

    // Takes the message number (for a new entry) and, when storing, opens
    // the temporary message file.
    void begin(std::uint32_t expected_size, StoreMode mode);
    // One line without its CR LF; returns the bytes it stands for (+2).
    std::size_t line(std::string_view text);
    // The message as a byte stream in pieces of any size: lines end at LF,
    // a CR before it is dropped, and a last line without LF counts at
    // finish(). A line longer than max_pending_line is passed on in pieces
    // of that size, so memory stays bounded.
    void write(std::string_view bytes);
    // True until the empty line that ends the message header.
    bool header_pending() const { return m_state == ParseState::header; }
    // Completes the message: the file closed and marked downloaded, the
    // part list written. A header that never ended is ended here. Returns
    // the entry, or nullptr when none was made.
    store::MessageEntry* finish();
    // Gives up the message: the partial file is removed and the entry (if
    // any) stays without the downloaded flag. The destructor does this for
    // a receiver that was not finished.
    void discard();

    // The part list found so far (complete after finish()).
    const store::PartList& parts() const { return m_parts; }
    const std::string& top_content_type() const { return m_top_type; }

    // Scans a stored message again (its .msg file, nothing written) and
    // returns its part list; nullopt when the file cannot be read.
    static std::optional<store::PartList> rescan(store::MessageIndex& index, store::MessageEntry& entry,
                                                 const ReceiverOptions& options);

    // What the receiver makes of any message file, without a store: the
    // entry it would create (folder empty, size the file's) and the part
    // list, with offsets into that file. nullopt when it cannot be read.
    struct Scan {
        store::MessageEntry entry;
        store::PartList parts;
        std::string top_content_type;
    };
    static std::optional<Scan> scan_file(const std::string& path, const ReceiverOptions& options);

private:
    enum class Setup { mailbox, entry, folder };
    // Where the line procedure stands in the message.
    enum class ParseState {
        header,              // the message header
        body,                // a body without parts, or after the last part
        preamble,            // before the first (next) outer boundary
        part_header,         // the header of an outer part
        part_body,           // the body of an outer part
        nested_preamble,     // inside a nested multipart, before its next boundary
        nested_part_header,  // the header of a nested part
        nested_part_body,    // the body of a nested part
    };
    bool in_part_body() const { return m_state == ParseState::part_body || m_state == ParseState::nested_part_body; }

    void consume(std::string_view text, std::uint64_t raw_bytes);
    void header_line(std::string_view text);
    void end_header();
    void create_entry();
    void choose_final_path();
    bool publish();
    void begin_parts();
    void make_part(std::int32_t part_number, std::int32_t sub_part);
    void count_line(std::uint64_t length);
    void close_part();
    void outer_step(std::string_view line);
    void inner_step(std::string_view line);
    void end_part_header(bool nested);
    void uuencode_scan(const std::string& path);
    void scan_lines(mime::LineReader& reader);
    void check_boundary_seen();
    void complete_parts(bool write);

    store::MessageIndex& m_index;
    Setup m_setup;
    ReceiverOptions m_options;
    FilterContext m_filters;
    std::string m_mailbox;
    std::string m_server_id;
    std::vector<std::string>* m_keep_ids = nullptr;
    std::string m_folder;
    store::MessageEntry* m_entry = nullptr;

    std::uint32_t m_expected_size = 0;
    StoreMode m_mode = StoreMode::header_only;
    std::uint32_t m_number = 0;
    std::string m_file_name;
    bool m_begun = false;
    std::string m_pending;  // write(): the start of a line without its LF yet
    bool m_finished = false;

    // Storing: the file, without a name until finish() gives it its path.
    store::OutputFile m_file;
    std::string m_final_path;
    // Scanning a stored file again: it is "open" for the parse rules.
    bool m_scanning = false;
    std::uint64_t m_position = 0;  // file offset of the end of the current line

    ParseState m_state = ParseState::header;
    mime::HeaderList m_header;
    std::string m_top_type = "text/plain";
    std::optional<std::string> m_outer;  // "--" + boundary; none for a single part
    std::optional<std::string> m_inner;
    std::int32_t m_part_number = 0;
    std::int32_t m_sub_part = 0;
    store::PartList m_parts;
    std::size_t m_current = npos;  // the part whose body is being counted
    bool m_uu_begin = false;
    bool m_uu_end = false;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

// The part list of an entry, loaded once and cached in it: from its .att
// file, or, when that cannot be read, by scanning the message file again
// (and writing the .att file for next time).
const store::PartList& part_list(store::MessageIndex& index, store::MessageEntry& entry,
                                 const ReceiverOptions& options);

}  // namespace corvane::receiver
