// Address helpers: the display name or the bare address of an address
// header value, and the split of a recipient list into its addresses.
//
// Shared by everything that shows, sorts or stores people: the message list
// (sorting and showing senders), adding a sender to the address book,
// replies and read confirmations. The rules are deliberately simple and
// fixed, because list order and address-book entries depend on them:
//   display_name("Ann Lee" <ann@example.org>)   -> Ann Lee
//   display_name(<ann@example.org>)             -> ann@example.org
//   display_name(ann@example.org (Ann Lee))     -> Ann Lee
//   bare_address(Ann Lee <ann@example.org>)     -> ann@example.org
//   bare_address(ann@example.org (Ann Lee))     -> ann@example.org
// What they do not do: validate an address, decode RFC 2047 words (values
// from a header list already are), or follow RFC 5322 group syntax.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::addresses {

// The name a person goes by in an address value: double quotes removed;
// an address in angle brackets gives way to the text before it (or is the
// result when nothing stands before it); a value ending in a comment in
// parentheses gives the comment. Blanks and control characters are trimmed.
std::string display_name(std::string_view value);

// The bare address: the text inside the first angle brackets, or, without
// them, the value with its comments in parentheses removed; trimmed. A value
// made only of blanks and ">" gives "".
std::string bare_address(std::string_view value);

// The first address of a recipient list: the value up to the first comma or
// semicolon outside double quotes (a backslash hides the next character),
// trimmed.
std::string_view first_of_list(std::string_view list);

// Every non-empty address of a recipient list, split as first_of_list does.
std::vector<std::string_view> split_list(std::string_view list);

}  // namespace corvane::addresses
