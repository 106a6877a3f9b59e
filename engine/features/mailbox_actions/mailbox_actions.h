// The actions on the message index that a request's form carries, for the
// dispatcher: the current message, the folder change, mark read and
// unread, move, delete (to the Trash, or for good in the Trash), copy, the
// index written after the response, and the folder counts of StatusCheck.
//
// Message numbers come from the form and are treated as hostile: only
// plain decimal numbers of messages the user can see (entries that still
// have a folder) are acted on; everything else is passed over. Moving or
// deleting the message shown on the Message view makes the next message of
// its folder the current one, or returns to the list when there is none.
//
// The current message is the session's (Session::current_message); an
// entry that has gone, or lost its folder, is no current message.
//
// What it does not do: the order of the message list, the view handlers,
// the mail check.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/core/dispatch/request_steps.h"

namespace corvane::store {
class MessageIndex;
struct MessageEntry;
}  // namespace corvane::store

namespace corvane::mailbox_actions {

// A message number from a form field: decimal digits only (blanks around
// them allowed), 1 to 999999.
std::optional<std::uint32_t> message_number(std::string_view text);

// The entry of that number that the user can see (it has a folder), or null.
store::MessageEntry* visible_entry(store::MessageIndex& index, std::uint32_t number);

// The request's current message, or null (no session, none chosen, or gone).
store::MessageEntry* current_message(dispatch::RequestContext& request);

class MailboxActions final : public dispatch::MailboxActions {
public:
    bool select_message(dispatch::RequestContext& request, std::string_view number) override;
    bool has_current_message(dispatch::RequestContext& request) override;
    void change_folder(dispatch::RequestContext& request, std::string_view folder) override;
    void select_inbox(dispatch::RequestContext& request) override;
    void mark(dispatch::RequestContext& request, bool read) override;
    void move(dispatch::RequestContext& request, Removal kind) override;
    void copy(dispatch::RequestContext& request) override;
    void save_index(dispatch::RequestContext& request) override;
    std::vector<FolderCount> folder_counts(dispatch::RequestContext& request) override;
};

}  // namespace corvane::mailbox_actions
