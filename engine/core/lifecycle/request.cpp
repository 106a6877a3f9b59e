#include "engine/core/lifecycle/request.h"

#include <cstring>

#include "common/text/strings.h"

namespace corvane::lifecycle {

Environment::Environment(const char* block)
{
    if (!block)
        return;
    for (const char* p = block; *p; p += std::strlen(p) + 1) {
        std::string_view entry(p);
        std::size_t equals = entry.find('=');
        // "=C:=C:\..." style entries have an empty name; they are not variables.
        if (equals == std::string_view::npos || equals == 0)
            continue;
        m_variables.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
    }
}

std::string_view Environment::get(std::string_view name) const
{
    for (const auto& [key, value] : m_variables) {
        if (text::iequals(key, name))
            return value;
    }
    return {};
}

bool Environment::has(std::string_view name) const
{
    for (const auto& variable : m_variables) {
        if (text::iequals(variable.first, name))
            return true;
    }
    return false;
}

}  // namespace corvane::lifecycle
