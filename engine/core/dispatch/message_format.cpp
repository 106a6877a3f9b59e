#include "engine/core/dispatch/message_format.h"

#include <vector>

#include "common/log/log_file.h"

namespace corvane::dispatch {

namespace {

// Widths and precisions above this are refused: a format must not be able
// to ask for megabytes of padding.
constexpr int max_digits = 3;

struct Conversion {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    int width = -1;
    int precision = -1;
    char conversion = 0;
};

// Reads up to max_digits digits; false when there are more.
bool read_number(std::string_view format, std::size_t& pos, int& out)
{
    int digits = 0;
    int value = 0;
    while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9') {
        if (++digits > max_digits)
            return false;
        value = value * 10 + (format[pos] - '0');
        ++pos;
    }
    out = digits ? value : -1;
    return true;
}

// Parses the conversion that starts after a "%" at pos; pos ends after it.
bool parse_conversion(std::string_view format, std::size_t& pos, Conversion& conv)
{
    for (; pos < format.size(); ++pos) {
        char c = format[pos];
        if (c == '-')
            conv.left = true;
        else if (c == '0')
            conv.zero = true;
        else if (c == '+')
            conv.plus = true;
        else if (c == ' ')
            conv.space = true;
        else if (c != '#')
            break;
    }
    if (!read_number(format, pos, conv.width))
        return false;
    if (pos < format.size() && format[pos] == '.') {
        ++pos;
        if (!read_number(format, pos, conv.precision))
            return false;
        if (conv.precision < 0)
            conv.precision = 0;
    }
    while (pos < format.size() && std::string_view("hlqjzt").find(format[pos]) != std::string_view::npos)
        ++pos;
    if (pos >= format.size())
        return false;
    conv.conversion = format[pos++];
    return true;
}

void pad(std::string& out, std::string_view body, const Conversion& conv, char fill)
{
    std::size_t width = conv.width > 0 ? static_cast<std::size_t>(conv.width) : 0;
    std::size_t padding = body.size() < width ? width - body.size() : 0;
    if (conv.left) {
        out += body;
        out.append(padding, ' ');
    } else {
        out.append(padding, fill);
        out += body;
    }
}

void format_number(std::string& out, std::int64_t value, const Conversion& conv)
{
    bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (conv.conversion == 'u' && negative) {
        // As printf shows a negative number given to %u.
        magnitude = static_cast<std::uint64_t>(value);
        negative = false;
    }
    std::string digits = std::to_string(magnitude);
    if (conv.precision >= 0) {
        if (conv.precision == 0 && magnitude == 0)
            digits.clear();
        else if (digits.size() < static_cast<std::size_t>(conv.precision))
            digits.insert(0, static_cast<std::size_t>(conv.precision) - digits.size(), '0');
    }
    std::string sign;
    if (negative)
        sign = "-";
    else if (conv.plus && conv.conversion != 'u')
        sign = "+";
    else if (conv.space && conv.conversion != 'u')
        sign = " ";
    if (conv.zero && !conv.left && conv.precision < 0) {
        std::size_t width = conv.width > 0 ? static_cast<std::size_t>(conv.width) : 0;
        if (sign.size() + digits.size() < width)
            digits.insert(0, width - sign.size() - digits.size(), '0');
    }
    pad(out, sign + digits, conv, ' ');
}

void format_text(std::string& out, std::string_view value, const Conversion& conv)
{
    if (conv.precision >= 0 && value.size() > static_cast<std::size_t>(conv.precision))
        value = value.substr(0, static_cast<std::size_t>(conv.precision));
    pad(out, value, conv, ' ');
}

}  // namespace

std::optional<std::string> format_message(std::string_view format, std::initializer_list<MessageArg> args)
{
    std::vector<MessageArg> arguments(args);
    std::size_t next = 0;
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t pos = 0;
    while (pos < format.size()) {
        std::size_t percent = format.find('%', pos);
        if (percent == std::string_view::npos) {
            out += format.substr(pos);
            break;
        }
        out += format.substr(pos, percent - pos);
        pos = percent + 1;
        if (pos < format.size() && format[pos] == '%') {
            out += '%';
            ++pos;
            continue;
        }
        Conversion conv;
        if (!parse_conversion(format, pos, conv) || next >= arguments.size())
            return std::nullopt;
        const MessageArg& arg = arguments[next++];
        switch (conv.conversion) {
        case 'd':
        case 'i':
        case 'u':
            if (!std::holds_alternative<std::int64_t>(arg))
                return std::nullopt;
            format_number(out, std::get<std::int64_t>(arg), conv);
            break;
        case 's':
            if (!std::holds_alternative<std::string_view>(arg))
                return std::nullopt;
            format_text(out, std::get<std::string_view>(arg), conv);
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::string format_language_string(int number, std::string_view format, std::initializer_list<MessageArg> args,
                                   log::Logger& log)
{
    if (auto text = format_message(format, args))
        return std::move(*text);
    log.line(log::Level::error, "Language string %d does not fit its arguments; it is shown unformatted", number);
    return std::string(format);
}

}  // namespace corvane::dispatch
