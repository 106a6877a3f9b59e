#include "webserver/credentials.h"

#include <cstdint>

#include "common/text/base64.h"
#include "common/text/strings.h"

namespace corvane::webserver {

namespace {

std::size_t colon_position(std::string_view s)
{
    auto colon = s.find(':');
    return colon == std::string_view::npos ? 0 : colon;
}

}  // namespace

std::string decode_base64_prefix(std::string_view text)
{
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = text::base64_value(c);
        if (v < 0)
            break;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>((bits >> 16) & 0xff);
            out += static_cast<char>((bits >> 8) & 0xff);
            out += static_cast<char>(bits & 0xff);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out += static_cast<char>((bits >> 4) & 0xff);
    } else if (count == 3) {
        out += static_cast<char>((bits >> 10) & 0xff);
        out += static_cast<char>((bits >> 2) & 0xff);
    }
    return out;
}

std::optional<std::string> decode_basic(std::string_view authorization)
{
    constexpr std::string_view scheme = "Basic ";
    if (!text::istarts_with(authorization, scheme))
        return std::nullopt;
    std::string_view encoded = authorization.substr(scheme.size());
    return decode_base64_prefix(encoded.substr(0, max_encoded_credentials));
}

bool credentials_match(std::string_view expected, std::string_view decoded)
{
    std::size_t colon = colon_position(expected);
    if (colon != colon_position(decoded))
        return false;
    return text::iequals(expected.substr(0, colon), decoded.substr(0, colon)) &&
           expected.substr(colon) == decoded.substr(colon);
}

std::string_view user_of(std::string_view decoded)
{
    return decoded.substr(0, decoded.find(':'));
}

}  // namespace corvane::webserver
