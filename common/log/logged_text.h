// Text from outside (a request, a file, a mail) as a log line shows it: cut
// to a bound and without control characters, so a hostile value can neither
// forge a line of its own nor fill the log.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/text/strings.h"

namespace corvane::log {

// Account names as log lines show them (the longest name an account keeps).
constexpr std::size_t max_logged_name = 79;

inline std::string logged(std::string_view text, std::size_t max_bytes)
{
    return text::without_controls(text::cut(text, max_bytes));
}

inline std::string logged_name(std::string_view name)
{
    return logged(name, max_logged_name);
}

}  // namespace corvane::log
