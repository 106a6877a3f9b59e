// The header lines of engine responses and the cookies they set.
//
// Every response the engine writes carries the lines of
// security_header_lines among its header lines: browsers must not guess
// another type for a page or an attachment, must not hand the URL, which
// holds the session id, to other sites, must not show a page inside another
// site's frame (clickjacking), and must not keep a page with session links
// on disk or in a shared cache.
//
// Cookies: "User" and "Lang" remember the last logon name and language
// for a year (path "/"); the key cookie ties a browser session to the
// browser that logged on (see session_keys.h). A value taken from a
// request never carries CR, LF, ";" or other control characters into a
// header line.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace corvane::dispatch {

inline constexpr std::string_view security_header_lines =
    "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nX-Frame-Options: SAMEORIGIN\r\n"
    "Cache-Control: no-store\r\n";

// What a page may load and run (the Content-Security-Policy line every
// response carries): only this server's own files and scripts, pictures
// also as data: URLs, style attributes (sanitised HTML mail keeps its own),
// no plugins, no framing by other sites, forms only back to this server.
inline constexpr std::string_view page_policy =
    "default-src 'self'; img-src 'self' data:; object-src 'none'; frame-ancestors 'self'; style-src 'self'; "
    "style-src-attr 'unsafe-inline'; base-uri 'none'; form-action 'self'";
// The same for the one message whose reader asked to see its pictures from
// other sites.
inline constexpr std::string_view page_policy_remote_images =
    "default-src 'self'; img-src 'self' data: https:; object-src 'none'; frame-ancestors 'self'; style-src 'self'; "
    "style-src-attr 'unsafe-inline'; base-uri 'none'; form-action 'self'";
// A part of a message sent as it is: nothing in it runs or loads.
inline constexpr std::string_view download_policy = "default-src 'none'; sandbox";

// The frame set and the options page go without Expires and Pragma (the
// Cache-Control line above still keeps them out of every cache).
inline constexpr std::string_view cached_page_header = "Content-type: text/html\r\n\r\n";
inline constexpr std::string_view page_header = "Content-type: text/html\r\nExpires: 0\r\nPragma: no-cache\r\n\r\n";
inline constexpr std::string_view plain_text_header =
    "Content-type: text/plain\r\nExpires: 0\r\nPragma: no-cache\r\n\r\n";

// Longest cookie value taken from a request (a user name is at most 79).
constexpr std::size_t max_cookie_value = 79;
// How long the User and Lang cookies live.
constexpr std::time_t cookie_lifetime = 365 * 24 * 60 * 60;

// A year from now in UTC as cookies write dates: "Tue, 05-Mar-2024 10:00:00 GMT".
std::string cookie_expiry(std::time_t now);
// The value without CR, LF, ";" and control characters, cut to max bytes.
std::string cookie_safe(std::string_view value, std::size_t max = max_cookie_value);

// "Set-Cookie: User=...; Expires=...; path=/" with CR LF.
std::string user_cookie_line(std::string_view user, std::time_t now);
std::string lang_cookie_line(std::string_view language, std::time_t now);

// The cookie that carries the key of session id: one name per session, so
// that two sessions in one browser (two users) do not push each other out.
std::string key_cookie_name(std::string_view session_id);
// Set at logon: lives as long as the browser runs, invisible to scripts,
// never sent along by other sites.
std::string key_cookie_line(std::string_view session_id, std::string_view key, bool secure);
// Sent at logout: removes the key cookie from the browser.
std::string key_cookie_removal_line(std::string_view session_id, bool secure);

}  // namespace corvane::dispatch
