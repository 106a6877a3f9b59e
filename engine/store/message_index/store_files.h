// The file operations of the message store that the platform layer does not
// offer: streaming a message file out line by line, reading one back in
// bounded lines, copying a message, removing an empty folder directory.
//
// Nothing here follows a path it was not given; callers check names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::store {

// rmdir: fails when the directory is not empty.
Result<void> remove_directory(const std::string& path);
// Copies a regular file over to (replacing it atomically).
Result<void> copy_file(const std::string& from, const std::string& to);

// A file written from the first byte on, through a buffer.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(OutputFile&&) noexcept;
    OutputFile& operator=(OutputFile&&) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates (or truncates) path for writing, mode 0600.
    static Result<OutputFile> create(const std::string& path);

    bool is_open() const { return m_fd.valid(); }
    const std::string& path() const { return m_path; }
    // A write error is remembered and reported by close().
    void write(std::string_view bytes);
    // Bytes written so far.
    std::uint64_t position() const { return m_position; }
    // Flushes and closes; fails when any write failed.
    Result<void> close();
    // Closes and deletes the file.
    void abandon();
    // The file moved elsewhere by the caller: later errors name that path.
    void renamed_to(std::string path) { m_path = std::move(path); }

private:
    void flush();

    platform::UniqueFd m_fd;
    std::string m_path;
    std::string m_buffer;
    std::uint64_t m_position = 0;
    int m_error = 0;
};

// Reads a file line by line. Lines end at LF; a CR before it is dropped.
// A line longer than the limit is cut to it and the rest of it skipped, so
// memory stays bounded whatever the file holds.
class LineReader {
public:
    static Result<LineReader> open(const std::string& path);
    explicit LineReader(platform::UniqueFd fd) : m_fd(std::move(fd)) {}

    // False at the end of the file (or on a read error).
    bool next(std::string& line, std::size_t max_bytes);
    // File offset of the first byte of the line next() returned last.
    std::uint64_t line_offset() const { return m_line_offset; }
    // Raw bytes the last line took in the file, its line end included.
    std::uint64_t line_bytes() const { return m_line_bytes; }
    // Length of the last line in the file, uncut, without its line end.
    std::uint64_t line_length() const { return m_line_length; }

private:
    bool fill();

    platform::UniqueFd m_fd;
    std::string m_buffer;
    std::size_t m_pos = 0;
    std::uint64_t m_buffer_offset = 0;  // file offset of m_buffer[0]
    std::uint64_t m_line_offset = 0;
    std::uint64_t m_line_bytes = 0;
    std::uint64_t m_line_length = 0;
    bool m_eof = false;
};

}  // namespace corvane::store
