// The encoders every page goes through, and the decoder of form data.
//
// - Form decoding: "+" is a blank and "%" with the next two characters is one
//   byte, whatever those characters are (a character that is not a
//   hexadecimal digit counts as 0, so "%G1" is the byte 0x01). A "%" with
//   fewer than two characters after it is kept as it stands.
// - URL encoding, for values placed into links: letters, digits and
//   ! $ ' ( ) * , - . _ ~ stay, a blank becomes "+", every other byte "%XX".
// - HTML escaping of plain text, for values placed into attributes and form
//   fields: " & < > become entities, nothing else changes.
// - HTML escaping of formatted text, for multi-line text shown as it is: the
//   same entities, a line feed becomes "<BR>" CR LF, a carriage return
//   disappears, a tab and every pair of blanks keep their width with
//   non-breaking blanks.
//
// Nothing here knows about character sets: bytes above 0x7F pass through the
// escapes unchanged and are percent-encoded by the URL encoder.
#pragma once

#include <string>
#include <string_view>

namespace corvane::cgi {

class OutputStream;

// Decodes form data in place.
void decode_form_text(std::string& text);
std::string decoded_form_text(std::string_view text);

void url_encode(std::string_view text, std::string& out);
std::string url_encoded(std::string_view text);

void escape_html(std::string_view text, std::string& out);
void escape_html(std::string_view text, OutputStream& out);
std::string html_escaped(std::string_view text);

void escape_html_formatted(std::string_view text, std::string& out);
void escape_html_formatted(std::string_view text, OutputStream& out);
std::string html_escaped_formatted(std::string_view text);

// The value of the cookie name in an HTTP Cookie header ("a=1; User=x"),
// matched at a cookie boundary and with exact case, up to the next ";";
// empty when there is none. A name that merely ends another cookie's name
// ("OldUser=") does not match.
std::string_view cookie_value(std::string_view header, std::string_view name);

}  // namespace corvane::cgi
