#include "engine/core/dispatch/quota.h"

#include "common/ini/profile.h"
#include "engine/core/accounts/user_record.h"

namespace corvane::dispatch {

bool mail_fetch_allowed(const ini::Profile& settings, const accounts::MailTotals& mail)
{
    if (!settings.yes_no("UserLimits", "EnforceQuotas", false))
        return true;
    std::int64_t max_messages = settings.number("UserLimits", "MaxMessages", 0);
    std::int64_t max_size = settings.number("UserLimits", "MaxDirSize", 0);
    bool count_ok = max_messages < 1 || max_messages >= mail.message_count;
    bool size_ok = max_size < 1 || max_size >= accounts::mail_size_kb(mail.downloaded_bytes);
    return count_ok && size_ok;
}

}  // namespace corvane::dispatch
