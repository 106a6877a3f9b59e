// Formatting of message texts that take arguments.
//
// Some language strings are printf-style formats ("Receiving message %d of
// %d from %s"), and Languages.ini is edited by administrators and
// translators. Such a text is never handed to printf: format_message()
// reads its conversions itself and fills them only when each one fits the
// argument in its place (%d, %i and %u take numbers, %s takes a text; flags
// "-", "+", " ", "0", "#", a width and a precision of up to three digits
// and length modifiers are allowed; "%%" is a percent sign). Anything else
// (%n, %p, %x, a conversion too many, a "%" at the end) makes the whole
// text unusable, and the caller shows it unformatted.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace corvane::log {
class Logger;
}

namespace corvane::dispatch {

using MessageArg = std::variant<std::int64_t, std::string_view>;

// The text with its conversions filled in; nullopt when they do not fit
// the arguments. Arguments beyond the conversions are ignored.
std::optional<std::string> format_message(std::string_view format, std::initializer_list<MessageArg> args);

// format_message(), or the text as it stands when it does not fit: then
// the problem is logged once per call with the string's number.
std::string format_language_string(int number, std::string_view format, std::initializer_list<MessageArg> args,
                                   log::Logger& log);

}  // namespace corvane::dispatch
