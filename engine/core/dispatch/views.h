// The views a request can ask for with its View field, by number and name.
//
// Names are compared without regard to case ("list" is the List view); a
// name that is not in the table is view 0, and its page is then looked up
// under the name itself. Numbers are what sessions keep (current, previous
// and frame view) and what the log lines show.
#pragma once

#include <string_view>

namespace corvane::dispatch {

enum View : int {
    view_none = 0,
    view_logon = 1,
    view_main = 2,
    view_list = 3,
    view_message = 4,
    view_attachment = 5,
    view_compose = 6,
    view_compose_advanced = 7,
    view_compose_attach = 8,
    view_compose_spell_check = 9,
    view_options = 10,
    view_options_prefs = 11,
    view_options_hosts = 12,
    view_options_filters = 13,
    view_folders = 14,
    view_addr_book = 15,
    view_addr_lookup = 16,
    view_error = 17,
    view_new_user = 18,
    view_status_check = 19,
    view_logout = 20,
};

constexpr int last_view = view_logout;

// The number of a view name; 0 when the table has no such name.
int view_number(std::string_view name);
// The name of a view number ("List"); empty for 0 and numbers outside the table.
std::string_view view_name(int view);

constexpr bool is_compose_view(int view)
{
    return view >= view_compose && view <= view_compose_spell_check;
}

}  // namespace corvane::dispatch
