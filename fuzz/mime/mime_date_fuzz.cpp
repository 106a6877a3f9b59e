// Fuzzes the date parser: any text gives 0 or a time between 1970 and the
// end of 2038 (so it fits the index's unsigned 32-bit field), the same
// every time.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/store/mime/date_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::int64_t t = corvane::mime::parse_date(input);
    if (t < 0 || t > 2177452799 + 24 * 3600 || t != corvane::mime::parse_date(input))
        std::abort();
    return 0;
}
