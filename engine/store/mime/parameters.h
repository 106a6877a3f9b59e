// Reading the structured header values a part record is made from:
// Content-Type, Content-Disposition, Content-Transfer-Encoding, Content-ID.
//
// Parameters ("; name=value") are found by name without regard to case,
// the first occurrence wins, quoted values lose their quotes and backslash
// escapes, and an unquoted value runs to the next ";". When the plain form
// of a parameter is absent, its RFC 2231 form (name*=charset''%XX and the
// numbered continuations name*0, name*1*, ...) is read and converted to
// UTF-8. Values are those of a header list, so RFC 2047 words in them are
// already decoded.
//
// The fields of a part record are at most 79 bytes (cut at a UTF-8
// boundary) and never hold NUL, 0x01, CR or LF. A boundary is kept whole
// whatever its length: it lives in a string, not a fixed field, and cutting
// it would only make its lines unrecognisable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::mime {

inline constexpr std::size_t kMaxPartField = 79;
// The message's own content type as the receiver keeps it.
inline constexpr std::size_t kMaxTopContentType = 63;

// The type without parameters ("text/plain"): up to the first ";" or blank,
// trimmed, at most max bytes.
std::string content_type_of(std::string_view content_type, std::size_t max = kMaxPartField);

// A parameter's value, or nullopt when the value has no such parameter.
std::optional<std::string> parameter_of(std::string_view header_value, std::string_view name);

// A file name parameter ("name" of Content-Type, "filename" of
// Content-Disposition) bounded for a part record; "" when absent.
std::string file_name_of(std::string_view header_value, std::string_view parameter_name);

// Content-ID without blanks and angle brackets: "<a@b>" is "a@b".
std::string content_id_of(std::string_view content_id);

// Content-Transfer-Encoding trimmed and bounded.
std::string transfer_encoding_of(std::string_view transfer_encoding);

// The charset parameter of a content type, a bare token ("" when absent).
std::string charset_of(std::string_view content_type);

// "--" followed by the boundary parameter of a multipart content type, or
// nullopt when it has no usable (non-empty) boundary. An unquoted boundary
// ends at a blank or at any of ( ) < > @ , ; : \ " / [ ] ? =.
std::optional<std::string> boundary_of(std::string_view content_type);

}  // namespace corvane::mime
