#include "engine/core/dispatch/response_headers.h"

#include "common/platform/time_format.h"
#include "common/text/strings.h"

namespace corvane::dispatch {

std::string cookie_expiry(std::time_t now)
{
    return platform::format_utc(now + cookie_lifetime, "%a, %d-%b-%Y %H:%M:%S GMT");
}

std::string cookie_safe(std::string_view value, std::size_t max)
{
    std::string out;
    out.reserve(std::min(value.size(), max));
    for (char c : value) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == ';')
            continue;
        out += c;
    }
    return text::bounded(out, max);
}

namespace {

std::string year_cookie(std::string_view name, std::string_view value, std::time_t now)
{
    std::string line = "Set-Cookie: ";
    line += name;
    line += '=';
    line += cookie_safe(value);
    line += "; Expires=";
    line += cookie_expiry(now);
    line += "; path=/\r\n";
    return line;
}

}  // namespace

std::string user_cookie_line(std::string_view user, std::time_t now)
{
    return year_cookie("User", user, now);
}

std::string lang_cookie_line(std::string_view language, std::time_t now)
{
    return year_cookie("Lang", language, now);
}

std::string key_cookie_name(std::string_view session_id)
{
    return "CorvaneKey_" + cookie_safe(session_id, 16);
}

std::string key_cookie_line(std::string_view session_id, std::string_view key, bool secure)
{
    std::string line = "Set-Cookie: " + key_cookie_name(session_id) + "=" + cookie_safe(key, 64) +
                       "; path=/; HttpOnly; SameSite=Strict";
    if (secure)
        line += "; Secure";
    line += "\r\n";
    return line;
}

std::string key_cookie_removal_line(std::string_view session_id, bool secure)
{
    std::string line = "Set-Cookie: " + key_cookie_name(session_id) + "=; Max-Age=0; path=/; HttpOnly; SameSite=Strict";
    if (secure)
        line += "; Secure";
    line += "\r\n";
    return line;
}

}  // namespace corvane::dispatch
