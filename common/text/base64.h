// Base64 (RFC 4648, standard alphabet).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::text {

enum class Padding { with, without };

std::string base64_encode(std::string_view data, Padding padding = Padding::with);
// Decodes strictly: characters outside the alphabet, a misplaced "=" or a
// length that cannot occur give nullopt. Padding is optional. Line breaks
// (CR, LF) are skipped, as in mail bodies.
std::optional<std::string> base64_decode(std::string_view text);
// The value of one character of the alphabet, or -1 (for "=" too).
int base64_value(char c);
// True when every character belongs to the alphabet A-Z a-z 0-9 + /.
bool is_base64_alphabet(std::string_view text);

}  // namespace corvane::text
