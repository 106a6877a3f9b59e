// The mail side of one user account: message index, folder list, filters
// and mailbox records, loaded together from the user directory the way a
// session needs them, plus the work done on them when the session ends.
//
// Built from a user directory, the names of the four fixed folders in the
// user's language (language strings 1 to 4) and the engine's settings; the
// user record owns one. Nothing here reads [User] settings or the address
// book, and nothing talks to a POP3 server: end_session() only says whether
// a server deletion is due.
#pragma once

#include <string>
#include <vector>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "engine/store/filters/filter_set.h"
#include "engine/store/mailboxes/mailbox_list.h"
#include "engine/store/message_index/folder_list.h"
#include "engine/store/message_index/message_index.h"
#include "engine/store/receiver/message_receiver.h"

namespace corvane::store {

struct FolderCount {
    std::string name;
    std::size_t messages = 0;
    std::size_t unread = 0;  // without the read flag
};

class UserMail {
public:
    explicit UserMail(std::string user_dir);

    // Loads the message index, the mailbox records (returning the default
    // one), the filters and the folder list, in that order. Message files
    // that a crash left without an entry are taken into the index, and
    // entries whose folder no longer exists go to the Inbox, so that every
    // message can be reached.
    mailboxes::MailboxRecord load(const std::vector<std::string>& fixed_folders, const ini::Profile& engine,
                                  codec::PasswordCodec& codec);
    // The two halves of load(), for a caller that reads the user's settings
    // in between (the folder names depend on the user's language): first
    // the message index and the mailbox records (returning the default
    // one), then the filters and the folder list.
    mailboxes::MailboxRecord load_mail(const ini::Profile& engine, codec::PasswordCodec& codec);
    void load_folders(const std::vector<std::string>& fixed_folders);

    const std::string& user_dir() const { return m_user_dir; }
    std::string user_ini() const;

    MessageIndex& index() { return m_index; }
    const MessageIndex& index() const { return m_index; }
    FolderList& folders() { return m_folders; }
    filters::FilterSet& filters() { return m_filters; }
    mailboxes::MailboxList& mailboxes() { return m_mailboxes; }

    // What a receiver of mail from a mailbox needs to choose the folder.
    receiver::FilterContext filter_context() const { return {&m_filters, &m_folders}; }

    // Empties the Trash (the fourth fixed folder); false when a message
    // could not be deleted or there is no Trash.
    bool empty_trash();
    // Every folder of the list with its message and unread counts, in list
    // order (one pass over the index).
    std::vector<FolderCount> folder_counts() const;

    // The end of a session: every message loses its new flag, and entries
    // deleted here are dropped unless their server still has to delete
    // them. Returns true when such a server deletion is due.
    bool end_session();

    // Renames a folder on disk, in the index, in the filters (saved) and
    // rebuilds the folder list; removes an empty folder with its rules.
    bool rename_folder(const std::string& old_name, const std::string& new_name);
    bool remove_folder(const std::string& name);
    // Deletes a folder with everything in it: its messages are deleted and
    // the index is written before the directory goes, so that a crash
    // leaves either the folder (with what was not deleted yet) or none.
    // False, with the folder kept, when a message cannot be deleted or the
    // index cannot be written.
    bool delete_folder(const std::string& name);

private:
    void place_lost_entries();

    std::string m_user_dir;
    std::vector<std::string> m_fixed;
    MessageIndex m_index;
    FolderList m_folders;
    filters::FilterSet m_filters;
    mailboxes::MailboxList m_mailboxes;
};

}  // namespace corvane::store
