// Non-blocking reads and writes on any descriptor (pipes, files, sockets),
// one system call each, with the outcome sorted into what a caller of an
// event loop must tell apart: bytes moved, nothing now, end of stream, or a
// failure with its errno value. Interrupted calls are repeated. Also the
// files a log appends to.
//
// What it does not do: loop until everything is moved (write_all in
// files.h does that for blocking descriptors), or wait for readiness (the
// poller and the socket waits do).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

enum class IoStatus {
    ok,           // bytes moved (bytes > 0)
    would_block,  // nothing now; wait for readiness
    closed,       // the writer closed its end (reads only)
    failed,       // error holds the errno value
};

struct IoResult {
    IoStatus status = IoStatus::ok;
    std::size_t bytes = 0;
    int error = 0;
};

// One read() of at most room bytes.
IoResult read_some(int fd, char* buffer, std::size_t room);
// One write() of as much of data as the descriptor takes now.
IoResult write_some(int fd, std::string_view data);

// A file opened for appending, created with mode when missing (logs: each
// write lands at the end, whoever else appends).
Result<UniqueFd> open_for_appending(const std::string& path, unsigned mode);
// The size of an open file, or nullopt when it cannot be examined.
std::optional<std::uint64_t> size_of(int fd);

}  // namespace corvane::platform
