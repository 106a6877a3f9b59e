#include "common/text/dates.h"

#include <array>

#include "common/text/strings.h"

namespace corvane::text {

int month_number(std::string_view word)
{
    static constexpr std::array<std::string_view, 12> months = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    if (word.size() < 3)
        return 0;
    for (std::size_t m = 0; m < months.size(); ++m) {
        if (iequals(word.substr(0, 3), months[m]))
            return static_cast<int>(m) + 1;
    }
    return 0;
}

int zone_offset(std::string_view word)
{
    if (word.empty())
        return 0;
    std::size_t i = 0;
    bool negative = false;
    if (word[0] == '+' || word[0] == '-') {
        negative = word[0] == '-';
        i = 1;
    }
    if (i < word.size() && word[i] >= '0' && word[i] <= '9') {
        int value = 0;
        for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
            value = value * 10 + (word[i] - '0');
            if (value > 2359)
                return 0;
        }
        if (value % 100 > 59)
            return 0;
        return negative ? -value : value;
    }
    struct Named {
        std::string_view name;
        int offset;
    };
    static constexpr std::array<Named, 8> zones = {Named{"EDT", -400}, {"EST", -500}, {"CDT", -500}, {"CST", -600},
                                                   {"MDT", -600},      {"MST", -700}, {"PDT", -700}, {"PST", -800}};
    for (const auto& zone : zones) {
        if (iequals(word, zone.name))
            return zone.offset;
    }
    return 0;
}

}  // namespace corvane::text
