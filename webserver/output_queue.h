// What a connection still has to send: byte pieces the queue owns, then
// optionally the rest of an open file. Sending puts as much as the socket
// takes into as few system calls as it can: two pieces (a header block and
// the start of a body) go in one call, a file goes from the page cache
// straight to the socket.
//
// The queue owns everything it holds, so a piece stays valid however long
// the client takes to read it. What it does not do: decide when to send
// (the connection does, on write readiness), or read CGI output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "common/platform/io.h"
#include "common/platform/unique_fd.h"

namespace corvane::webserver {

class OutputQueue {
public:
    void append(std::string bytes);
    // The rest of the response is length bytes of file from offset.
    void set_file(platform::UniqueFd file, std::uint64_t offset, std::uint64_t length);
    void clear();

    bool empty() const { return m_pieces.empty() && m_file_left == 0; }
    // Bytes held in memory (the file part not counted).
    std::size_t buffered() const { return m_buffered; }

    // Sends until everything is gone or the socket would block. The result
    // counts the bytes sent by this call; its status is ok when the queue
    // is empty, would_block when the socket is full, failed on an error.
    platform::IoResult send(int socket);

private:
    void consume(std::size_t bytes);

    std::deque<std::string> m_pieces;
    std::size_t m_front_sent = 0;  // bytes of m_pieces.front() already sent
    std::size_t m_buffered = 0;
    platform::UniqueFd m_file;
    std::uint64_t m_file_offset = 0;
    std::uint64_t m_file_left = 0;
};

}  // namespace corvane::webserver
