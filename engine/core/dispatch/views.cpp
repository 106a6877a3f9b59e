#include "engine/core/dispatch/views.h"

#include <array>

#include "common/text/strings.h"

namespace corvane::dispatch {

namespace {

constexpr std::array<std::string_view, last_view + 1> names = {
    "",
    "Logon",
    "Main",
    "List",
    "Message",
    "Attachment",
    "Compose",
    "Compose-Advanced",
    "Compose-Attach",
    "Compose-SpellCheck",
    "Options",
    "Options-Prefs",
    "Options-Hosts",
    "Options-Filters",
    "Folders",
    "AddrBook",
    "AddrLookup",
    "Error",
    "NewUser",
    "StatusCheck",
    "Logout",
};

}  // namespace

int view_number(std::string_view name)
{
    for (int view = 1; view <= last_view; ++view) {
        if (text::iequals(names[static_cast<std::size_t>(view)], name))
            return view;
    }
    return view_none;
}

std::string_view view_name(int view)
{
    if (view < 1 || view > last_view)
        return {};
    return names[static_cast<std::size_t>(view)];
}

}  // namespace corvane::dispatch
