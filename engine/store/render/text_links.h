// Plain text shown as HTML: the body escape, and links made of the web and
// e-mail addresses in the text.
//
// The escape keeps the look of mail text in a proportional page: a tab is
// " &nbsp; &nbsp;", two blanks are " &nbsp;", each line feed ends the line
// with "<BR>" and CR LF, a CR vanishes, and the four characters that are
// markup become entities. Bytes above 0x7F pass unchanged (the text is
// UTF-8 by now).
//
// Links are found by three character tables, one for words, one for web
// addresses and one for e-mail addresses, walking the text from its start:
// "scheme://host.domain/..." and "www.host.domain..." become links that open
// in a new tab (a final dot or comma is not part of the address), and,
// only where the page belongs to a session (compose_prefix not empty), an
// e-mail address becomes a link to a new message to it. Anything else is
// escaped text.
#pragma once

#include <string>
#include <string_view>

namespace corvane::render {

// The start of a compose link, up to and including "To="; the address is
// URL-encoded after it and "&New=Yes" follows. Empty without a session.
struct LinkContext {
    std::string compose_prefix;
};

// Appends the HTML form of text (any number of lines) to out.
void text_to_html(std::string_view text, const LinkContext& links, std::string& out);

// The body escape alone, without links.
void escape_body(std::string_view text, std::string& out);

}  // namespace corvane::render
