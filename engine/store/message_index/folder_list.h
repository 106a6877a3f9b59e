// The user's folders: the four fixed folders named in the user's language,
// then every other subdirectory of the user directory, sorted without
// regard to case.
//
// Folder names compare without regard to ASCII case, on disk too: a folder
// "inbox" on disk is the fixed folder "Inbox". Names that could leave the
// user directory or split a stored record are never created and never
// listed. The list does not rebuild itself after create or remove: the
// caller does, as the pages that change folders do.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::store {

// Longest name create() accepts.
constexpr std::size_t max_folder_name = 31;

// True for a name that can be a folder directory: not empty, not beginning
// with ".", without \ / | > < : " and without control characters. Says
// nothing about the length.
bool is_safe_folder_name(std::string_view name);
// What create() accepts: a safe name of at most max_folder_name bytes.
bool is_valid_new_folder_name(std::string_view name);

class FolderList {
public:
    explicit FolderList(std::string user_dir) : m_user_dir(std::move(user_dir)) {}

    const std::string& user_dir() const { return m_user_dir; }

    // fixed: the Inbox, drafts, sent-mail and Trash folder names (language
    // strings 1 to 4). Creates the fixed folders that are missing. Fewer
    // than four names, or one that cannot be a directory name, leave the
    // list empty and return false.
    bool build(const std::vector<std::string>& fixed);

    // Creates the directory of a new folder; false for a refused name, an
    // existing folder (in any letter case) or a failed mkdir.
    bool create(std::string_view name) const;
    // Removes an empty folder directory; true when it is gone.
    bool remove(std::string_view name) const;

    // The name as listed (nullopt when absent); it becomes the current folder.
    std::optional<std::string> select(std::string_view name);
    // The current folder, else the first; nullptr for an empty list.
    const std::string* current() const;
    bool contains(std::string_view name) const;
    // The name as listed, or nullopt.
    std::optional<std::string> find(std::string_view name) const;

    const std::vector<std::string>& names() const { return m_names; }
    std::size_t size() const { return m_names.size(); }
    bool empty() const { return m_names.empty(); }

    // The fixed folders by role; nullptr while the list is empty.
    const std::string* inbox() const { return fixed(0); }
    const std::string* drafts() const { return fixed(1); }
    const std::string* sent() const { return fixed(2); }
    const std::string* trash() const { return fixed(3); }

private:
    const std::string* fixed(std::size_t i) const { return m_names.size() >= 4 ? &m_names[i] : nullptr; }

    std::string m_user_dir;
    std::vector<std::string> m_names;
    std::size_t m_current = 0;
    bool m_has_current = false;
};

}  // namespace corvane::store
