#include "engine/store/message_index/store_files.h"

#include <cerrno>

namespace corvane::store {

namespace {

constexpr std::size_t buffer_size = 64 * 1024;

}  // namespace

Result<void> copy_file(const std::string& from, const std::string& to)
{
    return platform::copy_file(from, to, platform::Replace::yes, 0600);
}

OutputFile::~OutputFile()
{
    if (m_fd)
        (void)close();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd)
            (void)close();
        m_fd = std::move(other.m_fd);
        m_unnamed = std::move(other.m_unnamed);
        m_path = std::move(other.m_path);
        m_buffer = std::move(other.m_buffer);
        m_position = other.m_position;
        m_error = std::move(other.m_error);
        m_failed = other.m_failed;
    }
    return *this;
}

Result<OutputFile> OutputFile::create(const std::string& path)
{
    auto fd = platform::create_file(path, 0600);
    if (!fd)
        return fd.error();
    OutputFile out;
    out.m_fd = std::move(*fd);
    out.m_path = path;
    out.m_buffer.reserve(buffer_size);
    return out;
}

Result<OutputFile> OutputFile::create_unnamed(const std::string& dir, std::string_view hint)
{
    auto file = platform::UnpublishedFile::create(dir, hint, 0600);
    if (!file)
        return file.error();
    OutputFile out;
    out.m_unnamed = std::move(*file);
    out.m_buffer.reserve(buffer_size);
    return out;
}

void OutputFile::write(std::string_view bytes)
{
    if (!is_open())
        return;
    m_position += bytes.size();
    if (m_failed)
        return;
    if (m_buffer.size() + bytes.size() > buffer_size)
        flush();
    if (bytes.size() >= buffer_size) {
        // A long line goes straight out instead of through the buffer.
        if (auto written = platform::write_all(fd(), bytes); !written) {
            m_failed = true;
            m_error = written.error();
        }
        return;
    }
    m_buffer.append(bytes);
}

void OutputFile::flush()
{
    if (!m_failed && !m_buffer.empty()) {
        if (auto written = platform::write_all(fd(), m_buffer); !written) {
            m_failed = true;
            m_error = written.error();
        }
    }
    m_buffer.clear();
}

Result<void> OutputFile::close()
{
    if (!m_fd)
        return Error{EBADF, "not open: " + m_path};
    flush();
    auto closed = platform::close_file(m_fd);
    if (m_failed)
        return Error{m_error.code, m_path + ": " + m_error.text};
    if (!closed)
        return Error{closed.error().code, m_path + ": " + closed.error().text};
    return {};
}

Result<void> OutputFile::publish(const std::string& path, platform::Replace replace)
{
    if (!m_unnamed.is_open())
        return Error{EBADF, "not open: " + path};
    flush();
    if (m_failed) {
        m_unnamed.abandon();
        return Error{m_error.code, path + ": " + m_error.text};
    }
    return m_unnamed.publish(path, replace);
}

void OutputFile::abandon()
{
    m_buffer.clear();
    m_unnamed.abandon();
    if (m_fd) {
        m_fd.reset();
        if (!m_path.empty())
            (void)platform::remove_file(m_path);
    }
}

}  // namespace corvane::store
