// Address lists as people type them: "Jo <jo@x.org>, \"Smith, Ann\" <a@y>;
// b@z (Bob)". Splitting a list into its addresses, and reducing one address
// to its bare form or its display name.
//
// Not done here: validation. An address is whatever stands between the
// angle brackets (or the text without comments); these helpers never fail,
// they only bound and reduce.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::addrbook {

// The pieces of a list split at "," and ";" outside double quotes (a double
// quote toggles quoting, a backslash makes the next character ordinary),
// each trimmed; empty pieces are dropped.
std::vector<std::string> split_address_list(std::string_view list);

// The bare address: the text between the first "<" and the next ">", or,
// without "<", the text without its "(comments)"; trimmed.
std::string address_of(std::string_view text);
// The display name: without double quotes; the text before "<" (or, for
// "<address>" alone, the address); "(name)" after an address gives name.
std::string display_name_of(std::string_view text);

}  // namespace corvane::addrbook
