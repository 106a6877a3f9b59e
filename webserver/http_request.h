// The request side of HTTP/1.0: finding the end of the header block,
// parsing the request line and the headers the server keeps (the six it
// acts on, and the four that tell a CGI which site sent the request), and
// reading If-Modified-Since dates.
//
// The parser works on the header text the connection has collected in its
// 4096-byte receive buffer; it never looks past it, never allocates more
// than the kept values, and never fails: whatever the bytes, the result is a
// request with a status. What it deliberately does not do: no
// percent-decoding of the URL, no header continuation lines, no HTTP/1.1
// features (chunked bodies, keep-alive, Host routing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::webserver {

// Both per-connection buffers are this large; the header block must fit in
// one less (the last byte ends the text).
constexpr std::size_t buffer_size = 4096;
// A method longer than this cannot be one the server knows.
constexpr std::size_t max_method = 7;
// Static and CGI file paths are built in a buffer of 260 characters; a
// combination longer than this is refused rather than cut.
constexpr std::size_t max_path = 259;

struct HttpRequest {
    // 0 until parsed; then 400, 403 or 501 for a request that cannot be
    // served, 200 for one that can (routing may set 304, 401, 404 later).
    int status = 0;
    std::string request_line;
    std::string method;  // as the client spelled it
    std::string path;    // the URL without its query string
    std::string query;   // the text after the first "?"
    std::int64_t content_length = 0;
    std::optional<std::string> content_type;
    std::optional<std::string> user_agent;
    std::optional<std::string> cookie;
    std::optional<std::string> authorization;
    // Handed to CGIs as HTTP_HOST, HTTP_ORIGIN, HTTP_REFERER and
    // HTTP_SEC_FETCH_SITE, so that the engine can refuse a form that
    // another site sent.
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> referer;
    std::optional<std::string> fetch_site;
    // Seconds since 1970 (UTC); 0 when absent or unreadable.
    std::time_t if_modified_since = 0;

    bool valid() const { return status == 200; }
    bool is_head() const;
    bool is_post() const;
};

// Where the body begins: the position just past the first "\r\n\r\n" in
// received, or npos while the header block is incomplete.
std::size_t find_header_end(std::string_view received);

// Parses a header block: the received text up to and including the first
// CR LF of the terminating "\r\n\r\n".
HttpRequest parse_request(std::string_view header_text);

// Reads an If-Modified-Since value in the fixed-field form
// "Sun, 06 Nov 1994 08:49:37 GMT" (numeric zones and the US zone names are
// understood). 0 for anything else, so that an unreadable date never
// suppresses a response.
std::time_t parse_http_date(std::string_view value);

// "Sun, 06 Nov 1994 08:49:37 GMT" for a time.
std::string format_http_date(std::time_t t);

}  // namespace corvane::webserver
