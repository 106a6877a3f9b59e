// Form decoding: a query string or body as a stranger may send it.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/field_table.h"
#include "engine/core/cgi/streams.h"

using namespace corvane::cgi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);

    FieldTable table(Environment({"QUERY_STRING=" + std::string(input.substr(0, input.find('\0'))),
                                  "HTTP_COOKIE=" + std::string(input.substr(0, 200))}));
    table.register_multi_value("Number");
    table.register_multi_value("AddrNum");
    table.parse_query_string();
    table.parse_form(input);
    for (const auto& entry : table.entries()) {
        if (entry.name.size() > FieldTable::max_name || entry.name.find('\0') != std::string::npos ||
            entry.value.find('\0') != std::string::npos)
            __builtin_trap();
        if (table.find(entry.name) == nullptr)
            __builtin_trap();
    }
    (void)table.value("View");
    (void)table.missing_or_blank("Body");
    table.set("View", "List");
    table.remove("Number");
    table.remove("View");
    (void)cookie_value(table.variable("HTTP_COOKIE"), "User");

    // Encoders: a URL-encoded value decodes to itself.
    if (decoded_form_text(url_encoded(input)) != input)
        __builtin_trap();
    std::string decoded = decoded_form_text(input);
    if (decoded.size() > input.size())
        __builtin_trap();
    StringOutputStream out;
    escape_html(input, out);
    escape_html_formatted(input, out);
    if (out.str().size() < input.size())
        __builtin_trap();
    return 0;
}
