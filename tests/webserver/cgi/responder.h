// A tiny CGI for the web server's tests, shared by the test library (Main)
// and the test program. What it does is chosen by the words of the query
// string, separated by "&":
//   env        (default) the CGI variables present, one NAME=value a line,
//              then INPUT=none or INPUT=<bytes of body>, BODY=<body>
//   echo       the request body, byte for byte
//   status     a "Status: 404 Not Found" line before its other headers
//   big=N      N bytes of a repeating pattern
//   slow=N     N chunks of 1 KB, 50 ms apart
//   sleep=MS   waits before answering
//   hang       waits until it is killed (programs) or for 60 s (libraries)
#pragma once

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace corvane::testing::cgi {

using Lookup = std::function<const char*(const char* name)>;

inline void write_all(int fd, const std::string& s)
{
    std::size_t done = 0;
    while (done < s.size()) {
        ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

inline std::string read_all(int fd)
{
    std::string body;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        body.append(buffer, static_cast<std::size_t>(n));
    }
    return body;
}

// The value of word "name=value" in the query, or "" / nullptr.
inline const char* word(const std::string& query, const std::string& name, std::string& value)
{
    std::size_t pos = 0;
    while (pos <= query.size()) {
        std::size_t end = query.find('&', pos);
        if (end == std::string::npos)
            end = query.size();
        std::string w = query.substr(pos, end - pos);
        if (w == name) {
            value.clear();
            return value.c_str();
        }
        if (w.rfind(name + "=", 0) == 0) {
            value = w.substr(name.size() + 1);
            return value.c_str();
        }
        pos = end + 1;
    }
    return nullptr;
}

// input: -1 when there is no body. Writes the whole response to output.
inline void respond(int input, int output, const Lookup& env, bool is_program)
{
    const char* q = env("QUERY_STRING");
    std::string query = q ? q : "";
    std::string value;
    if (word(query, "sleep", value))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value.c_str())));
    if (word(query, "hang", value)) {
        for (int i = 0; i < (is_program ? 1000000 : 600); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::string body = input >= 0 ? read_all(input) : std::string();

    std::string head;
    if (word(query, "status", value))
        head += "Status: 404 Not Found\r\n";
    if (word(query, "echo", value)) {
        write_all(output, head + "Content-Type: application/octet-stream\r\n\r\n" + body);
        return;
    }
    if (word(query, "big", value)) {
        std::size_t n = std::strtoul(value.c_str(), nullptr, 10);
        std::string data(n, '\0');
        for (std::size_t i = 0; i < n; ++i)
            data[i] = static_cast<char>('a' + i % 26);
        write_all(output, head + "Content-Type: text/plain\r\n\r\n" + data);
        return;
    }
    if (word(query, "slow", value)) {
        write_all(output, head + "Content-Type: text/plain\r\n\r\n");
        int chunks = std::atoi(value.c_str());
        for (int i = 0; i < chunks; ++i) {
            write_all(output, std::string(1024, 'x'));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return;
    }
    std::string text = head + "Content-Type: text/plain\r\n\r\n";
    for (const char* name : {"SERVER_NAME", "SERVER_PORT", "REMOTE_ADDR", "HTTP_USER_AGENT", "REQUEST_METHOD",
                             "SCRIPT_NAME", "PATH_INFO", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH",
                             "HTTP_COOKIE", "HTTP_HOST", "HTTP_ORIGIN", "HTTP_REFERER", "HTTP_SEC_FETCH_SITE"}) {
        if (const char* v = env(name))
            text += std::string(name) + "=" + v + "\n";
    }
    text += input >= 0 ? "INPUT=" + std::to_string(body.size()) + "\n" : std::string("INPUT=none\n");
    text += "BODY=" + body + "\n";
    if (is_program) {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd))
            text += std::string("CWD=") + cwd + "\n";
    }
    write_all(output, text);
}

}  // namespace corvane::testing::cgi
