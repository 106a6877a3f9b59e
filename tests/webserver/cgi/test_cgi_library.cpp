// A CGI library for the web server's tests. StartUp and ShutDown append a
// line to cgi-trace.txt beside the library file; StartUp refuses when a
// file named like the library plus ".refuse" exists. Beyond the words of
// responder.h, Main knows two of its own:
//   after=MS  answers, closes its output and only then works MS more, as
//             the engine does when it checks mail after the response
//   meet=N    waits (at most 2 s) until N calls are inside Main at once and
//             answers "met" or "alone"
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/webserver/cgi/responder.h"

namespace {

std::atomic<int> inside{0};

std::string own_path()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&own_path), &info) == 0 || !info.dli_fname)
        return "";
    return info.dli_fname;
}

void trace(const char* event)
{
    std::string path = own_path();
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    int fd = ::open((dir + "/cgi-trace.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    corvane::testing::cgi::write_all(fd, std::string(event) + " " + name + "\n");
    ::close(fd);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int StartUp()
{
    trace("StartUp");
    return ::access((own_path() + ".refuse").c_str(), F_OK) == 0 ? 0 : 1;
}

extern "C" __attribute__((visibility("default"))) int ShutDown()
{
    trace("ShutDown");
    return 1;
}

extern "C" __attribute__((visibility("default"))) int Main(int input, int output, const char* environment)
{
    auto lookup = [environment](const char* name) -> const char* {
        std::size_t length = std::char_traits<char>::length(name);
        for (const char* p = environment; p && *p; p += std::char_traits<char>::length(p) + 1) {
            if (::strncasecmp(p, name, length) == 0 && p[length] == '=')
                return p + length + 1;
        }
        return nullptr;
    };
    const char* q = lookup("QUERY_STRING");
    std::string query = q ? q : "";
    std::string value;
    namespace cgi = corvane::testing::cgi;
    if (cgi::word(query, "meet", value)) {
        int want = std::atoi(value.c_str());
        ++inside;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (inside.load() < want && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        bool met = inside.load() >= want;
        cgi::write_all(output, std::string("Content-Type: text/plain\r\n\r\n") + (met ? "met\n" : "alone\n"));
        // The others may still be looking.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        --inside;
    } else {
        cgi::respond(input, output, lookup, false);
    }
    if (input >= 0)
        ::close(input);
    ::close(output);
    if (cgi::word(query, "after", value))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value.c_str())));
    return 1;
}
