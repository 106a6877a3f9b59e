#include "webserver/cgi_environment.h"

#include <cstring>
#include <string_view>

#include "common/text/strings.h"

namespace corvane::webserver {

namespace {

constexpr std::string_view cgi_names[] = {
    "SERVER_NAME", "SERVER_PORT", "REMOTE_ADDR",  "HTTP_USER_AGENT", "REQUEST_METHOD",
    "SCRIPT_NAME", "PATH_INFO",   "QUERY_STRING", "CONTENT_TYPE",    "CONTENT_LENGTH",
    "HTTP_COOKIE", "HTTP_HOST",   "HTTP_ORIGIN",  "HTTP_REFERER",    "HTTP_SEC_FETCH_SITE",
};

// CGI libraries look names up without regard to case, so "query_string"
// would shadow QUERY_STRING there just the same.
bool is_cgi_name(std::string_view entry)
{
    std::string_view name = entry.substr(0, entry.find('='));
    for (auto n : cgi_names) {
        if (text::iequals(name, n))
            return true;
    }
    return false;
}

void add(std::vector<char>& block, std::string_view name, std::string_view value)
{
    block.insert(block.end(), name.begin(), name.end());
    block.push_back('=');
    block.insert(block.end(), value.begin(), value.end());
    block.push_back('\0');
}

}  // namespace

std::vector<char> build_environment(const char* const* inherited, const CgiVariables& v)
{
    std::vector<char> block;
    std::size_t size = 512 + v.server_name.size() + v.remote_addr.size() + v.user_agent.size() +
                       v.request_method.size() + v.script_name.size() + v.path_info.size() + v.query_string.size() +
                       (v.content_type ? v.content_type->size() : 0) + (v.cookie ? v.cookie->size() : 0) +
                       (v.host ? v.host->size() : 0) + (v.origin ? v.origin->size() : 0) +
                       (v.referer ? v.referer->size() : 0) + (v.fetch_site ? v.fetch_site->size() : 0);
    for (auto p = inherited; p && *p; ++p)
        size += std::strlen(*p) + 1;
    block.reserve(size);

    for (auto p = inherited; p && *p; ++p) {
        std::string_view entry(*p);
        if (entry.find('=') == std::string_view::npos || is_cgi_name(entry))
            continue;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back('\0');
    }
    add(block, "SERVER_NAME", v.server_name);
    add(block, "SERVER_PORT", std::to_string(v.server_port));
    add(block, "REMOTE_ADDR", v.remote_addr);
    add(block, "HTTP_USER_AGENT", v.user_agent);
    add(block, "REQUEST_METHOD", v.request_method);
    add(block, "SCRIPT_NAME", v.script_name);
    add(block, "PATH_INFO", v.path_info);
    add(block, "QUERY_STRING", v.query_string);
    if (v.content_type) {
        add(block, "CONTENT_TYPE", *v.content_type);
        add(block, "CONTENT_LENGTH", std::to_string(v.content_length));
    }
    if (v.cookie)
        add(block, "HTTP_COOKIE", *v.cookie);
    if (v.host)
        add(block, "HTTP_HOST", *v.host);
    if (v.origin)
        add(block, "HTTP_ORIGIN", *v.origin);
    if (v.referer)
        add(block, "HTTP_REFERER", *v.referer);
    if (v.fetch_site)
        add(block, "HTTP_SEC_FETCH_SITE", *v.fetch_site);
    block.push_back('\0');
    return block;
}

std::vector<char*> environment_pointers(std::vector<char>& block)
{
    std::vector<char*> pointers;
    std::size_t pos = 0;
    while (pos < block.size() && block[pos] != '\0') {
        pointers.push_back(block.data() + pos);
        pos += std::strlen(block.data() + pos) + 1;
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace corvane::webserver
