#include "engine/core/cgi/streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <ctime>

#include "common/platform/io.h"
#include "common/platform/sigpipe.h"
#include "common/text/strings.h"

namespace corvane::cgi {

// ---- InputStream -------------------------------------------------------------

InputStream::InputStream(platform::UniqueFd fd, std::uint64_t length)
    : m_fd(std::move(fd)), m_remaining(m_fd.valid() ? length : 0)
{
}

std::size_t InputStream::read(char* buffer, std::size_t size)
{
    if (!m_fd.valid() || m_remaining == 0 || size == 0)
        return 0;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, m_remaining));
    platform::IoResult got = platform::read_some(m_fd.get(), buffer, want);
    if (got.status != platform::IoStatus::ok) {
        // The peer delivered less than it announced (or the read failed):
        // the body ends here.
        m_short = true;
        m_remaining = 0;
        return 0;
    }
    m_remaining -= got.bytes;
    return got.bytes;
}

std::string InputStream::read_up_to(std::size_t max_bytes)
{
    std::string data;
    std::uint64_t expected = std::min<std::uint64_t>(max_bytes, m_remaining);
    // Announced lengths are not trusted for the allocation: grow with what
    // actually arrives beyond the first megabyte.
    data.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expected, 1u << 20)));
    char chunk[65536];
    while (data.size() < max_bytes) {
        std::size_t n = read(chunk, std::min(sizeof chunk, max_bytes - data.size()));
        if (n == 0)
            break;
        data.append(chunk, n);
    }
    return data;
}

// ---- OutputStream ------------------------------------------------------------

OutputStream::OutputStream()
{
    m_buffer.reserve(buffer_size);
}

void OutputStream::write_slow(std::string_view bytes)
{
    flush();
    if (bytes.size() >= buffer_size) {
        // Large pieces go straight to the sink instead of through the buffer.
        if (m_open && !m_failed) {
            if (!sink(bytes))
                m_failed = true;
        }
        m_total += bytes.size();
        return;
    }
    m_buffer.append(bytes);
}

void OutputStream::write_format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = text::vformat(format, args);
    va_end(args);
    write(text);
}

void OutputStream::flush()
{
    if (m_buffer.empty())
        return;
    if (m_open && !m_failed) {
        if (!sink(m_buffer))
            m_failed = true;
    }
    m_total += m_buffer.size();
    m_buffer.clear();
}

void OutputStream::close()
{
    if (!m_open)
        return;
    flush();
    m_open = false;
    close_sink();
}

// ---- FdOutputStream ----------------------------------------------------------

FdOutputStream::FdOutputStream(platform::UniqueFd fd) : m_fd(std::move(fd)) {}

FdOutputStream::~FdOutputStream()
{
    finish();
}

bool FdOutputStream::sink(std::string_view bytes)
{
    // The host's client may have gone: that fails the stream, it must not
    // end the host with SIGPIPE.
    return m_fd.valid() && platform::write_all_without_sigpipe(m_fd.get(), bytes).ok();
}

void FdOutputStream::close_sink()
{
    m_fd.reset();
}

// ---- StringOutputStream ------------------------------------------------------

StringOutputStream::~StringOutputStream()
{
    finish();
}

const std::string& StringOutputStream::str()
{
    flush();
    return m_text;
}

std::string StringOutputStream::take()
{
    flush();
    return std::exchange(m_text, std::string());
}

bool StringOutputStream::sink(std::string_view bytes)
{
    m_text.append(bytes);
    return true;
}

}  // namespace corvane::cgi
