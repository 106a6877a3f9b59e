#include "engine/store/message_index/store_files.h"

#include <cerrno>

namespace corvane::store {

namespace {

constexpr std::size_t buffer_size = 64 * 1024;

}  // namespace

Result<OutputFile> OutputFile::create(const std::string& dir, std::string_view hint)
{
    auto file = platform::UnpublishedFile::create(dir, hint, 0600);
    if (!file)
        return file.error();
    OutputFile out;
    out.m_file = std::move(*file);
    out.m_buffer.reserve(buffer_size);
    return out;
}

void OutputFile::write(std::string_view bytes)
{
    if (!m_file.is_open())
        return;
    m_position += bytes.size();
    if (m_failed)
        return;
    if (m_buffer.size() + bytes.size() > buffer_size)
        flush();
    if (bytes.size() >= buffer_size) {
        // A long line goes straight out instead of through the buffer.
        if (auto written = platform::write_all(m_file.fd(), bytes); !written) {
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
        if (auto written = platform::write_all(m_file.fd(), m_buffer); !written) {
            m_failed = true;
            m_error = written.error();
        }
    }
    m_buffer.clear();
}

Result<void> OutputFile::publish(const std::string& path, platform::Replace replace)
{
    if (!m_file.is_open())
        return Error{EBADF, "not open: " + path};
    flush();
    if (m_failed) {
        m_file.abandon();
        return Error{m_error.code, path + ": " + m_error.text};
    }
    return m_file.publish(path, replace);
}

void OutputFile::abandon()
{
    m_buffer.clear();
    m_file.abandon();
}

}  // namespace corvane::store
