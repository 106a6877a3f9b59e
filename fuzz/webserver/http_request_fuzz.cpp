// Feeds arbitrary bytes to what the web server reads from clients: the
// header block (as the connection collects it in its 4096-byte buffer),
// If-Modified-Since dates, Basic credentials and the user name a log shows
// of them, and the masking of secret fields in logged request lines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text/secrets.h"
#include "webserver/cgi_environment.h"
#include "webserver/credentials.h"
#include "webserver/http_request.h"
#include "webserver/router.h"

using namespace corvane::webserver;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);

    // The connection hands over at most buffer_size - 1 bytes.
    std::string_view received = input.substr(0, buffer_size - 1);
    std::size_t end = find_header_end(received);
    HttpRequest request = parse_request(end == std::string_view::npos ? received : received.substr(0, end - 2));
    if (request.valid()) {
        if (request.path.empty() || request.path.front() != '/' || request.path.find("../") != std::string::npos)
            __builtin_trap();
        if (request.content_length < 0)
            __builtin_trap();
        CgiVariables v;
        v.request_method = request.method;
        v.script_name = request.path;
        v.query_string = request.query;
        v.user_agent = request.user_agent.value_or("");
        v.content_type = request.content_type;
        v.content_length = request.content_length;
        v.cookie = request.cookie;
        auto block = build_environment(nullptr, v);
        if (block.empty() || block.back() != '\0')
            __builtin_trap();
        (void)environment_pointers(block);
        if (request.authorization) {
            if (auto decoded = decode_basic(*request.authorization))
                (void)credentials_match("admin:Secret", *decoded);
        }
    }

    (void)parse_http_date(input);
    if (auto decoded = decode_basic(input)) {
        (void)user_of(*decoded);
        (void)credentials_match(*decoded, input);
    }

    // The fixed failure line must stay matchable: no quote, no line end.
    if (auto decoded = decode_basic(input)) {
        std::string user = loggable_user(*decoded);
        if (user.size() > 64 || user.find('"') != std::string::npos || user.find('\n') != std::string::npos)
            __builtin_trap();
    }
    // Masking keeps everything but secret values and never unmasks.
    std::string masked = corvane::text::mask_request_line(input);
    if (corvane::text::mask_request_line(masked) != masked)
        __builtin_trap();
    if (input.find('?') == std::string_view::npos && masked != input)
        __builtin_trap();
    return 0;
}
