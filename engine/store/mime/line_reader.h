// Reads a file line by line, each line bounded: the one reader of stored
// messages, Messages.idx and every other line-based file of the store.
//
// Lines end at LF; the LF and one CR directly before it form the line end
// and are not part of the line (a CR anywhere else is data). A last line
// without LF is still a line. A line longer than the caller's bound is
// either cut there (the rest up to its LF is skipped) or handed out in
// bound-sized pieces, as the caller chooses. The reader knows where in the
// file every line lies, so part records can point into the file, and it can
// continue at any offset. It never holds more than one line and one buffer
// in memory, whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/platform/unique_fd.h"

namespace corvane::mime {

enum class LongLines {
    cut,    // keep the first max_bytes, skip the rest of the line
    split,  // return max_bytes at a time, the rest as further lines
};

class LineReader {
public:
    // nullopt when path is not a regular file that can be read.
    static std::optional<LineReader> open(const std::string& path);
    explicit LineReader(platform::UniqueFd fd);

    // Reads the next line. False at the end of the file or on a read error.
    bool next(std::string& line, std::size_t max_bytes, LongLines mode = LongLines::cut);

    // Offset of the first byte not yet returned (the start of the next line).
    std::uint64_t offset() const { return m_offset; }
    // Continues reading at a byte offset.
    bool seek(std::uint64_t offset);

    // Offset of the first byte of the line next() returned last.
    std::uint64_t line_offset() const { return m_line_offset; }
    // Bytes that line took in the file, its line end included.
    std::uint64_t line_bytes() const { return m_line_bytes; }
    // Its length in the file without the line end, however much was cut.
    std::uint64_t line_length() const { return m_line_length; }

private:
    bool fill();

    platform::UniqueFd m_fd;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::uint64_t m_read_position = 0;  // file offset of the next read
    std::uint64_t m_offset = 0;
    std::uint64_t m_line_offset = 0;
    std::uint64_t m_line_bytes = 0;
    std::uint64_t m_line_length = 0;
};

}  // namespace corvane::mime
