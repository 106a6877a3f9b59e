// Reads a stored message file line by line, each line bounded.
//
// Lines end at LF; the LF and any CR directly before it are removed. A line
// longer than the caller's bound is either cut there (the rest up to its LF
// is skipped) or handed out in bound-sized pieces, as the caller chooses.
// The reader knows the byte offset of every line it returns, so part
// records can point into the file. It reads through its own buffer and
// never holds more than one line and one buffer in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace corvane::mime {

enum class LongLines {
    cut,    // keep the first max_bytes, skip the rest of the line
    split,  // return max_bytes at a time, the rest as further lines
};

class LineReader {
public:
    // nullopt when the file cannot be opened for reading.
    static std::optional<LineReader> open(const std::string& path);

    // Reads the next line. False at the end of the file (a last line without
    // LF is still returned).
    bool next(std::string& line, std::size_t max_bytes, LongLines mode = LongLines::cut);

    // Offset of the first byte not yet returned (the start of the next line).
    std::uint64_t offset() const { return m_offset; }
    // Continues reading at a byte offset; false when the file cannot seek.
    bool seek(std::uint64_t offset);

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    explicit LineReader(std::FILE* f);
    bool fill();

    std::unique_ptr<std::FILE, Closer> m_file;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::uint64_t m_offset = 0;
};

}  // namespace corvane::mime
