// What a POP3 server says, taken apart: the status of a reply, the count
// of STAT, the size of LIST, the lines of a UIDL listing, and the data
// lines of RETR and TOP with their dot-stuffing. The UID file, one server
// identifier a line, is read and written here too.
//
// Every function takes the server's bytes as hostile: numbers saturate
// instead of wrapping, identifiers are refused unless they are what a
// server may send (1 to 255 printable ASCII characters without blanks, so
// they fit a UID file line and never split a stored record).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/result.h"

namespace corvane::pop3 {

// Longest server identifier we keep (a UID file line holds up to 255 bytes).
constexpr std::size_t max_server_id = 255;

// A positive reply begins with exactly "+OK".
bool is_positive(std::string_view reply);

// The message count of a STAT reply ("+OK 3 1457"): the leading number
// after "+OK ", 0 when there is none.
std::uint32_t stat_count(std::string_view reply);

// The size in a LIST reply ("+OK 2 774"): the third blank-separated token,
// or nullopt when there is none or it is not a number.
std::optional<std::uint32_t> list_size(std::string_view reply);

// A line of a UIDL listing: "number identifier".
struct UidlLine {
    std::uint32_t number = 0;
    std::string_view id;
};
// nullopt for a line without a blank, without a message number (1 or
// more), or with an identifier that is not one (see above).
std::optional<UidlLine> parse_uidl_line(std::string_view line);
bool is_server_id(std::string_view id);

// A data line of RETR or TOP.
enum class DataLine { end, text };
struct Unstuffed {
    DataLine kind = DataLine::text;
    std::string_view text;  // the line with a stuffed dot taken off
};
// "." ends the data; a line beginning with ".." loses its first dot; any
// other line is passed unchanged (".x" stays ".x").
Unstuffed unstuff(std::string_view line);

// The identifiers of a UID file: one a line, CR LF taken off, lines longer
// than 255 bytes cut, empty lines skipped. A missing file gives none.
std::vector<std::string> read_uid_file(const std::string& path);
// Replaces the UID file with the identifiers, "%s\r\n" each, atomically.
Result<void> write_uid_file(const std::string& path, const std::vector<std::string>& ids);

// A command as it may go on the wire: CR and LF (which would start another
// command) become blanks.
std::string command_text(std::string_view text);

}  // namespace corvane::pop3
