// Quoting the text of a message being answered or forwarded: each line
// with a prefix ("> "), wrapped to the compose width.
//
// A line longer than the room left beside the prefix breaks at the last
// blank that keeps it within the room (the blank is dropped), or, in a word
// longer than the room, after exactly that many characters. Widths count
// characters, not bytes, and a break never splits a UTF-8 sequence.
#pragma once

#include <string>
#include <string_view>

namespace corvane::compose {

// Appends the quoted form of one line (without its line end) to out, each
// output line ending in "\n". width is the compose width (columns).
void quote_line(std::string_view line, std::string_view prefix, int width, std::string& out);

}  // namespace corvane::compose
