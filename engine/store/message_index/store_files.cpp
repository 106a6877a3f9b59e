#include "engine/store/message_index/store_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "common/platform/files.h"

namespace corvane::store {

namespace {

constexpr std::size_t buffer_size = 64 * 1024;

}  // namespace

Result<void> remove_directory(const std::string& path)
{
    if (::rmdir(path.c_str()) != 0)
        return os_error("rmdir", path);
    return {};
}

Result<void> copy_file(const std::string& from, const std::string& to)
{
    platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in)
        return os_error("open", from);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Error{EINVAL, "not a regular file: " + from};

    // A dot name: folder listings and index rebuilds skip it while it exists.
    std::string temp = platform::join_path(platform::directory_of(to), "." + platform::file_name_of(to) + ".tmp");
    auto out = OutputFile::create(temp);
    if (!out)
        return out.error();
    std::string buffer(buffer_size, '\0');
    for (;;) {
        ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Error error = os_error("read", from);
            out->abandon();
            return error;
        }
        if (n == 0)
            break;
        out->write(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    if (auto closed = out->close(); !closed) {
        (void)platform::remove_file(temp);
        return closed;
    }
    if (auto renamed = platform::rename_file(temp, to); !renamed) {
        (void)platform::remove_file(temp);
        return renamed;
    }
    return {};
}

// ---- OutputFile --------------------------------------------------------------

OutputFile::~OutputFile()
{
    if (m_fd)
        (void)close();
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : m_fd(std::move(other.m_fd)),
      m_path(std::move(other.m_path)),
      m_buffer(std::move(other.m_buffer)),
      m_position(other.m_position),
      m_error(other.m_error)
{
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd)
            (void)close();
        m_fd = std::move(other.m_fd);
        m_path = std::move(other.m_path);
        m_buffer = std::move(other.m_buffer);
        m_position = other.m_position;
        m_error = other.m_error;
    }
    return *this;
}

Result<OutputFile> OutputFile::create(const std::string& path)
{
    OutputFile file;
    file.m_fd = platform::UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file.m_fd)
        return os_error("open", path);
    file.m_path = path;
    file.m_buffer.reserve(buffer_size);
    return file;
}

void OutputFile::write(std::string_view bytes)
{
    if (!m_fd)
        return;
    m_position += bytes.size();
    if (m_error)
        return;
    if (m_buffer.size() + bytes.size() > buffer_size)
        flush();
    if (bytes.size() >= buffer_size) {
        // A long line goes straight out instead of through the buffer.
        const char* p = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0 && !m_error) {
            ssize_t n = ::write(m_fd.get(), p, left);
            if (n < 0) {
                if (errno != EINTR)
                    m_error = errno;
                continue;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        return;
    }
    m_buffer.append(bytes);
}

void OutputFile::flush()
{
    const char* p = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0 && !m_error) {
        ssize_t n = ::write(m_fd.get(), p, left);
        if (n < 0) {
            if (errno != EINTR)
                m_error = errno;
            continue;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    m_buffer.clear();
}

Result<void> OutputFile::close()
{
    if (!m_fd)
        return Error{EBADF, "not open: " + m_path};
    flush();
    int fd = m_fd.release();
    if (::close(fd) != 0 && !m_error)
        m_error = errno;
    if (m_error)
        return os_error_code(m_error, "write", m_path);
    return {};
}

void OutputFile::abandon()
{
    m_buffer.clear();
    m_fd.reset();
    if (!m_path.empty())
        (void)platform::remove_file(m_path);
}

// ---- LineReader ----------------------------------------------------------------

Result<LineReader> LineReader::open(const std::string& path)
{
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return os_error("open", path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Error{EINVAL, "not a regular file: " + path};
    return LineReader(std::move(fd));
}

bool LineReader::fill()
{
    if (m_eof)
        return false;
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_buffer_offset += m_pos;
        m_pos = 0;
    }
    std::size_t old = m_buffer.size();
    m_buffer.resize(old + buffer_size);
    for (;;) {
        ssize_t n = ::read(m_fd.get(), m_buffer.data() + old, buffer_size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_buffer.resize(old);
            m_eof = true;
            return false;
        }
        m_buffer.resize(old + static_cast<std::size_t>(n));
        return true;
    }
}

bool LineReader::next(std::string& line, std::size_t max_bytes)
{
    line.clear();
    m_line_offset = m_buffer_offset + m_pos;
    m_line_bytes = 0;
    std::uint64_t content = 0;  // raw bytes of the line without its LF
    char last = 0;
    bool any = false;
    for (;;) {
        if (m_pos >= m_buffer.size() && !fill()) {
            if (!any)
                return false;
            break;
        }
        any = true;
        const char* start = m_buffer.data() + m_pos;
        std::size_t avail = m_buffer.size() - m_pos;
        const void* nl = std::memchr(start, '\n', avail);
        std::size_t take = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : avail;
        if (line.size() < max_bytes)
            line.append(start, std::min(take, max_bytes - line.size()));
        if (take > 0)
            last = start[take - 1];
        content += take;
        m_line_bytes += take;
        m_pos += take;
        if (nl) {
            ++m_pos;
            ++m_line_bytes;
            break;
        }
    }
    // The CR of a CR LF belongs to the line end, not to the line.
    m_line_length = content;
    if (last == '\r') {
        --m_line_length;
        if (content == line.size())
            line.pop_back();
    }
    return true;
}

}  // namespace corvane::store
