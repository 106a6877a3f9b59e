// A CGI program for the web server's tests: the body on standard input, the
// response on standard output.
#include <unistd.h>

#include <cstdlib>

#include "tests/webserver/cgi/responder.h"

int main()
{
    const char* method = std::getenv("REQUEST_METHOD");
    bool has_body = method && std::string(method) == "POST";
    corvane::testing::cgi::respond(
        has_body ? STDIN_FILENO : -1, STDOUT_FILENO, [](const char* n) { return std::getenv(n); }, true);
    return 0;
}
