// The request's two streams: the body that the host hands over and the
// response that handlers and the template engine write.
//
// InputStream reads the request body from its descriptor and never more than
// the length it was given (CONTENT_LENGTH): fewer bytes when the peer
// delivered fewer, none when there is no body. OutputStream buffers what is
// written and hands it to its sink in large pieces; FdOutputStream's sink is
// the response descriptor, which it closes exactly once, and a response the
// peer stopped reading (a closed pipe) fails quietly instead of raising
// SIGPIPE in the host. StringOutputStream collects the bytes in memory (for
// pages built into text, and for tests).
//
// Neither stream is shared between threads; neither parses anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/unique_fd.h"

namespace corvane::cgi {

class InputStream {
public:
    // No body: every read gives nothing.
    InputStream() = default;
    // The body on fd (which may be invalid, -1), at most length bytes.
    InputStream(platform::UniqueFd fd, std::uint64_t length);
    InputStream(InputStream&&) noexcept = default;
    InputStream& operator=(InputStream&&) noexcept = default;

    // Reads up to size bytes, never past the body's length. 0 at the end of
    // the body, at the end of what the peer delivered, or after an error.
    std::size_t read(char* buffer, std::size_t size);
    // Reads until max_bytes are read or the body ends.
    std::string read_up_to(std::size_t max_bytes);

    // Bytes of the body not yet read (by the length given, not by what the
    // peer may still deliver).
    std::uint64_t remaining() const { return m_remaining; }
    // True once a read ended early: end of file or a read error before the
    // length was reached.
    bool short_read() const { return m_short; }
    bool is_open() const { return m_fd.valid(); }
    void close() { m_fd.reset(); }

private:
    platform::UniqueFd m_fd;
    std::uint64_t m_remaining = 0;
    bool m_short = false;
};

class OutputStream {
public:
    static constexpr std::size_t buffer_size = 16 * 1024;

    OutputStream();
    virtual ~OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    void write(std::string_view bytes)
    {
        if (bytes.size() <= buffer_size - m_buffer.size())
            m_buffer.append(bytes);
        else
            write_slow(bytes);
    }
    void put(char c)
    {
        if (m_buffer.size() >= buffer_size)
            flush();
        m_buffer.push_back(c);
    }
    void write_format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Hands the buffered bytes to the sink.
    void flush();
    // Flushes and closes the sink; later writes are dropped. A second call
    // does nothing.
    void close();
    bool is_open() const { return m_open; }
    // True once the sink refused bytes (the peer went away); everything
    // written after that is dropped.
    bool failed() const { return m_failed; }
    // Bytes accepted by write() and put() so far, delivered or not.
    std::uint64_t bytes_written() const { return m_total + m_buffer.size(); }

protected:
    // Delivers bytes; false when they cannot be delivered.
    virtual bool sink(std::string_view bytes) = 0;
    virtual void close_sink() {}
    // Derived destructors call this so their sink still exists while the
    // last bytes go out.
    void finish() { close(); }

private:
    void write_slow(std::string_view bytes);

    std::string m_buffer;
    std::uint64_t m_total = 0;
    bool m_open = true;
    bool m_failed = false;
};

class FdOutputStream final : public OutputStream {
public:
    explicit FdOutputStream(platform::UniqueFd fd);
    ~FdOutputStream() override;

protected:
    bool sink(std::string_view bytes) override;
    void close_sink() override;

private:
    platform::UniqueFd m_fd;
};

class StringOutputStream final : public OutputStream {
public:
    StringOutputStream() = default;
    ~StringOutputStream() override;

    // Everything written so far.
    const std::string& str();
    std::string take();

protected:
    bool sink(std::string_view bytes) override;

private:
    std::string m_text;
};

}  // namespace corvane::cgi
