// Languages.ini as a damaged or hostile file: the runtime tables, the
// start-up check (with the file's own texts as template markers) and the
// language choice list.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/cgi/streams.h"
#include "engine/core/templates/languages.h"

using namespace corvane;
using namespace corvane::templates;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view file(reinterpret_cast<const char*>(data), size);

    LanguageTables tables = LanguageTables::parse(file, "de");
    for (int n = -1; n <= language_string_count; ++n) {
        if (tables.string(n).size() > max_language_line)
            __builtin_trap();
    }
    (void)tables.translate("Sign in");

    std::vector<std::string> markers;
    for_each_language_line(file, [&](std::string_view line) { collect_markers(line, markers); });
    LanguageCheck check = check_languages(file, markers, size % 2 == 0);
    if (check.update && check.may_rewrite) {
        // What the check writes, it reads back as complete and in order.
        LanguageCheck again = check_languages(check.new_file, markers, false);
        if (again.update && again.may_rewrite)
            __builtin_trap();
    }

    cgi::StringOutputStream out;
    write_language_options_of(file, out);
    return 0;
}
