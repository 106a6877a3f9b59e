// Fuzzes RFC 2047 decoding, alone and through the header list: whatever the
// bytes, the output never holds a byte that would split a stored record,
// stays within a fixed multiple of the input, and a lookup finds what was
// added.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/text/strings.h"
#include "engine/store/mime/encoded_words.h"
#include "engine/store/mime/header_list.h"

namespace {

bool has_record_breakers(std::string_view s)
{
    for (char c : s) {
        if (c == '\0' || c == '\x01' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);

    std::string decoded = corvane::mime::decode_encoded_words(input);
    // A byte decodes to at most one replacement character (3 bytes) or one
    // character of a single-byte charset; a base64 quad to three of them.
    if (has_record_breakers(decoded) || decoded.size() > 3 * size + 3)
        std::abort();
    if (input.find("=?") == std::string_view::npos && decoded.size() != size)
        std::abort();

    corvane::mime::HeaderList list;
    std::size_t from = 0;
    while (from <= size) {
        std::size_t lf = input.find('\n', from);
        std::size_t end = lf == std::string_view::npos ? size : lf;
        list.add_line(input.substr(from, end - from));
        from = end + 1;
    }
    for (const auto& field : list.fields()) {
        if (has_record_breakers(field.value) || field.name.size() > corvane::mime::kMaxHeaderName)
            std::abort();
        const auto* found = list.find(field.name);
        if (!found || !corvane::text::iequals(found->name, field.name))
            std::abort();
    }
    return 0;
}
