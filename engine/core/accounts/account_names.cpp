#include "engine/core/accounts/account_names.h"

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace fs = corvane::platform;

namespace corvane::accounts {

std::string cut_user_name(std::string_view name)
{
    return text::bounded(name, max_user_name);
}

bool is_valid_user_name(std::string_view name)
{
    if (name.empty() || name.front() == '.')
        return false;
    if (name.find("..") != std::string_view::npos)
        return false;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

std::optional<std::string> account_directory(const std::string& user_dir, std::string_view name)
{
    if (!is_valid_user_name(name))
        return std::nullopt;
    return fs::path_nocase(user_dir, name);
}

std::string user_ini_path(const std::string& account_dir)
{
    return fs::path_nocase(account_dir, user_ini_name);
}

bool account_exists(const std::string& user_dir, std::string_view name)
{
    if (!is_valid_user_name(name))
        return false;
    auto on_disk = fs::resolve_nocase(user_dir, name);
    return on_disk && fs::is_directory(fs::join_path(user_dir, *on_disk));
}

bool create_account_directory(const std::string& user_dir, std::string_view name)
{
    if (!is_valid_user_name(name))
        return false;
    // The lock makes "no spelling of this name exists" and the mkdir one
    // step for every process that creates accounts the same way.
    auto lock = fs::DirectoryLock::acquire(user_dir);
    if (!lock)
        return false;
    if (fs::resolve_nocase(user_dir, name))
        return false;
    std::string path = fs::join_path(user_dir, name);
    if (fs::exists(path))
        return false;
    return fs::make_directory(path, 0700).ok() && fs::is_directory(path);
}

bool rename_account_directory(const std::string& user_dir, std::string_view old_name, std::string_view new_name)
{
    if (!is_valid_user_name(old_name) || !is_valid_user_name(new_name))
        return false;
    auto lock = fs::DirectoryLock::acquire(user_dir);
    if (!lock)
        return false;
    auto old_on_disk = fs::resolve_nocase(user_dir, old_name);
    if (!old_on_disk || !fs::is_directory(fs::join_path(user_dir, *old_on_disk)))
        return false;
    if (fs::resolve_nocase(user_dir, new_name))
        return false;
    return fs::rename_file(fs::join_path(user_dir, *old_on_disk), fs::join_path(user_dir, new_name)).ok();
}

}  // namespace corvane::accounts
