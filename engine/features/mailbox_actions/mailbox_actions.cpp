#include "engine/core/mailstore/mailbox_actions.h"

#include "common/text/strings.h"
#include "engine/core/dispatch/request_context.h"
#include "engine/core/dispatch/views.h"
#include "engine/core/mailstore/mail_session_user.h"

namespace corvane::mailstore {

namespace {

// How much of a folder name from a request a log line shows.
constexpr std::size_t max_logged_folder = 63;

std::string shown(std::string_view text)
{
    return text::without_controls(text::cut(text, max_logged_folder));
}

MailSessionUser* mail_user(dispatch::RequestContext& request)
{
    sessions::Session* session = request.session();
    return session ? dynamic_cast<MailSessionUser*>(session->user()) : nullptr;
}

// The user's store, or null (then the dispatcher's default step runs).
store::UserMail* user_store(dispatch::RequestContext& request)
{
    MailSessionUser* user = mail_user(request);
    return user ? user->store() : nullptr;
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

bool StoreMailboxWork::select_message(dispatch::RequestContext& request, std::string_view number)
{
    MailSessionUser* user = mail_user(request);
    if (!user || !user->store())
        return MailboxWork::select_message(request, number);
    auto parsed = message_number(number);
    user->set_current_message(parsed);
    return user->current_message() != nullptr;
}

bool StoreMailboxWork::has_current_message(dispatch::RequestContext& request)
{
    MailSessionUser* user = mail_user(request);
    return user && user->current_message() != nullptr;
}

void StoreMailboxWork::change_folder(dispatch::RequestContext& request, std::string_view folder)
{
    store::UserMail* store = user_store(request);
    if (!store) {
        MailboxWork::change_folder(request, folder);
        return;
    }
    if (!store->folders().select(folder))
        request.log().line(log::Level::routine, "There is no folder %s", shown(folder).c_str());
}

void StoreMailboxWork::select_inbox(dispatch::RequestContext& request)
{
    store::UserMail* store = user_store(request);
    if (!store) {
        MailboxWork::select_inbox(request);
        return;
    }
    if (const std::string* inbox = store->folders().inbox())
        (void)store->folders().select(*inbox);
}

void StoreMailboxWork::mark(dispatch::RequestContext& request, bool read)
{
    store::UserMail* store = user_store(request);
    if (!store) {
        MailboxWork::mark(request, read);
        return;
    }
    store::MessageIndex& index = store->index();
    for_each_numbered(request, index, [&](store::MessageEntry& entry) {
        std::uint32_t flags =
            read ? (entry.flags | store::flags::read) & ~store::flags::new_message : entry.flags & ~store::flags::read;
        if (flags != entry.flags) {
            entry.flags = flags;
            index.mark_dirty();
        }
    });
}

void StoreMailboxWork::move(dispatch::RequestContext& request, Removal kind)
{
    MailSessionUser* user = mail_user(request);
    store::UserMail* store = user ? user->store() : nullptr;
    if (!store) {
        MailboxWork::move(request, kind);
        return;
    }
    store::MessageIndex& index = store->index();
    const store::FolderList& folders = store->folders();

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
        store::MessageEntry* current = user->current_message();
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
        user->set_current_message(next_number);
        if (!next_number)
            request.set_view(dispatch::view_list);
        return;
    }
    for_each_numbered(request, index, apply);
}

void StoreMailboxWork::copy(dispatch::RequestContext& request)
{
    MailSessionUser* user = mail_user(request);
    store::UserMail* store = user ? user->store() : nullptr;
    if (!store) {
        MailboxWork::copy(request);
        return;
    }
    std::optional<std::string> target = destination(request, store->folders());
    if (!target)
        return;
    store::MessageIndex& index = store->index();
    auto apply = [&](store::MessageEntry& entry) {
        if (!index.copy(entry, *target))
            request.log().line(log::Level::notable, "Could not copy message %u to %s", entry.number,
                               shown(*target).c_str());
    };
    if (request.view() == dispatch::view_message) {
        if (store::MessageEntry* current = user->current_message())
            apply(*current);
        return;
    }
    for_each_numbered(request, index, apply);
}

void StoreMailboxWork::save_index(dispatch::RequestContext& request)
{
    if (MailSessionUser* user = mail_user(request))
        user->save_index(request.log());
}

std::vector<dispatch::MailboxWork::FolderCount> StoreMailboxWork::folder_counts(dispatch::RequestContext& request)
{
    store::UserMail* store = user_store(request);
    if (!store)
        return MailboxWork::folder_counts(request);
    std::vector<FolderCount> counts;
    for (const auto& folder : store->folder_counts())
        counts.push_back(FolderCount{folder.name, static_cast<std::int64_t>(folder.messages),
                                     static_cast<std::int64_t>(folder.unread)});
    return counts;
}

}  // namespace corvane::mailstore
