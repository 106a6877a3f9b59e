// Fuzzes boundary extraction and the part-record parameter helpers: every
// field stays within 79 bytes and free of record-splitting bytes, and a
// boundary is "--" plus something non-empty taken from the input.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/store/mime/parameters.h"

namespace {

void check_field(const std::string& field)
{
    if (field.size() > corvane::mime::kMaxPartField)
        std::abort();
    for (char c : field) {
        if (c == '\0' || c == '\x01' || c == '\r' || c == '\n')
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvane::mime;
    std::string_view input(reinterpret_cast<const char*>(data), size);

    if (auto boundary = boundary_of(input)) {
        // RFC 2231 percent-decoding and charset conversion may grow it by at
        // most the replacement characters of a conversion.
        if (boundary->size() <= 2 || !boundary->starts_with("--") || boundary->size() > 3 * size + 2)
            std::abort();
    }
    check_field(content_type_of(input));
    check_field(file_name_of(input, "name"));
    check_field(file_name_of(input, "filename"));
    check_field(content_id_of(input));
    check_field(transfer_encoding_of(input));
    check_field(charset_of(input));
    if (auto value = parameter_of(input, "x"); value && value->size() > 3 * size)
        std::abort();
    return 0;
}
