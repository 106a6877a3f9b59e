#include "engine/store/message_index/header_flags.h"

#include "common/text/strings.h"

namespace corvane::store {

bool is_urgent(const mime::HeaderList& header)
{
    if (const mime::HeaderField* priority = header.find("X-Priority");
        priority && !priority->value.empty() && priority->value.front() == '1')
        return true;
    const mime::HeaderField* priority = header.find("Priority");
    return priority && text::istarts_with(priority->value, "urgent");
}

bool requests_confirmation(const mime::HeaderList& header)
{
    return !header.is_absent_or_empty("Disposition-Notification-To") ||
           !header.is_absent_or_empty("X-Confirm-Reading-To");
}

bool header_says_urgent(const std::string& message_path)
{
    return is_urgent(mime::read_header(message_path));
}

}  // namespace corvane::store
