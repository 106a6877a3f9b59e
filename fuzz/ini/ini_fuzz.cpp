// Fuzzes the INI parser and the edits made on what it parsed: whatever the
// bytes, parsing, every lookup and a write-back must neither crash nor break
// the rule that a value written reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/ini/document.h"
#include "common/text/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    auto doc = corvane::ini::Document::parse(input);
    for (const auto& section : doc.sections()) {
        for (const auto& key : doc.keys(section)) {
            if (!doc.get(section, key))
                std::abort();  // a listed key must be readable
        }
    }
    // Edit with names taken from the input itself.
    std::string_view section = input.substr(0, size / 3);
    std::string_view key = input.substr(size / 3, size / 3);
    std::string_view value = input.substr(2 * (size / 3));
    if (doc.set(section, key, value) && !corvane::text::has_controls(section) && !corvane::text::has_controls(key)) {
        auto again = corvane::ini::Document::parse(doc.serialize());
        auto got = again.get(section, key);
        if (!got || *got != corvane::text::without_controls(value))
            std::abort();
    }
    doc.remove_key(section, key);
    doc.remove_section(section);
    (void)doc.serialize();
    return 0;
}
