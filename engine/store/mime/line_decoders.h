// Decoding of a MIME part's body one line at a time, and the classification
// that picks the decoder and the way a part is shown.
//
// Bodies are never held in memory: a part is decoded straight from the
// message file, line by line, so the decoders keep what must cross a line
// (the base64 bits that did not yet make a byte, where a uuencoded block
// stands). Lines are given without their CR LF.
//   base64            decoded up to the first character outside the
//                     alphabet (blanks inside a line are skipped); "=" ends
//                     the line and drops the bits left over.
//   quoted-printable  "=XX" becomes the byte, a final "=" is a soft break,
//                     blanks at the end of a line are dropped (RFC 2045
//                     6.7), every other line gets CR LF.
//   uuencode          one uuencoded line; "begin " before the data and the
//                     "end" line are skipped, so a part given with or
//                     without them decodes the same.
//   none              the line with CR LF appended.
// Decoded output is bytes with an explicit length; no charset conversion
// happens here (charset.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::mime {

enum class TransferEncoding { none, base64, quoted_printable, uuencode };
enum class ContentKind { html, text, other };

// "base64", "quoted-printable" and "uuencode" (also "x-uuencode", "x-uue",
// "uue"), without regard to case and surrounding blanks; anything else is
// none.
TransferEncoding classify_encoding(std::string_view transfer_encoding);
// "text/html..." is HTML, other "text..." and "message..." are text.
ContentKind classify_content(std::string_view content_type);
// True when the content type's charset parameter (its text up to the next
// ";") contains "ISO-2022-JP".
bool has_iso2022jp_charset(std::string_view content_type);

struct Classification {
    TransferEncoding encoding = TransferEncoding::none;
    ContentKind kind = ContentKind::text;
    bool iso2022jp = false;
};
Classification classify(std::string_view transfer_encoding, std::string_view content_type);

// The decoded size estimated from the encoded bytes counted while storing:
// three quarters of base64 lines with their line ends (57/78), most of
// quoted-printable (73/78), the rest as it is.
std::int64_t estimate_decoded_size(std::int64_t encoded_size, std::string_view transfer_encoding);

class LineDecoder {
public:
    explicit LineDecoder(TransferEncoding encoding = TransferEncoding::none) : m_encoding(encoding) {}

    // Appends the decoded bytes of one line to out.
    void decode(std::string_view line, std::string& out);
    std::string decode(std::string_view line)
    {
        std::string out;
        decode(line, out);
        return out;
    }
    // Forgets what crossed lines, for the next part.
    void reset();
    TransferEncoding encoding() const { return m_encoding; }

private:
    void decode_base64(std::string_view line, std::string& out);
    void decode_quoted_printable(std::string_view line, std::string& out);
    void decode_uuencode(std::string_view line, std::string& out);

    TransferEncoding m_encoding;
    std::uint32_t m_bits = 0;  // base64 accumulator
    int m_bit_count = 0;
    bool m_uu_started = false;
    bool m_uu_ended = false;
};

}  // namespace corvane::mime
