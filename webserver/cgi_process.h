// One running CGI: a library's Main on a thread of its own, or a program in
// a child process, writing its whole response into a pipe that the
// connection reads.
//
// The library owns the two descriptors it is given from the call on; the
// program gets the request body on standard input (or /dev/null), the pipe
// on standard output and /dev/null as standard error, in its own directory
// and process group. When a CGI cannot be started nothing it was given stays
// open, so the caller can answer with an error at once.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"
#include "webserver/cgi_table.h"

namespace corvane::webserver {

class CgiProcess {
public:
    // Where a failed start went wrong, for the log line.
    enum class Stage { pipe, start };
    struct Failure {
        Stage stage;
        Error error;
    };

    // input may be invalid (no body). The environment block must end with
    // an empty string; the process keeps it alive until finish().
    static std::unique_ptr<CgiProcess> start_library(MainFunction main, platform::UniqueFd input,
                                                     std::vector<char> environment, Failure& failure);
    static std::unique_ptr<CgiProcess> start_program(const std::string& path, platform::UniqueFd input,
                                                     std::vector<char> environment, Failure& failure);

    CgiProcess(const CgiProcess&) = delete;
    CgiProcess& operator=(const CgiProcess&) = delete;
    // Finishes the CGI if finish() was not called.
    ~CgiProcess();

    // The read end of the output pipe (non-blocking), or -1 once it ended.
    int output_fd() const { return m_output.get(); }
    bool output_open() const { return m_output.valid(); }

    enum class ReadResult { data, would_block, ended };
    // Appends what the pipe holds now to out, up to limit bytes in out.
    // A failed read counts as the end: the pipe is closed.
    ReadResult read_available(std::string& out, std::size_t limit);
    // Reads and discards until the writer has closed, then closes the pipe.
    void flush();
    // Ends a program that is taking too long (with its process group). A
    // library's thread cannot be stopped: its output is flushed instead.
    void kill();
    // Flushes the pipe and waits for the thread or process without a time
    // limit. False when waiting failed.
    bool finish();

private:
    CgiProcess() = default;

    platform::UniqueFd m_output;
    std::vector<char> m_environment;
    bool m_thread_running = false;
    pthread_t m_thread{};
    pid_t m_pid = -1;
};

}  // namespace corvane::webserver
