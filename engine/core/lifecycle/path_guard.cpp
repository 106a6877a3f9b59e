#include "engine/core/lifecycle/path_guard.h"

#include <filesystem>
#include <system_error>

namespace corvane::lifecycle {

namespace {

std::filesystem::path resolved(const std::string& path)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    if (error)
        canonical = absolute.lexically_normal();
    // "/a/b/" and "/a/b" are the same directory.
    if (!canonical.has_filename() && canonical.has_parent_path() && canonical != canonical.root_path())
        canonical = canonical.parent_path();
    return canonical;
}

bool is_within(const std::filesystem::path& inner, const std::filesystem::path& outer)
{
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty())
            continue;  // the empty last part of a path ending in "/"
        if (i == inner.end() || *i != *o)
            return false;
    }
    return true;
}

}  // namespace

bool contains_any(const std::string& dir, const std::vector<std::string>& others)
{
    if (dir.empty())
        return false;
    std::filesystem::path outer = resolved(dir);
    for (const std::string& other : others) {
        if (!other.empty() && is_within(resolved(other), outer))
            return true;
    }
    return false;
}

}  // namespace corvane::lifecycle
