// The compose work that needs no session: starting a compose (new, reply,
// reply to all, forward) or opening a draft into the compose directory,
// moving the header fields between the header file and the request, and
// storing a built message into a folder.
//
// A compose lives in the compose directory (compose_directory.h) and in
// the request's fields while a page is handled; these functions move it
// between the two. The view logic (buttons, the views that follow, counters,
// messages) is compose_handler.h's.
#pragma once

#include <string>
#include <string_view>

#include "engine/features/compose/compose_directory.h"
#include "engine/features/compose/message_builder.h"
#include "engine/store/mailboxes/mailbox_list.h"
#include "engine/store/message_index/message_entry.h"
#include "engine/store/receiver/message_receiver.h"

namespace corvane::addrbook {
class AddressBook;
}
namespace corvane::cgi {
class FieldTable;
}
namespace corvane::log {
class Logger;
}
namespace corvane::store {
class MessageIndex;
}

namespace corvane::compose {

// What a compose needs of the user's account.
struct ComposeAccount {
    std::string directory;  // the user directory: signatures live there
    store::MessageIndex* index = nullptr;
    mailboxes::MailboxList* mailboxes = nullptr;
    addrbook::AddressBook* addresses = nullptr;
    int compose_width = 72;
    bool add_replies_to_addr_book = false;
    std::string reply_prefix = "> ";  // User.ini [Compose] ReplyPrefix
    std::string forward_prefix;       // [Compose] ForwardPrefix
    receiver::ReceiverOptions receiver;
};

// The numbers are those of the log line.
enum class ComposeType { implicit = -1, new_message = 0, forward = 1, reply = 2, reply_all = 3 };

// "\"Full Name\" <address>", or "<address>" without a full name.
std::string sender_identity(const mailboxes::MailboxRecord& mailbox);

// Empties the compose directory and the request's CC, BCC and Subject, and
// To unless the query string pre-fills it ("&To=").
void clear_compose(const ComposeDirectory& dir, cgi::FieldTable& fields, std::string_view query_string);

// Starts a compose: without a message, a new one with the default
// mailbox's identity and signature; with one, a reply or forward that
// quotes its text (and, forwarding, takes its other parts as attachments).
void create_compose(const ComposeDirectory& dir, cgi::FieldTable& fields, ComposeAccount& account,
                    store::MessageEntry* message, ComposeType type, std::string_view query_string, log::Logger& log);

// Opens a stored draft as the compose: its fields, text and attachments.
void open_draft(const ComposeDirectory& dir, cgi::FieldTable& fields, ComposeAccount& account,
                store::MessageEntry& draft, log::Logger& log);

enum class MergeMode {
    fill_empty,    // a field missing or empty takes the file's value
    fill_missing,  // only a field the form did not send at all
};
// The header file into the request's fields. On Compose-Advanced
// (advanced_view) with fill_missing, the three check boxes never come from
// the file: an unticked box is absent from the form and must stay off.
void merge_headers(const ComposeDirectory& dir, cgi::FieldTable& fields, MergeMode mode, bool advanced_view);
// The request's fields into the header file.
void save_headers(const ComposeDirectory& dir, const cgi::FieldTable& fields);

// A From that is a mailbox's index in decimal picks that mailbox (the
// default one when out of range): Mailbox and From become its name and
// identity. False when From is not such a number.
bool resolve_numeric_from(cgi::FieldTable& fields, mailboxes::MailboxList& mailboxes);

// The fields a message is built from.
MessageFields message_fields(const cgi::FieldTable& fields, bool advanced_view);

// Stores the built message (".message.txt") into folder as a new entry:
// downloaded, a draft or read, its mailbox the Mailbox field or the
// mailbox whose identity is From. nullptr when nothing could be stored.
store::MessageEntry* store_message(const ComposeDirectory& dir, const cgi::FieldTable& fields, ComposeAccount& account,
                                   const std::string& folder, bool draft);

}  // namespace corvane::compose
