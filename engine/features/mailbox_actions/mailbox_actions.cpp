#include "engine/features/mailbox_actions/mailbox_actions.h"

#include "common/log/logged_text.h"
#include "common/text/strings.h"
#include "engine/core/accounts/user_record.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"

namespace corvane::mailbox_actions {

namespace {

// How much of a folder name from a request a log line shows.
constexpr std::size_t max_logged_folder = 63;

std::string shown(std::string_view text)
{
    return log::logged(text, max_logged_folder);
}

// The user's mail; null only without a session, where the dispatcher never
// asks for these actions.
store::UserMail* user_mail(dispatch::RequestContext& request)
{
    accounts::UserRecord* user = request.user();
    return user ? &user->mail() : nullptr;
}

// The numbers of every Number field, in order, that name a message the
// user can see. Looked up afresh for each, since acting on one may remove
// another from the index.
template <typename Action>
void for_each_numbered(dispatch::RequestContext& request, store::MessageIndex& index, Action action)
{
    for (const auto& field : request.fields().entries()) {
        if (!text::iequals(field.name, "Number"))
            continue;
        auto number = message_number(field.value);
        if (!number)
            continue;
        if (store::MessageEntry* entry = visible_entry(index, *number))
            action(*entry);
    }
}

// DestFolder as the folder list spells it, else the current folder.
std::optional<std::string> destination(dispatch::RequestContext& request, const store::FolderList& folders)
{
    const std::string& dest = request.fields().value("DestFolder");
    if (!dest.empty()) {
        if (auto found = folders.find(dest))
            return found;
    }
    if (const std::string* current = folders.current())
        return *current;
    return std::nullopt;
}

}  // namespace

std::optional<std::uint32_t> message_number(std::string_view text)
{
    std::string_view digits = text::trim(text);
    if (digits.empty() || digits.size() > 6)
        return std::nullopt;
    std::uint32_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (number < 1 || number > store::max_message_number)
        return std::nullopt;
    return number;
}

store::MessageEntry* visible_entry(store::MessageIndex& index, std::uint32_t number)
{
    store::MessageEntry* entry = index.find(number);
    return entry && !entry->folder.empty() ? entry : nullptr;
}

store::MessageEntry* current_message(dispatch::RequestContext& request)
{
    sessions::Session* session = request.session();
    store::UserMail* mail = user_mail(request);
    if (!session || !mail || !session->current_message)
        return nullptr;
    return visible_entry(mail->index(), *session->current_message);
}

bool MailboxActions::select_message(dispatch::RequestContext& request, std::string_view number)
{
    sessions::Session* session = request.session();
    if (!session)
        return false;
    session->current_message = message_number(number);
    return current_message(request) != nullptr;
}

bool MailboxActions::has_current_message(dispatch::RequestContext& request)
{
    return current_message(request) != nullptr;
}

void MailboxActions::change_folder(dispatch::RequestContext& request, std::string_view folder)
{
    store::UserMail* mail = user_mail(request);
    if (!mail)
        return;
    if (!mail->folders().select(folder))
        request.log().line(log::Level::routine, "There is no folder %s", shown(folder).c_str());
}

void MailboxActions::select_inbox(dispatch::RequestContext& request)
{
    store::UserMail* mail = user_mail(request);
    if (!mail)
        return;
    if (const std::string* inbox = mail->folders().inbox())
        (void)mail->folders().select(*inbox);
}

void MailboxActions::mark(dispatch::RequestContext& request, bool read)
{
    store::UserMail* mail = user_mail(request);
    if (!mail)
        return;
    store::MessageIndex& index = mail->index();
    for_each_numbered(request, index, [&](store::MessageEntry& entry) {
        std::uint32_t flags =
            read ? (entry.flags | store::flags::read) & ~store::flags::new_message : entry.flags & ~store::flags::read;
        if (flags != entry.flags) {
            entry.flags = flags;
            index.mark_dirty();
        }
    });
}

void MailboxActions::move(dispatch::RequestContext& request, Removal kind)
{
    store::UserMail* mail = user_mail(request);
    if (!mail)
        return;
    store::MessageIndex& index = mail->index();
    const store::FolderList& folders = mail->folders();

    // Delete moves to the Trash; in the Trash itself, or without one, it
    // removes the messages for good.
    std::optional<std::string> target;
    if (kind == Removal::remove) {
        const std::string* trash = folders.trash();
        const std::string* current = folders.current();
        if (trash && !(current && text::iequals(*current, *trash)))
            target = *trash;
    } else {
        target = destination(request, folders);
        if (!target)
            return;
    }
    auto apply = [&](store::MessageEntry& entry) {
        std::uint32_t number = entry.number;
        bool done = target ? index.move(entry, *target) : index.delete_entry(entry);
        if (!done) {
            if (target)
                request.log().line(log::Level::notable, "Could not move message %u to %s", number,
                                   shown(*target).c_str());
            else
                request.log().line(log::Level::notable, "Could not delete message %u", number);
        }
        return done;
    };

    if (request.view() == dispatch::view_message) {
        store::MessageEntry* current = current_message(request);
        if (!current)
            return;
        // The next message of the same folder, found before the move
        // changes the folder (or frees the entry).
        store::MessageEntry* next = index.next_in_folder(*current);
        std::optional<std::uint32_t> next_number;
        if (next)
            next_number = next->number;
        if (!apply(*current))
            return;
        request.session()->current_message = next_number;
        if (!next_number)
            request.set_view(dispatch::view_list);
        return;
    }
    for_each_numbered(request, index, apply);
}

void MailboxActions::copy(dispatch::RequestContext& request)
{
    store::UserMail* mail = user_mail(request);
    if (!mail)
        return;
    std::optional<std::string> target = destination(request, mail->folders());
    if (!target)
        return;
    store::MessageIndex& index = mail->index();
    auto apply = [&](store::MessageEntry& entry) {
        if (!index.copy(entry, *target))
            request.log().line(log::Level::notable, "Could not copy message %u to %s", entry.number,
                               shown(*target).c_str());
    };
    if (request.view() == dispatch::view_message) {
        if (store::MessageEntry* current = current_message(request))
            apply(*current);
        return;
    }
    for_each_numbered(request, index, apply);
}

void MailboxActions::save_index(dispatch::RequestContext& request)
{
    if (accounts::UserRecord* user = request.user())
        user->save_index(request.log());
}

std::vector<dispatch::MailboxActions::FolderCount> MailboxActions::folder_counts(dispatch::RequestContext& request)
{
    std::vector<FolderCount> counts;
    store::UserMail* mail = user_mail(request);
    if (!mail)
        return counts;
    for (const auto& folder : mail->folder_counts())
        counts.push_back(FolderCount{folder.name, static_cast<std::int64_t>(folder.messages),
                                     static_cast<std::int64_t>(folder.unread)});
    return counts;
}

}  // namespace corvane::mailbox_actions
