// A message format as an administrator or translator may write it: any
// bytes either format within the bounds the conversions allow or are
// refused, and never read an argument that is not there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/dispatch/message_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view format(reinterpret_cast<const char*>(data), size);
    const std::string_view box = "Mailbox";
    auto text = corvane::dispatch::format_message(format, {std::int64_t{-7}, std::int64_t{1234567}, box});
    if (text) {
        // At most three conversions, each at most 999 wide, plus the text itself.
        if (text->size() > size + 3 * 1000)
            __builtin_trap();
    }
    (void)corvane::dispatch::format_message(format, {});
    return 0;
}
