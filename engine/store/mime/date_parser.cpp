#include "engine/store/mime/date_parser.h"

#include "common/text/dates.h"
#include "common/text/strings.h"

namespace corvane::mime {

namespace {

constexpr std::size_t kMaxZoneWord = 8;
constexpr int kMaxYearSince1900 = 138;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A run of digits read from a position; saturates instead of overflowing.
struct Number {
    std::int64_t value = 0;
    std::size_t digits = 0;
};

Number read_number(std::string_view s, std::size_t& i)
{
    Number n;
    while (i < s.size() && is_digit(s[i])) {
        if (n.value < 1'000'000'000)
            n.value = n.value * 10 + (s[i] - '0');
        ++n.digits;
        ++i;
    }
    return n;
}

// The next run of digits at or after i.
bool next_number(std::string_view s, std::size_t& i, Number& n)
{
    while (i < s.size() && !is_digit(s[i]))
        ++i;
    if (i >= s.size())
        return false;
    n = read_number(s, i);
    return true;
}

}  // namespace

std::int64_t days_from_civil(std::int64_t year, int month, int day)
{
    // Howard Hinnant's algorithm: years begin in March so the leap day is
    // the last day of the year.
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::int64_t parse_date(std::string_view s)
{
    std::size_t i = 0;
    Number day;
    if (!next_number(s, i, day) || day.value < 1 || day.value > 31)
        return 0;

    while (i < s.size() && (is_blank(s[i]) || s[i] == '-'))
        ++i;
    std::size_t word_start = i;
    while (i < s.size() && !is_blank(s[i]) && s[i] != '-')
        ++i;
    int month = text::month_number(s.substr(word_start, i - word_start));

    Number year;
    if (!next_number(s, i, year))
        return 0;
    std::int64_t y = year.value;
    if (year.digits <= 2 && y < 50)
        y += 100;
    else if (y > 1900)
        y -= 1900;
    if (y < 0 || y > kMaxYearSince1900)
        return 0;

    // hh:mm[:ss]; a number not followed by ":" is not a time (it may be a
    // numeric zone of a date without time).
    std::int64_t hour = 0, minute = 0, second = 0;
    std::size_t j = i;
    Number h;
    if (next_number(s, j, h) && j < s.size() && s[j] == ':' && j + 1 < s.size() && is_digit(s[j + 1])) {
        ++j;
        hour = h.value;
        minute = read_number(s, j).value;
        if (j + 1 < s.size() && s[j] == ':' && is_digit(s[j + 1])) {
            ++j;
            second = read_number(s, j).value;
        }
        i = j;
    }
    if (hour > 23 || minute > 59 || second > 60)
        return 0;

    while (i < s.size() && is_blank(s[i]))
        ++i;
    std::size_t zone_start = i;
    while (i < s.size() && !is_blank(s[i]) && i - zone_start < kMaxZoneWord)
        ++i;
    int zone = text::zone_offset(s.substr(zone_start, i - zone_start));

    if (month == 0)
        return 0;
    std::int64_t t =
        days_from_civil(1900 + y, month, static_cast<int>(day.value)) * 86400 + hour * 3600 + minute * 60 + second;
    t -= (zone / 100) * 3600 + (zone % 100) * 60;
    return t > 0 ? t : 0;
}

}  // namespace corvane::mime
