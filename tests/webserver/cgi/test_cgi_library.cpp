// A CGI library for the web server's tests. StartUp and ShutDown append a
// line to cgi-trace.txt beside the library file; StartUp refuses when a
// file named like the library plus ".refuse" exists.
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <string>

#include "tests/webserver/cgi/responder.h"

namespace {

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
    corvane::testing::cgi::respond(input, output, lookup, false);
    if (input >= 0)
        ::close(input);
    ::close(output);
    return 1;
}
