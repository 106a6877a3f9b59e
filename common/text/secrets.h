// Which form fields carry secrets, and their values blanked out of text
// that goes into a log.
//
// A logon by GET puts the password into the URL, and URLs are logged (the
// access log's request line, the engine's request lines). A field is
// secret when its name, decoded as the engine decodes form names (%XX,
// "+" for a blank, cut at a NUL) and compared without regard to case,
// begins with "Pass" or contains "Password" (Password, NewPassword,
// ConfirmPassword, AccountPassword, Pass1, AccountPassword:2 ...). Its
// value is written as "****"; everything else stays as it was sent.
#pragma once

#include <string>
#include <string_view>

namespace corvane::text {

constexpr std::string_view secret_mask = "****";

// name as it stands in a field table (already decoded).
bool is_secret_field(std::string_view name);

// A form text ("a=1&Password=x&b=2") with the values of secret fields
// replaced by the mask.
std::string mask_secret_fields(std::string_view form);

// A request line ("GET /Corvane?User=a&Password=x HTTP/1.0") with the
// query string of its URL masked like a form.
std::string mask_request_line(std::string_view request_line);

}  // namespace corvane::text
