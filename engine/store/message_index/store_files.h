// The message file as the receiver writes it: through a buffer, appearing
// under its name only when it is whole.
//
// Nothing here follows a path it was not given; callers check names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/files.h"
#include "common/platform/result.h"

namespace corvane::store {

// A file written from the first byte on, through a buffer, without a name
// until publish() gives it one: a crash in the middle leaves nothing that
// anyone would take for a message.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() = default;
    OutputFile(OutputFile&&) noexcept = default;
    OutputFile& operator=(OutputFile&&) noexcept = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A new file on the file system of dir (mode 0600); hint names it where
    // it needs a hidden name meanwhile.
    static Result<OutputFile> create(const std::string& dir, std::string_view hint);

    bool is_open() const { return m_file.is_open(); }
    // A write error is remembered and reported by publish().
    void write(std::string_view bytes);
    // Bytes written so far.
    std::uint64_t position() const { return m_position; }
    // Flushes the buffer and gives the file its name. Fails when any write
    // failed (the file is then dropped) or when the name cannot be had;
    // with Replace::no and an existing path the error is EEXIST and the
    // file stays open, so the caller may try another name.
    Result<void> publish(const std::string& path, platform::Replace replace);
    // Drops the file: nothing of it stays on disk.
    void abandon();

private:
    void flush();

    platform::UnpublishedFile m_file;
    std::string m_buffer;
    std::uint64_t m_position = 0;
    Error m_error;
    bool m_failed = false;
};

}  // namespace corvane::store
