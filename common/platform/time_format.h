// Calendar conversion and strftime formatting in the C locale.
//
// The host process may have switched its locale; the names in log stamps
// ("Sun"), cookie dates and mail headers must stay the English ones, so every
// format here uses a private C locale.
#pragma once

#include <ctime>
#include <string>

namespace corvane::platform {

std::tm local_time(std::time_t t);
std::tm utc_time(std::time_t t);
// mktime: normalises the fields (32 December becomes 1 January) and returns
// the time; -1 when it cannot be represented.
std::time_t make_local_time(std::tm& tm);

// strftime with the given format. The format may come from configuration:
// a result longer than 1024 bytes is cut there, and a format that yields
// nothing gives "".
std::string format_time(const std::tm& tm, const char* format);
std::string format_local(std::time_t t, const char* format);
std::string format_utc(std::time_t t, const char* format);

}  // namespace corvane::platform
