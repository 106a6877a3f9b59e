// Whole requests through the dispatcher of an engine started in this
// process as Corvane.so wires it, with the shipped templates and one account
// (alice, "secret"): the input is QUERY_STRING, a line feed, HTTP_COOKIE, a
// line feed and the form body. Every request must end with both streams
// closed and no fault, whatever its fields, cookies and body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/platform/files.h"
#include "fuzz/support/engine_in_process.h"

namespace fs = corvane::platform;
using namespace corvane::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool running = [] {
        if (!start_engine_in_process())
            return false;
        std::string user = engine_root() + "/Users/alice";
        return fs::make_directories(user).ok() &&
               fs::write_file_atomic(user + "/User.ini", "[User]\nPassword=-secret\n").ok();
    }();
    if (!running)
        __builtin_trap();
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    std::string query(next_line(rest));
    std::string cookie(next_line(rest));
    std::string body(rest.substr(0, 60000));  // stays within a pipe's buffer
    (void)engine_request(query, cookie, body);
    return 0;
}
