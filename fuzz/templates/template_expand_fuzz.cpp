// Template preparation and expansion: a Languages.ini text and a template,
// separated by a line "====" (without it, the whole input is the template).
#include <cstdint>
#include <string>
#include <string_view>

#include "common/ini/profile.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/expander.h"
#include "engine/core/templates/languages.h"
#include "engine/core/templates/template_store.h"

using namespace corvane;
using namespace corvane::templates;

namespace {

class EchoTags final : public TagProvider {
public:
    void expand_tag(std::string_view tag, cgi::OutputStream& out) override
    {
        if (tag.size() >= max_tag_size)
            __builtin_trap();
        out.write(tag);
    }
};

const char default_languages[] = "[en]\n001=English\n100=Sign in\n[de]\n001=Deutsch\n100=Anmelden\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view languages = default_languages;
    std::string_view raw = input;
    std::size_t split = input.find("\n====\n");
    if (split != std::string_view::npos) {
        languages = input.substr(0, split);
        raw = input.substr(split + 6);
    }

    LanguageTables tables = LanguageTables::parse(languages, "de");
    std::string prepared = prepare_template(raw, tables);

    // No settings file: every condition reads its default.
    static const ini::Profile global("/nonexistent/corvane-fuzz/Corvane.ini");
    EchoTags tags;
    cgi::StringOutputStream out;
    expand(prepared, ExpandContext{out, tags, &global, nullptr});
    expand(prepared, ExpandContext{out, tags, &global, &global});
    return 0;
}
