// A file read from the first byte on, in blocks of the caller's size.
//
// For data that is streamed rather than held: attachments encoded as they
// are read, message files handed to a server. Reads resume after
// interrupted calls; a read error ends the file (error() tells).
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

class InputFile {
public:
    InputFile() = default;
    static Result<InputFile> open(const std::string& path);

    bool is_open() const { return m_fd.valid(); }
    // Fills buffer as far as the file allows; returns the bytes read, fewer
    // than size only at the end of the file (or after an error).
    std::size_t read(char* buffer, std::size_t size);
    // Appends up to size bytes to out; false when nothing was left.
    bool read_into(std::string& out, std::size_t size);
    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }
    void close() { m_fd.reset(); }

private:
    explicit InputFile(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd;
    int m_error = 0;
};

}  // namespace corvane::platform
