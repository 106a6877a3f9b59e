#include "engine/store/mime/line_reader.h"

#include <cstring>

namespace corvane::mime {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}

std::optional<LineReader> LineReader::open(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f)
        return std::nullopt;
    return LineReader(f);
}

LineReader::LineReader(std::FILE* f) : m_file(f), m_buffer(new char[kBufferSize]) {}

bool LineReader::fill()
{
    m_begin = 0;
    m_end = std::fread(m_buffer.get(), 1, kBufferSize, m_file.get());
    return m_end > 0;
}

bool LineReader::seek(std::uint64_t offset)
{
    if (std::fseek(m_file.get(), static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    m_begin = m_end = 0;
    m_offset = offset;
    return true;
}

bool LineReader::next(std::string& line, std::size_t max_bytes, LongLines mode)
{
    line.clear();
    if (max_bytes == 0)
        max_bytes = 1;
    bool any = false;
    bool cut = false;
    while (true) {
        if (m_begin == m_end && !fill())
            break;
        any = true;
        const char* start = m_buffer.get() + m_begin;
        std::size_t available = m_end - m_begin;
        const void* lf = std::memchr(start, '\n', available);
        std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) : available;

        if (mode == LongLines::split && line.size() + take > max_bytes) {
            std::size_t room = max_bytes - line.size();
            line.append(start, room);
            m_begin += room;
            m_offset += room;
            break;
        }
        if (!cut) {
            std::size_t room = max_bytes - line.size();
            if (take > room) {
                line.append(start, room);
                cut = true;
            } else {
                line.append(start, take);
            }
        }
        m_begin += take;
        m_offset += take;
        if (lf) {
            ++m_begin;
            ++m_offset;
            break;
        }
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return any;
}

}  // namespace corvane::mime
