#include "common/platform/time_format.h"

#include <locale.h>

namespace corvane::platform {

namespace {

locale_t c_locale()
{
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

std::tm local_time(std::time_t t)
{
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm;
}

std::tm utc_time(std::time_t t)
{
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return tm;
}

std::time_t make_local_time(std::tm& tm)
{
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string format_time(const std::tm& tm, const char* format)
{
    if (!format || !*format)
        return {};
    char buffer[1025];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::size_t n = c_locale() ? ::strftime_l(buffer, sizeof buffer, format, &tm, c_locale())
                               : std::strftime(buffer, sizeof buffer, format, &tm);
#pragma GCC diagnostic pop
    return std::string(buffer, n);
}

std::string format_local(std::time_t t, const char* format)
{
    return format_time(local_time(t), format);
}

std::string format_utc(std::time_t t, const char* format)
{
    return format_time(utc_time(t), format);
}

}  // namespace corvane::platform
