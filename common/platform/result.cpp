#include "common/platform/result.h"

#include <cerrno>
#include <cstring>

namespace corvane {

Error os_error_code(int code, std::string_view what, std::string_view subject)
{
    std::string text(what);
    if (!subject.empty()) {
        text += ' ';
        text += subject;
    }
    text += ": ";
    char buffer[128];
    // GNU strerror_r returns the message, which may or may not live in buffer.
    text += strerror_r(code, buffer, sizeof buffer);
    return Error{code, std::move(text)};
}

Error os_error(std::string_view what, std::string_view subject)
{
    return os_error_code(errno, what, subject);
}

}  // namespace corvane
