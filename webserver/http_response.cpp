#include "webserver/http_response.h"

#include "common/text/strings.h"
#include "webserver/http_request.h"

namespace corvane::webserver {

std::string_view reason_phrase(int status)
{
    switch (status) {
    case 304:
        return "Not Modified";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 413:
        return "Request Entity Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    default:
        return "Bad Request";
    }
}

ErrorResponse error_response(int status)
{
    std::string phrase(reason_phrase(status));
    ErrorResponse response;
    response.header = text::format("HTTP/1.0 %d %s\r\n", status, phrase.c_str());
    response.header += server_header;
    response.header += "Content-Type: text/html\r\nConnection: close\r\n";
    if (status == 401)
        response.header += "WWW-Authenticate: BASIC realm=\"Secure Area\"\r\n";
    response.header += "\r\n";
    if (status != 304) {
        response.body =
            text::format("<HTML>\r\n<HEAD><TITLE>%d %s</TITLE></HEAD>\r\n<BODY><H1>%s</H1></BODY>\r\n</HTML>\r\n",
                         status, phrase.c_str(), phrase.c_str());
    }
    return response;
}

std::string static_file_header(std::time_t request_time, std::optional<std::string_view> type, std::uint64_t length,
                               std::time_t modified)
{
    std::string header = "HTTP/1.0 200 OK\r\n";
    header += server_header;
    header += "Date: " + format_http_date(request_time) + "\r\n";
    if (type) {
        header += "MIME-Version: 1.0\r\nContent-type: ";
        header += *type;
        header += "\r\n";
    }
    text::append_format(header, "Content-Length: %llu\r\n", static_cast<unsigned long long>(length));
    header += "Last-Modified: " + format_http_date(modified) + "\r\nConnection: close\r\n\r\n";
    return header;
}

std::string cgi_prefix(std::time_t request_time)
{
    std::string prefix = "HTTP/1.0 200 OK\r\n";
    prefix += server_header;
    prefix += "Date: " + format_http_date(request_time) + "\r\nConnection: close\r\n";
    return prefix;
}

}  // namespace corvane::webserver
