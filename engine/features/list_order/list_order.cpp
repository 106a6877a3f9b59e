#include "engine/features/list_order/list_order.h"

#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/lifecycle/settings.h"

namespace corvane::list_order {

bool shows_recipients(accounts::UserRecord& user, const ini::Profile& settings)
{
    const store::FolderList& folders = user.mail().folders();
    const std::string* current = folders.current();
    if (!current || !lifecycle::yes_no_setting(settings, "General", "EnableReplaceFrom"))
        return false;
    const std::string* drafts = folders.drafts();
    const std::string* sent = folders.sent();
    return (drafts && text::iequals(*current, *drafts)) || (sent && text::iequals(*current, *sent));
}

ordering::SortKey list_key(accounts::UserRecord& user, const ini::Profile& settings)
{
    ordering::SortKey key = ordering::parse_sort_key(user.settings().sort_order);
    if (shows_recipients(user, settings))
        key = ordering::sender_as_recipient(key);
    return key;
}

void ListOrder::sort_current_folder(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    if (!user)
        return;
    ordering::sort_messages(user->mail().index().entries(), list_key(*user, request.settings()),
                            ordering::address_mode(user->settings().show_by_address));
}

}  // namespace corvane::list_order
