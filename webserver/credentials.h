// HTTP Basic credentials: decoding what a client sends and comparing it with
// the "user:password" text the configuration holds (after the password codec
// has unscrambled it).
//
// User names compare without regard to case, passwords byte for byte. The
// rule that lets local clients through and the reading of the settings are
// the connection's business; this file only knows texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::webserver {

// At most this many characters of the encoded credentials are decoded.
constexpr std::size_t max_encoded_credentials = 255;

// The "user:password" text of an Authorization value of the Basic scheme
// (the scheme word in any case), or nullopt for another scheme. Decoding
// stops at the first character outside the Base64 alphabet, as lenient
// clients expect.
std::optional<std::string> decode_basic(std::string_view authorization);

// Base64 (standard alphabet) up to the first character outside it; a final
// group of 2 or 3 characters gives 1 or 2 bytes.
std::string decode_base64_prefix(std::string_view text);

// True when decoded (what the client sent) matches expected (what the
// configuration holds): the first ":" at the same place (none counts as
// place 0), the user names equal without regard to case and the rest equal
// exactly.
bool credentials_match(std::string_view expected, std::string_view decoded);

// The user name of decoded credentials: everything before the first ":".
std::string_view user_of(std::string_view decoded);

}  // namespace corvane::webserver
