// Inline styles an HTML mail may keep.
//
// A style attribute is split into declarations; a declaration survives
// when its property is on a list of presentational properties (colours,
// fonts, text, spacing, borders, sizes, alignment) and its value can load
// nothing and run nothing: no url() or other function but the colour
// functions, no backslash escapes, no comments, no at-rules, no angle
// brackets, balanced quotes. Positioning is not on the list: a message must
// not lay itself over the page that shows it. The survivors are written back
// as "name: value; name: value".
#pragma once

#include <string>
#include <string_view>

namespace corvane::sanitize {

// Longest style attribute looked at; a longer one is dropped whole.
constexpr std::size_t kMaxStyle = 8192;

std::string filter_style(std::string_view style);

}  // namespace corvane::sanitize
