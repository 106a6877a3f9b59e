// Account names and account directories.
//
// An account is a directory under UserDir named after the user; there is no
// other account database. Names are matched on disk without regard to case
// (a user who logs on as JSmith reaches the directory jsmith), and every
// path is built from the spelling found on disk.
//
// A name that could leave the users directory is refused by every function
// here, whether it looks an account up or creates one: an empty name, one
// containing "/", "\", "..", a control character, or one beginning with ".".
// Nothing here reads or writes User.ini; that is the user record's job.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::accounts {

// Longest user name kept; a longer logon name is cut (at a UTF-8 boundary).
constexpr std::size_t max_user_name = 79;
constexpr std::string_view user_ini_name = "User.ini";

// The name as accounts keep it: cut to max_user_name bytes.
std::string cut_user_name(std::string_view name);

// Whether a name may name an account directory (see above).
bool is_valid_user_name(std::string_view name);

// UserDir + "/" + the account's spelling on disk, or + name itself when no
// directory of that name exists yet. nullopt for a refused name.
std::optional<std::string> account_directory(const std::string& user_dir, std::string_view name);

// The account's settings file, User.ini in any letter case.
std::string user_ini_path(const std::string& account_dir);

// True when a directory of that name (in any letter case) exists.
bool account_exists(const std::string& user_dir, std::string_view name);

// Creates the account directory under the name as given. True when it was
// created; false when the name is refused, an account of that name exists
// in any letter case, or the directory cannot be made. Creations are
// serialised across processes, so two requests for JSmith and jsmith cannot
// both succeed.
bool create_account_directory(const std::string& user_dir, std::string_view name);

// Renames an account directory: true when old_name exists, no account of
// new_name exists in any letter case (so a change of letter case alone is
// refused, as on a case-insensitive disk) and the rename succeeded. Running
// sessions are not told.
bool rename_account_directory(const std::string& user_dir, std::string_view old_name, std::string_view new_name);

}  // namespace corvane::accounts
