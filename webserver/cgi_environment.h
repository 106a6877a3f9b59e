// The environment a CGI runs with: a copy of the server's own environment
// followed by the CGI variables of the request, as a block of NUL-terminated
// NAME=value strings that ends with an empty string (the form a CGI
// library's Main receives), and as the pointer array a program gets.
//
// Inherited entries that carry the name of a CGI variable are left out, so
// that a value in the server's environment can never stand in for one the
// request did not send (a CGI takes the first of two equal names).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::webserver {

struct CgiVariables {
    std::string server_name;  // local address of the connection, dotted
    std::uint16_t server_port = 0;
    std::string remote_addr;
    std::string user_agent;  // empty when absent
    std::string request_method;
    std::string script_name;
    std::string path_info;     // empty when none
    std::string query_string;  // empty when none
    // CONTENT_TYPE and CONTENT_LENGTH are set only for a request with a
    // Content-Type header.
    std::optional<std::string> content_type;
    std::int64_t content_length = 0;
    std::optional<std::string> cookie;
    // Which site sent the request: each set only when the header came.
    std::optional<std::string> host;
    std::optional<std::string> origin;
    std::optional<std::string> referer;
    std::optional<std::string> fetch_site;
};

// inherited: a NULL-terminated array like environ (may be null).
std::vector<char> build_environment(const char* const* inherited, const CgiVariables& variables);

// Pointers to each string of a block, followed by nullptr; valid while the
// block lives unchanged.
std::vector<char*> environment_pointers(std::vector<char>& block);

}  // namespace corvane::webserver
