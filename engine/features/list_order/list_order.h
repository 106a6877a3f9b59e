// The order of the message list: just before the List page is written, the
// user's message index is sorted by the user's SortOrder, with From and To
// compared as ShowByAddress says, and, in the drafts and sent-mail folders
// (when [General] EnableReplaceFrom is on), "From" standing for "To".
//
// The sort itself and its keys live in engine/store/ordering; this module
// only picks the key for the request. Nothing is saved: the order is a
// property of the page, and the next sort is cheap when it has not changed.
#pragma once

#include "engine/core/dispatch/request_steps.h"
#include "engine/store/ordering/message_order.h"

namespace corvane::accounts {
class UserRecord;
}
namespace corvane::ini {
class Profile;
}

namespace corvane::list_order {

// The key the list of user's current folder is sorted by.
ordering::SortKey list_key(accounts::UserRecord& user, const ini::Profile& settings);

// True when the user's current folder shows recipients in its sender column
// (drafts and sent mail, with EnableReplaceFrom on).
bool shows_recipients(accounts::UserRecord& user, const ini::Profile& settings);

class ListOrder final : public dispatch::ListOrder {
public:
    void sort_current_folder(dispatch::RequestContext& request) override;
};

}  // namespace corvane::list_order
