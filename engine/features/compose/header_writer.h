// Writing one header field of an outgoing message: "Name: value" with the
// value cleaned, folded when it is long, and its non-ASCII text written as
// RFC 2047 encoded words.
//
// ASCII values longer than 76 characters fold at the last blank that keeps
// the line within 76 (the blank stays, as the fold's white space); a value
// without such a blank folds at its next blank or not at all, so folding
// never changes the text. Values with 8-bit bytes are written as plain and
// encoded runs:
//   - bytes with the high bit are encoded, together with the whole word
//     they belong to (letters, digits, "/", "@" and the like around them);
//   - neighbouring encoded runs merge when only separators (in a Subject:
//     anything) stand between them, so a phrase becomes one encoded word;
//   - in a Subject, an encoded run also takes in the punctuation that
//     touches it, so encoded words always stand between blanks;
//   - in address fields, a quoted display name with 8-bit text loses its
//     quotes and is encoded whole (encoded words are not decoded inside
//     quotes), and the Q form keeps only the characters a phrase allows;
//   - each run becomes an encoded word in B or Q form, whichever is
//     shorter (always B for ISO-2022-JP); in unstructured text a long run
//     is split into words of at most 75 characters at character boundaries
//     and folded between them (display names stay one word: readers
//     disagree on the blank between two words of a phrase).
// CR, LF, NUL and the other control bytes never reach the output: they
// become blanks before anything else happens, so a value can never start a
// header line of its own.
#pragma once

#include <string>
#include <string_view>

namespace corvane::compose {

enum class HeaderKind {
    text,     // unstructured (Subject and the like)
    address,  // From, To, CC, BCC, Reply-To
};

struct WordCharset {
    // The label of encoded words (and of the body's charset): the language's
    // character set name, "UTF-8" for the shipped languages.
    std::string name = "UTF-8";
    // Japanese sessions send ISO-2022-JP.
    bool iso2022jp = false;
};

// Longest line written when a fold is possible.
constexpr std::size_t fold_width = 76;
// Longest encoded word (RFC 2047).
constexpr std::size_t max_encoded_word = 75;

// True when any byte has the high bit set.
bool is_8bit(std::string_view text);
// Control bytes (CR, LF, NUL, ... and DEL) replaced by blanks; tabs too.
std::string clean_header_value(std::string_view value);

// Appends the header line(s), each ending in "\n".
void write_header(std::string& out, std::string_view name, std::string_view value, HeaderKind kind,
                  const WordCharset& charset);

// One run of text as encoded words (without folding), for tests and the
// file names of attachments: the words joined by "\n ".
std::string encode_words(std::string_view text, HeaderKind kind, const WordCharset& charset);

}  // namespace corvane::compose
