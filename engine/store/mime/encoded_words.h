// Decoding of RFC 2047 encoded words ("=?charset?Q?text?=") in header
// values, to UTF-8.
//
// Each encoded word is decoded (B: base64, Q: quoted-printable with "_" as a
// blank) and its bytes are converted from the word's charset to UTF-8
// (charset.h: unknown charsets pass as bytes). Adjacent encoded words,
// separated only by blanks, tabs or a fold, are joined without the blanks
// between them (RFC 2047 section 6.2), and when they share a charset their
// bytes are joined before conversion, so a character split across two words
// survives. Words with an encoding other than B or Q, and text that merely
// looks like a word, stay as they are. Unencoded bytes, 8-bit ones included,
// pass unchanged.
//
// Decoded header text is one line of a stored record: NUL, 0x01, CR and LF
// in it, encoded or not, become blanks.
//
// Not done here: RFC 2231 parameter values (parameters.h), address parsing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/store/mime/charset.h"

namespace corvane::mime {

// Decodes one complete header value.
std::string decode_encoded_words(std::string_view text);

// Replaces the bytes that would split a stored record (NUL, 0x01, CR, LF)
// by blanks, from position from on.
void blank_record_breakers(std::string& s, std::size_t from = 0);

// Decodes a header value that arrives in pieces (the lines of a folded
// header). Every call appends to the same output string, which the caller
// must not change between calls without reset(). The output is complete
// after every call; a later piece may rewrite its end (the blanks after a
// final encoded word, an incomplete character).
class EncodedWordDecoder {
public:
    void append(std::string_view text, std::string& out);
    void reset();

private:
    void append_literal(std::string_view text, std::string& out);
    void append_word(std::string_view charset, std::string_view bytes, bool adjacent, std::string& out);
    CharsetConverter& converter_for(std::string_view charset);

    bool m_after_word = false;     // out ends with a word, then only blanks
    std::size_t m_word_end = 0;    // where the blanks after that word begin
    std::size_t m_tail_start = 0;  // where the rendering of m_tail begins
    std::string m_charset;         // of the last word
    std::string m_tail;            // its bytes that did not yet form a character
    // Opening a converter costs more than decoding a short word; a header
    // rarely uses more than a couple of charsets.
    std::vector<std::pair<std::string, CharsetConverter>> m_converters;
    std::size_t m_next_slot = 0;
};

}  // namespace corvane::mime
