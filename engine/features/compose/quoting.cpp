#include "engine/features/compose/quoting.h"

#include <vector>

namespace corvane::compose {
namespace {

bool is_continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

void quote_line(std::string_view line, std::string_view prefix, int width, std::string& out)
{
    std::size_t prefix_chars = 0;
    for (char c : prefix)
        prefix_chars += is_continuation(c) ? 0 : 1;
    const int room_signed = width - 1 - static_cast<int>(prefix_chars);
    const std::size_t room = room_signed < 1 ? 1 : static_cast<std::size_t>(room_signed);

    // Byte offset of each character of the line, and its end.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!is_continuation(line[i]))
            starts.push_back(i);
    }
    starts.push_back(line.size());
    const std::size_t chars = starts.size() - 1;

    auto emit = [&](std::size_t from_char, std::size_t to_char) {
        out.append(prefix);
        out.append(line.substr(starts[from_char], starts[to_char] - starts[from_char]));
        out += '\n';
    };
    if (chars <= room) {
        emit(0, chars);
        return;
    }
    std::size_t at = 0;
    while (chars - at > room) {
        std::size_t blank = 0;
        for (std::size_t k = room; k >= 1; --k) {
            if (line[starts[at + k]] == ' ') {
                blank = k;
                break;
            }
        }
        if (blank) {
            emit(at, at + blank);
            at += blank + 1;
        } else {
            emit(at, at + room);
            at += room;
        }
    }
    if (at < chars)
        emit(at, chars);
}

}  // namespace corvane::compose
