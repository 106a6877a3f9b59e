// Mailbox records: the POP3 mailboxes of a user, sections [MailHost1],
// [MailHost2], ... of the user's User.ini, in section order.
//
// The list ends at the first section without a `Mailbox` name. `Pass` is
// kept scrambled on disk and clear in memory; a value an administrator typed
// as "-secret" is scrambled and written back on load. A stored password
// that cannot be unscrambled here (another key file) is kept as it is and
// written back unchanged, so reading a list never destroys a password.
//
// Defaults for `Color`, `Port` and `Delete` come from [UserDefaults] of the
// engine's settings, passed in as a Profile; `FullName` and `EMail` default
// to [User] of User.ini.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"

namespace corvane::store {
class MessageIndex;
}

namespace corvane::mailboxes {

// Stored widths of the text fields (bytes, terminating NUL excluded).
constexpr std::size_t max_mailbox_name = 31;
constexpr std::size_t max_mailbox_full_name = 63;
constexpr std::size_t max_mailbox_email = 63;
constexpr std::size_t max_mailbox_host = 63;
constexpr std::size_t max_mailbox_user = 31;
constexpr std::size_t max_mailbox_pass = 31;
constexpr std::size_t max_mailbox_color = 15;
constexpr std::size_t max_mailbox_tls = 15;
// A User.ini never holds more mailbox sections than this for us.
constexpr int max_mailboxes = 1000;

struct MailboxRecord {
    std::string mailbox;      // `Mailbox`
    std::string full_name;    // `FullName`
    std::string email;        // `EMail`
    std::string host;         // `Host`
    std::string user;         // `User`
    std::string pass;         // `Pass`, clear text
    std::string color;        // `Color`
    int port = 110;           // `Port`
    bool is_default = false;  // `Default`
    bool active = false;      // `Active`
    int delete_mode = 0;      // `Delete`: 0, 1 or 2
    // `TLS` as stored: "Yes" (TLS from the first byte), "No", "STARTTLS"
    // (STLS on the plain port); empty when the key is missing, which means
    // TLS exactly when `Port` is 995. The POP3 client reads it.
    std::string tls;
    // The stored `Pass` when it could not be unscrambled; written back as it
    // is while pass stays empty.
    std::optional<std::string> unreadable_pass;
};

// The engine-wide defaults of new and incomplete records.
struct MailboxDefaults {
    std::string color = "#C0C0C0";  // [UserDefaults] Color1
    int port = 110;                 // [UserDefaults] MailPort
    int delete_mode = 0;            // [UserDefaults] Delete

    static MailboxDefaults from(const ini::Profile& engine);
};

class MailboxList {
public:
    // Reads the records of user_dir/User.ini; returns the default mailbox.
    // Clear-text passwords ("-...") are scrambled and written back.
    MailboxRecord load(const std::string& user_dir, const MailboxDefaults& defaults, codec::PasswordCodec& codec);
    // Writes [MailHost1] .. [MailHostN] and removes [MailHostN+1].
    bool save(const std::string& user_dir, codec::PasswordCodec& codec) const;

    MailboxRecord* find(std::string_view name);
    const MailboxRecord* find(std::string_view name) const;
    // Position of the named record, else of the first default one, else 0.
    std::size_t index_of(std::string_view name) const;
    // The first record with `Default` set; when none has it, the first
    // record becomes the default. An empty list gives the empty record.
    MailboxRecord default_mailbox();

    std::vector<MailboxRecord>& records() { return m_records; }
    const std::vector<MailboxRecord>& records() const { return m_records; }

private:
    std::vector<MailboxRecord> m_records;
};

// Tidies the entries deleted here but kept for deletion on their server:
// from the last to the first, an entry without a folder is dropped when its
// mailbox record is gone, when it lacks a mailbox or server identifier, when
// its mailbox's `Delete` mode is 0, or when the mode is 2 and it was
// downloaded. Returns true when some entry still waits, so a POP3 session
// must delete it on the server.
bool prune_deleted_entries(store::MessageIndex& index, const MailboxList& mailboxes);

}  // namespace corvane::mailboxes
