// The access log: one line per answered request in the common log format,
// "peer - user [time] "request line" status bytes", written and flushed at
// once. The file is moved to ".old" by the 5-second tick when it grows past
// the size limit; one lock guards writing and moving, since CGI threads never
// write here but the tick and the network thread may meet.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "common/platform/unique_fd.h"

namespace corvane::webserver {

class AccessLog {
public:
    AccessLog() = default;
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    // Opens path for appending. When it cannot be opened no lines are
    // written (and false is returned).
    bool open(std::string path);
    void close();
    bool is_open() const;

    void write(std::string_view line);
    // When max_kb is above 0 and the file has reached that many kilobytes:
    // replaces the ".old" file by it and begins a new one. True when moved.
    bool rotate_if_larger(std::int64_t max_kb);

    // The ".old" name of a log file: its extension replaced.
    static std::string aside_path(const std::string& path);

private:
    mutable std::mutex m_mutex;
    platform::UniqueFd m_fd;
    std::string m_path;
};

// One line: peer address, user name ("-" when none), the request time in
// local time with its offset from UTC, the request line ("-" when none), the
// status and the number of bytes sent after the server's own headers.
// Control characters from the request become blanks, so a request cannot
// forge lines of its own.
std::string format_access_line(std::string_view peer, std::string_view user, std::time_t when,
                               std::string_view request_line, int status, std::int64_t bytes);

}  // namespace corvane::webserver
