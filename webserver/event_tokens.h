// The tokens the server registers its descriptors with: what kind of thing
// an event is for in the top byte, and which one (a connection number, a
// CGI run) below it.
#pragma once

#include <cstdint>

namespace corvane::webserver {

enum class TokenKind : std::uint64_t {
    listener = 1,
    stop = 2,
    wakeup = 3,
    connection = 4,
    cgi_output = 5,
    cgi_exit = 6,
};

constexpr std::uint64_t make_token(TokenKind kind, std::uint64_t id)
{
    return static_cast<std::uint64_t>(kind) << 56 | (id & ((std::uint64_t{1} << 56) - 1));
}

constexpr TokenKind token_kind(std::uint64_t token)
{
    return static_cast<TokenKind>(token >> 56);
}

constexpr std::uint64_t token_id(std::uint64_t token)
{
    return token & ((std::uint64_t{1} << 56) - 1);
}

}  // namespace corvane::webserver
