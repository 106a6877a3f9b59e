// A file of the store written from the first byte on through a buffer:
// either under its name from the start (compose files, uploads), or
// without a name until it is whole (a message the receiver stores), so that
// a crash in the middle leaves nothing anyone would take for a message; and
// the copy of a message file.
//
// Nothing here follows a path it was not given; callers check names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/files.h"
#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::store {

// Copies a regular file over `to`, which is replaced whole or not at all.
Result<void> copy_file(const std::string& from, const std::string& to);

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(OutputFile&&) noexcept = default;
    OutputFile& operator=(OutputFile&&) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates (or truncates) path for writing, mode 0600.
    static Result<OutputFile> create(const std::string& path);
    // A new file without a name on the file system of dir (mode 0600),
    // named by publish(); hint names it where it needs a hidden name
    // meanwhile.
    static Result<OutputFile> create_unnamed(const std::string& dir, std::string_view hint);

    bool is_open() const { return m_fd.valid() || m_unnamed.is_open(); }
    // The path of a named file.
    const std::string& path() const { return m_path; }
    // A write error is remembered and reported by close() or publish().
    void write(std::string_view bytes);
    // Bytes written so far.
    std::uint64_t position() const { return m_position; }
    // Flushes and closes a named file; fails when any write failed.
    Result<void> close();
    // Flushes an unnamed file and gives it its name. Fails when any write
    // failed (the file is then dropped) or the name cannot be had; with
    // Replace::no and an existing path the error is EEXIST and the file
    // stays open, so the caller may try another name.
    Result<void> publish(const std::string& path, platform::Replace replace);
    // Closes and deletes the file: nothing of it stays on disk.
    void abandon();
    // The named file moved elsewhere by the caller: later errors name that path.
    void renamed_to(std::string path) { m_path = std::move(path); }

private:
    int fd() const { return m_fd.valid() ? m_fd.get() : m_unnamed.fd(); }
    void flush();

    platform::UniqueFd m_fd;              // a named file
    platform::UnpublishedFile m_unnamed;  // or one without a name yet
    std::string m_path;
    std::string m_buffer;
    std::uint64_t m_position = 0;
    Error m_error;
    bool m_failed = false;
};

}  // namespace corvane::store
