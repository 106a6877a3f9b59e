// HTML mail made safe to show inside a page of this system.
//
// The mail is parsed by an HTML5 parser (Gumbo) as the content of a body
// element and written out again from the tree, keeping only an allow-list
// of presentational elements and attributes:
//   - scripts, styles, forms and their controls, frames, objects, embeds,
//     media, SVG and MathML, templates, noscript and every head element are
//     removed with their content; other unknown elements give up their tags
//     and keep their content;
//   - attributes are kept per element from a fixed list, event handlers,
//     ids, names and classes never (they could reach the page's own script
//     and style); style attributes keep their harmless declarations
//     (style_filter.h); colour, size and keyword attributes only plain
//     values;
//   - links keep http, https and mailto URLs and open in a new tab without
//     an opener or referrer; images keep data: images, cid: references
//     become requests for that part of the message (cid_url_prefix), and
//     images from other servers are left out unless the reader asked for
//     them on this message (then https ones only), which the report tells;
//   - comments go, text and attribute values are escaped again, so what the
//     browser parses from the output is the tree written, and sanitising
//     the output again gives the same output.
// Cost is bounded: input beyond max_input is cut, and the nesting limit
// (nesting_limit.h) runs before the parser.
//
// Not done here: choosing which part of a document is shown (the body
// renderer does), charset conversion (the input is UTF-8).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/store/html_sanitizer/nesting_limit.h"

namespace corvane::sanitize {

struct Policy {
    // A cid: reference becomes this prefix followed by the URL-encoded
    // Content-ID. Empty: cid: references are left out.
    std::string cid_url_prefix;
    // The reader asked to see this message's images from other servers.
    bool allow_remote_images = false;
    std::size_t max_input = 2u << 20;
    NestingLimits nesting;
};

struct Report {
    // The mail refers to images on other servers ...
    bool remote_images = false;
    // ... and at least one was left out.
    bool remote_images_blocked = false;
    // The input was longer than max_input.
    bool truncated = false;
    // Tags the nesting limit dropped.
    std::size_t dropped_tags = 0;
    // The parser gave up (out of memory); nothing was written.
    bool failed = false;
};

Report sanitize_html(std::string_view html, const Policy& policy, std::string& out);

// Percent-encodes everything but letters, digits and - . _ ~ (RFC 3986's
// unreserved characters), for values placed into a query string.
void percent_encode(std::string_view value, std::string& out);

}  // namespace corvane::sanitize
