// The part list file (.att) beside a stored message: one line per part
// record, nine fields each followed by 0x01, then CR LF.
//
// Reading is tolerant (short lines are skipped, strings are cut to 79
// bytes, numbers read as decimal) and bounded, since the file may have been
// damaged or planted; writing replaces the file atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/store/message_index/message_entry.h"

namespace corvane::store {

// The four string fields of a part record hold at most this many bytes.
constexpr std::size_t part_field_max = 79;
// A part list never grows beyond this many records, on reading or parsing.
constexpr std::size_t max_parts = 10000;

// The text of a part list file for parts.
std::string format_part_list(const PartList& parts);
// Parses the text of a part list file (never fails: unusable lines are
// skipped; at most max_parts records).
PartList parse_part_list(std::string_view text);

// nullopt when the file cannot be read.
std::optional<PartList> read_part_list(const std::string& path);
bool write_part_list(const std::string& path, const PartList& parts);

}  // namespace corvane::store
