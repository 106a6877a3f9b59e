#include "webserver/output_queue.h"

#include <algorithm>

#include "common/platform/sockets.h"

namespace corvane::webserver {

namespace fs = corvane::platform;

namespace {

// One sendfile call moves at most this much, so that one fast client does
// not keep the loop from the others for long.
constexpr std::size_t file_chunk = 1u << 20;

}  // namespace

void OutputQueue::append(std::string bytes)
{
    if (bytes.empty())
        return;
    m_buffered += bytes.size();
    m_pieces.push_back(std::move(bytes));
}

void OutputQueue::set_file(fs::UniqueFd file, std::uint64_t offset, std::uint64_t length)
{
    m_file = std::move(file);
    m_file_offset = offset;
    m_file_left = m_file ? length : 0;
    if (m_file_left == 0)
        m_file.reset();
}

void OutputQueue::clear()
{
    m_pieces.clear();
    m_front_sent = 0;
    m_buffered = 0;
    m_file.reset();
    m_file_left = 0;
}

void OutputQueue::consume(std::size_t bytes)
{
    m_buffered -= bytes;
    while (bytes > 0) {
        std::size_t left = m_pieces.front().size() - m_front_sent;
        if (bytes < left) {
            m_front_sent += bytes;
            return;
        }
        bytes -= left;
        m_pieces.pop_front();
        m_front_sent = 0;
    }
}

fs::IoResult OutputQueue::send(int socket)
{
    fs::IoResult total{fs::IoStatus::ok, 0, 0};
    while (!empty()) {
        fs::IoResult r;
        if (!m_pieces.empty()) {
            std::string_view first = std::string_view(m_pieces.front()).substr(m_front_sent);
            bool more = m_pieces.size() > 2 || m_file_left > 0;
            if (m_pieces.size() >= 2)
                r = fs::send_two(socket, first, m_pieces[1], more);
            else if (more)
                r = fs::send_two(socket, first, {}, true);
            else
                r = fs::send_some(socket, first);
            if (r.status == fs::IoStatus::ok)
                consume(r.bytes);
        } else {
            std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(m_file_left, file_chunk));
            r = fs::send_file_some(socket, m_file.get(), m_file_offset, count);
            if (r.status == fs::IoStatus::ok) {
                m_file_offset += r.bytes;
                m_file_left -= r.bytes;
                if (m_file_left == 0)
                    m_file.reset();
            }
        }
        if (r.status != fs::IoStatus::ok) {
            r.bytes = total.bytes;
            return r;
        }
        total.bytes += r.bytes;
    }
    return total;
}

}  // namespace corvane::webserver
