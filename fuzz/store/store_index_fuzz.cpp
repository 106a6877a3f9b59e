// The Messages.idx and part list readers: whatever the bytes, what is read
// and written back reads back the same (one round is a fixed point), and
// never a record that would lead outside its folder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/platform/files.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/message_index/part_list_file.h"

using namespace corvane;

namespace {

std::string round_trip(std::string_view text, std::size_t* count)
{
    store::IndexParser parser;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        parser.line(text.substr(pos, end - pos));
        pos = end + 1;
    }
    for (const auto& entry : parser.entries()) {
        if (!platform::is_plain_name(entry->file_name) ||
            (!entry->folder.empty() && !store::is_safe_folder_name(entry->folder)))
            abort();
    }
    *count = parser.entries().size();
    return store::format_index(parser.counter(), parser.entries());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t first = 0, second = 0;
    std::string once = round_trip(input, &first);
    std::string twice = round_trip(once, &second);
    if (first != second || once != twice)
        abort();

    store::PartList parts = store::parse_part_list(input);
    std::string written = store::format_part_list(parts);
    if (store::format_part_list(store::parse_part_list(written)) != written)
        abort();
    return 0;
}
