// The header blocks and bodies the server writes itself: the fixed error
// responses, the header of a static file and the prefix in front of every
// CGI's output. Every response is HTTP/1.0 with "Connection: close".
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::webserver {

constexpr std::string_view server_header = "Server: Larkd/2.0.1\r\n";

// "Not Modified", "Unauthorized", "Forbidden", "Not Found", "Request Entity
// Too Large", "Not Implemented", "Internal Server Error"; "Bad Request" for
// anything else.
std::string_view reason_phrase(int status);

struct ErrorResponse {
    std::string header;  // counts as the server's own header bytes
    std::string body;    // empty for 304
};
ErrorResponse error_response(int status);

// The header block of a static file; without a content type when type is
// nullopt (a file name without an extension).
std::string static_file_header(std::time_t request_time, std::optional<std::string_view> type, std::uint64_t length,
                               std::time_t modified);

// Written ahead of every CGI's output: the status line is always 200 and
// the CGI's own header lines follow directly.
std::string cgi_prefix(std::time_t request_time);

}  // namespace corvane::webserver
