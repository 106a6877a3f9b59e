// Conversion of mail text from its declared character set to UTF-8.
//
// Pages are UTF-8, so header words and body text are converted with iconv
// from the charset the mail declares. What a converter does:
//   - bytes that are invalid in the declared charset become U+FFFD; a
//     multi-byte sequence cut at the end of one piece is completed by the
//     next piece (bodies are decoded line by line, base64 lines do not end on
//     character boundaries);
//   - ISO-2022-JP (and its -1, -2, -3 variants) goes through a lenient
//     walker of its escape sequences, so the loose ISO-2022-JP of real
//     Japanese mail converts instead of failing at the first odd byte;
//   - a charset iconv does not know, an empty name or a name that is not a
//     plausible charset name passes the bytes through unchanged.
// What it does not do: guess undeclared charsets, or touch control
// characters (callers that store text replace those themselves).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace corvane::mime {

// The name to hand to iconv for a declared charset: surrounding blanks and
// quotes and an RFC 2231 language suffix ("utf-8*en") removed, a few names
// common in mail that iconv spells differently mapped. "" when the name is
// empty, longer than 40 bytes or holds characters no charset name has.
std::string normalize_charset(std::string_view declared);

// True when the charset name begins with "ISO-2022-JP" (any case).
bool is_iso2022jp(std::string_view charset);

// A converter for one stream of text in one charset. Not thread-safe; one
// per part being rendered.
class CharsetConverter {
public:
    explicit CharsetConverter(std::string_view charset);
    ~CharsetConverter();
    CharsetConverter(CharsetConverter&&) noexcept;
    CharsetConverter& operator=(CharsetConverter&&) noexcept;
    CharsetConverter(const CharsetConverter&) = delete;
    CharsetConverter& operator=(const CharsetConverter&) = delete;

    // False when bytes pass through unchanged (unknown or empty charset).
    bool converts() const;

    // Appends the UTF-8 form of bytes to out. Bytes of an incomplete
    // sequence at the end are held back for the next call.
    void convert(std::string_view bytes, std::string& out);
    // Ends the stream: held-back bytes become U+FFFD; the converter is ready
    // for a new stream.
    void finish(std::string& out);
    // Hands out the held-back bytes instead of finishing with them, and
    // resets the converter.
    std::string take_pending();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// One-shot conversion of a complete text.
std::string to_utf8(std::string_view charset, std::string_view bytes);

// Converts ISO-2022-JP text to UTF-8. CR and LF return to ASCII, as they do
// in the text lines this is used for.
std::string iso2022jp_to_utf8(std::string_view bytes);

// The Unicode replacement character in UTF-8.
inline constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace corvane::mime
