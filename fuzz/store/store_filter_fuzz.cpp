// The filter rule parser: any value parses or is refused; a rule written
// back reads the same when its fields can be written unambiguously.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/store/filters/filter_set.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view value(reinterpret_cast<const char*>(data), size);
    auto rule = filters::parse_filter(value);
    if (!rule)
        return 0;
    filters::HeaderLookup lookup = [&](std::string_view) { return value; };
    (void)filters::matches(*rule, lookup, value);

    auto plain = [](const std::string& s) {
        if (!s.empty() && (s.front() == ' ' || s.back() == ' '))
            return false;
        for (unsigned char c : s) {
            if (c == '"' || c < 0x20)
                return false;
        }
        return true;
    };
    auto letter = [](char c) { return c > ' ' && c != '"'; };
    if (plain(rule->text) && plain(rule->folder) && letter(rule->header) && letter(rule->match)) {
        auto again = filters::parse_filter(filters::format_filter(*rule));
        if (!again || !(*again == *rule))
            abort();
    }
    return 0;
}
