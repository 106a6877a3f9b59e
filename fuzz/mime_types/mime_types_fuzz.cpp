// MimeTypes.cfg comes from the administrator: any bytes must load without
// harm, and every registration must be found again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/mime_types/mime_type_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    corvane::mime_types::MimeTypeTable table;
    table.add_text(text);
    // Look up every word of the input both ways.
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(" \t\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view word = text.substr(pos, end - pos);
        std::string_view type = table.type_of(word);
        std::string_view extension = table.extension_of(word);
        if (type.empty() || extension.empty())
            __builtin_trap();
        pos = end + 1;
    }
    return 0;
}
