#include "engine/store/message_index/folder_list.h"

#include <algorithm>

#include "common/platform/files.h"
#include "common/text/strings.h"

namespace corvane::store {

bool is_safe_folder_name(std::string_view name)
{
    if (name.empty() || name.front() == '.')
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f)
            return false;
        switch (c) {
        case '\\':
        case '/':
        case '|':
        case '>':
        case '<':
        case ':':
        case '"':
            return false;
        default:
            break;
        }
    }
    return true;
}

bool is_valid_new_folder_name(std::string_view name)
{
    return name.size() <= max_folder_name && is_safe_folder_name(name);
}

bool FolderList::build(const std::vector<std::string>& fixed_names)
{
    m_names.clear();
    m_has_current = false;
    m_current = 0;
    if (fixed_names.size() < 4)
        return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if (!is_safe_folder_name(fixed_names[i]))
            return false;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string& name = fixed_names[i];
        if (!platform::resolve_nocase(m_user_dir, name))
            (void)platform::make_directory(platform::join_path(m_user_dir, name), 0700);
        m_names.push_back(name);
    }

    std::vector<std::string> others;
    if (auto entries = platform::list_directory(m_user_dir)) {
        for (const platform::DirEntry& entry : *entries) {
            // Symbolic links are not directories here: a link can never
            // make a folder outside the user directory.
            if (!entry.is_directory || !is_safe_folder_name(entry.name) || contains(entry.name))
                continue;
            bool seen = std::any_of(others.begin(), others.end(),
                                    [&](const std::string& o) { return text::iequals(o, entry.name); });
            if (!seen)
                others.push_back(entry.name);
        }
    }
    std::stable_sort(others.begin(), others.end(),
                     [](const std::string& a, const std::string& b) { return text::icompare(a, b) < 0; });
    m_names.insert(m_names.end(), others.begin(), others.end());
    return true;
}

bool FolderList::create(std::string_view name) const
{
    if (!is_valid_new_folder_name(name))
        return false;
    if (platform::resolve_nocase(m_user_dir, name))
        return false;
    std::string path = platform::join_path(m_user_dir, name);
    if (platform::exists(path))
        return false;
    return platform::make_directory(path, 0700).ok() && platform::is_directory(path);
}

bool FolderList::remove(std::string_view name) const
{
    if (!is_safe_folder_name(name))
        return false;
    auto on_disk = platform::resolve_nocase(m_user_dir, name);
    if (!on_disk)
        return false;
    std::string path = platform::join_path(m_user_dir, *on_disk);
    if (!platform::is_directory(path))
        return false;
    // rmdir refuses a folder that still holds anything.
    return platform::remove_directory(path).ok();
}

std::optional<std::string> FolderList::select(std::string_view name)
{
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        if (text::iequals(m_names[i], name)) {
            m_current = i;
            m_has_current = true;
            return m_names[i];
        }
    }
    return std::nullopt;
}

const std::string* FolderList::current() const
{
    if (m_has_current && m_current < m_names.size())
        return &m_names[m_current];
    return m_names.empty() ? nullptr : &m_names.front();
}

bool FolderList::contains(std::string_view name) const
{
    return find(name).has_value();
}

std::optional<std::string> FolderList::find(std::string_view name) const
{
    for (const std::string& listed : m_names) {
        if (text::iequals(listed, name))
            return listed;
    }
    return std::nullopt;
}

}  // namespace corvane::store
