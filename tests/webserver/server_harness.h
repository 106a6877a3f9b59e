// Runs the real web server program for black-box tests: a temporary
// directory tree with its own Corvane.ini, the program started on
// 127.0.0.1 at a free port, raw HTTP over sockets, and the server's files
// read back.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace corvane::testing {

struct HttpResponse {
    std::string raw;  // everything the server sent before closing
    int status = 0;   // 0 when nothing (or no status line) came
    std::string status_line;
    std::vector<std::string> headers;  // in order, without line ends
    std::string body;

    bool has_header(const std::string& name) const;
    std::string header(const std::string& name) const;  // first value, "" when absent
};

HttpResponse parse_response(const std::string& raw);

// A connected socket to 127.0.0.1:port from source (a 127.0.0.0/8 address).
int connect_to(int port, const std::string& source = "127.0.0.1");
// Sends request whole and reads until the server closes (bounded).
HttpResponse http(int port, const std::string& request, const std::string& source = "127.0.0.1");
// Reads until the peer closes or the time is up; "" on a reset.
std::string read_until_closed(int fd, std::chrono::milliseconds limit = std::chrono::seconds(20));
void send_all(int fd, const std::string& data);

// A free TCP port on 127.0.0.1 (bound and released at once).
int free_port();

class ServerTree {
public:
    ServerTree();
    const std::string& root() const { return m_dir.path(); }
    std::string path(const std::string& relative) const { return m_dir / relative; }
    int port() const { return m_port; }

    // Corvane.ini for a foreground server at 127.0.0.1:port with every
    // directory inside the tree; extra is appended to the server's section
    // (its own lines) and after it (further sections).
    void write_ini(const std::string& section = "AdminWebServer", const std::string& extra_in_section = "",
                   const std::string& extra_sections = "");
    void write(const std::string& relative, const std::string& content, unsigned mode = 0644);
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // Waits until the file contains text (bounded); true when it does.
    bool wait_for(const std::string& relative, const std::string& text,
                  std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    TempDir m_dir;
    int m_port;
};

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts program with CORVANE_INI (and a unique CORVANE_INSTANCE) and
    // waits until the pid file appears in log_dir or the program ends.
    // True when it is running.
    bool start(const std::string& program, const std::string& ini, const std::string& log_dir,
               const std::vector<std::string>& args = {}, const std::string& pid_name = "Larkd.pid");
    bool running();
    pid_t pid() const { return m_pid; }
    // SIGTERM, then waits (bounded); the exit status as from waitpid.
    int stop();
    // Waits for the program to end by itself (bounded); -1 when it did not.
    int wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(20));
    const std::string& stderr_text();
    // Open descriptors of the running server.
    int open_descriptors() const;

private:
    pid_t m_pid = -1;
    int m_status = -1;
    std::string m_stderr_path;
    std::string m_stderr;
};

}  // namespace corvane::testing
