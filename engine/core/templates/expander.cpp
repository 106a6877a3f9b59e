#include "engine/core/templates/expander.h"

#include <algorithm>
#include <array>

#include "common/ini/profile.h"
#include "engine/core/cgi/streams.h"

namespace corvane::templates {

bool evaluate_condition(std::string_view condition, const ini::Profile* global, const ini::Profile* user)
{
    bool negate = false;
    if (!condition.empty() && condition.front() == '!') {
        negate = true;
        condition.remove_prefix(1);
    }
    bool result = false;
    if (std::count(condition.begin(), condition.end(), ':') == 2) {
        std::size_t first = condition.find(':');
        std::size_t second = condition.find(':', first + 1);
        std::string_view source = condition.substr(0, first);
        std::string_view section = condition.substr(first + 1, second - first - 1);
        std::string_view key = condition.substr(second + 1);
        // Tag text is upper case by now; settings files ignore case.
        const ini::Profile* profile = source == "SYS" ? global : source == "USR" ? user : nullptr;
        if (profile)
            result = profile->yes_no(section, key, false);
    }
    return negate ? !result : result;
}

void expand(std::string_view text, const ExpandContext& context)
{
    cgi::OutputStream& out = context.out;
    bool on = true;
    std::array<bool, max_open_conditions> saved{};
    int open_conditions = 0;

    std::size_t pos = 0;
    for (;;) {
        std::size_t open = text.find("<$", pos);
        std::size_t close = open == std::string_view::npos ? open : text.find("$>", open + 2);
        if (close == std::string_view::npos) {
            if (on)
                out.write(text.substr(pos));
            return;
        }
        if (on)
            out.write(text.substr(pos, open - pos));
        std::string_view tag = text.substr(open + 2, close - open - 2);
        pos = close + 2;

        if (tag.size() >= max_tag_size)
            continue;
        if (open_conditions < max_open_conditions && tag.substr(0, 3) == "IF ") {
            saved[static_cast<std::size_t>(open_conditions++)] = on;
            if (on)
                on = evaluate_condition(tag.substr(3), context.global, context.user);
            continue;
        }
        if (open_conditions > 0 && tag == "ENDIF") {
            on = saved[static_cast<std::size_t>(--open_conditions)];
            continue;
        }
        if (open_conditions > 0 && tag == "ELSE") {
            if (saved[static_cast<std::size_t>(open_conditions - 1)])
                on = !on;
            continue;
        }
        if (on)
            context.tags.expand_tag(tag, out);
    }
}

}  // namespace corvane::templates
