#include "engine/store/mime/line_reader.h"

#include <algorithm>
#include <cstring>

#include "common/platform/files.h"

namespace corvane::mime {

namespace {
constexpr std::size_t buffer_size = 64 * 1024;
}

std::optional<LineReader> LineReader::open(const std::string& path)
{
    auto file = platform::open_regular_file(path);
    if (!file)
        return std::nullopt;
    return LineReader(std::move(file->fd));
}

LineReader::LineReader(platform::UniqueFd fd) : m_fd(std::move(fd)), m_buffer(new char[buffer_size]) {}

bool LineReader::fill()
{
    m_begin = m_end = 0;
    auto n = platform::read_at(m_fd.get(), m_buffer.get(), buffer_size, m_read_position);
    if (!n || *n == 0)
        return false;
    m_end = *n;
    m_read_position += *n;
    return true;
}

bool LineReader::seek(std::uint64_t offset)
{
    m_begin = m_end = 0;
    m_read_position = offset;
    m_offset = offset;
    return m_fd.valid();
}

bool LineReader::next(std::string& line, std::size_t max_bytes, LongLines mode)
{
    line.clear();
    max_bytes = std::max<std::size_t>(max_bytes, 1);
    m_line_offset = m_offset;
    std::uint64_t content = 0;  // bytes of the line before its LF
    char last = 0;              // the byte before the LF
    bool any = false;
    bool ended = false;
    for (;;) {
        if (m_begin == m_end && !fill())
            break;
        any = true;
        const char* start = m_buffer.get() + m_begin;
        const std::size_t available = m_end - m_begin;
        const void* lf = std::memchr(start, '\n', available);
        const std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : available;
        if (mode == LongLines::split) {
            // The CR of a CR LF is line end, not a byte to split at.
            std::size_t own = (lf && take > 0 && start[take - 1] == '\r') ? take - 1 : take;
            if (line.size() + own > max_bytes) {
                std::size_t room = max_bytes - line.size();
                line.append(start, room);
                m_begin += room;
                m_offset += room;
                m_line_bytes = m_line_length = content + room;
                return true;
            }
        }
        if (line.size() < max_bytes)
            line.append(start, std::min(take, max_bytes - line.size()));
        if (take > 0)
            last = start[take - 1];
        content += take;
        m_begin += take;
        m_offset += take;
        if (lf) {
            ++m_begin;
            ++m_offset;
            ended = true;
            break;
        }
    }
    if (!any)
        return false;
    m_line_bytes = content + (ended ? 1 : 0);
    m_line_length = content;
    if (ended && last == '\r') {
        --m_line_length;
        // A cut line may have stopped before its CR.
        if (line.size() == content)
            line.pop_back();
    }
    return true;
}

}  // namespace corvane::mime
