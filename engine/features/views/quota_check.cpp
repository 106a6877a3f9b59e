#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/settings.h"
#include "engine/features/views/mailbox_views.h"

namespace corvane::views {

namespace {
constexpr int string_size_limit = 35;
constexpr int string_message_limit = 36;
}  // namespace

Quota check_quota(const ini::Profile& settings, const accounts::UserRecord& user)
{
    if (!lifecycle::yes_no_setting(settings, "UserLimits", "EnforceQuotas"))
        return Quota::within;
    accounts::MailTotals totals = user.mail_totals();
    int max_messages = lifecycle::number_setting(settings, "UserLimits", "MaxMessages");
    if (max_messages > 0 && totals.message_count > max_messages)
        return Quota::message_limit;
    int max_kb = lifecycle::number_setting(settings, "UserLimits", "MaxDirSize");
    if (max_kb > 0 && accounts::mail_size_kb(totals.downloaded_bytes) > max_kb)
        return Quota::size_limit;
    return Quota::within;
}

bool quota_allows(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    if (!user)
        return false;
    switch (check_quota(request.settings(), *user)) {
    case Quota::within:
        return true;
    case Quota::message_limit:
        request.set_status_message(request.language_string(string_message_limit));
        return false;
    case Quota::size_limit:
        request.set_status_message(request.language_string(string_size_limit));
        return false;
    }
    return false;
}

}  // namespace corvane::views
