#include "engine/features/compose/header_writer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/text/base64.h"
#include "engine/features/compose/iso2022jp.h"

namespace corvane::compose {
namespace {

enum class CharClass : std::uint8_t { word = 1, separator = 2, encoded = 3 };

CharClass class_of(unsigned char c)
{
    if (c >= 0x80)
        return CharClass::encoded;
    if (c == '/' || (c >= '0' && c <= '9') || c >= '@')
        return CharClass::word;
    return CharClass::separator;
}

bool q_keeps(unsigned char c, HeaderKind kind)
{
    if (kind == HeaderKind::address) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
               c == '+' || c == '-' || c == '/';
    }
    return c >= '!' && c <= '~' && c != '=' && c != '?' && c != '_';
}

std::size_t q_length(unsigned char c, HeaderKind kind)
{
    return (c == ' ' || q_keeps(c, kind)) ? 1 : 3;
}

std::string q_encode(std::string_view bytes, HeaderKind kind)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c == ' ') {
            out += '_';
        } else if (q_keeps(c, kind)) {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

// Length of the UTF-8 sequence that starts with b (1 for anything else).
std::size_t sequence_length(unsigned char b)
{
    if ((b >> 5) == 0x6)
        return 2;
    if ((b >> 4) == 0xE)
        return 3;
    if ((b >> 3) == 0x1E)
        return 4;
    return 1;
}

std::string one_word(std::string_view chunk, HeaderKind kind, const WordCharset& charset)
{
    if (charset.iso2022jp)
        return "=?ISO-2022-JP?B?" + text::base64_encode(utf8_to_iso2022jp(chunk)) + "?=";
    const std::string b = text::base64_encode(chunk);
    const std::string q = q_encode(chunk, kind);
    if (b.size() < q.size())
        return "=?" + charset.name + "?B?" + b + "?=";
    return "=?" + charset.name + "?Q?" + q + "?=";
}

// The words of one encoded run, each within max_encoded_word where a single
// character allows it.
std::vector<std::string> encoded_words(std::string_view run, HeaderKind kind, const WordCharset& charset)
{
    std::vector<std::string> words;
    // "=?" charset "?B?" payload "?=": 7 characters around the charset.
    const std::size_t overhead = (charset.iso2022jp ? std::string_view("ISO-2022-JP").size() : charset.name.size()) + 7;
    std::size_t start = 0;
    while (start < run.size()) {
        std::size_t end = start;
        std::size_t bytes = 0;
        std::size_t q = 0;
        while (end < run.size()) {
            std::size_t len = std::min(sequence_length(static_cast<unsigned char>(run[end])), run.size() - end);
            std::size_t next_q = q;
            for (std::size_t k = 0; k < len; ++k)
                next_q += q_length(static_cast<unsigned char>(run[end + k]), kind);
            std::size_t fits;
            if (charset.iso2022jp) {
                const std::string converted = utf8_to_iso2022jp(run.substr(start, end + len - start));
                fits = overhead + (converted.size() + 2) / 3 * 4;
            } else {
                fits = overhead + std::min((bytes + len + 2) / 3 * 4, next_q);
            }
            if (fits > max_encoded_word && end > start)
                break;
            end += len;
            bytes += len;
            q = next_q;
        }
        words.push_back(one_word(run.substr(start, end - start), kind, charset));
        start = end;
    }
    return words;
}

// Address fields: quoted strings holding 8-bit text lose their quotes and
// escapes; their bytes are marked to be encoded as a whole.
void unquote_8bit_names(std::string& value, std::vector<bool>& forced)
{
    std::string out;
    std::vector<bool> marks;
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] != '"') {
            out += value[i++];
            marks.push_back(false);
            continue;
        }
        std::size_t j = i + 1;
        std::string content;
        bool closed = false;
        while (j < value.size()) {
            if (value[j] == '\\' && j + 1 < value.size()) {
                content += value[j + 1];
                j += 2;
            } else if (value[j] == '"') {
                closed = true;
                ++j;
                break;
            } else {
                content += value[j++];
            }
        }
        if (closed && is_8bit(content)) {
            out += content;
            marks.insert(marks.end(), content.size(), true);
        } else {
            out.append(value, i, j - i);
            marks.insert(marks.end(), j - i, false);
        }
        i = j;
    }
    value = std::move(out);
    forced = std::move(marks);
}

// first: where the value begins; a fold right after "Name:" gains nothing.
void fold_ascii(std::string& out, const std::string& line, std::size_t first)
{
    std::string_view rest = line;
    while (rest.size() > fold_width) {
        std::size_t p = std::string_view::npos;
        for (std::size_t k = fold_width; k >= first; --k) {
            if (rest[k] == ' ') {
                p = k;
                break;
            }
        }
        if (p == std::string_view::npos)
            p = rest.find(' ', std::max(fold_width + 1, first));
        if (p == std::string_view::npos)
            break;
        out.append(rest.substr(0, p));
        out += '\n';
        rest.remove_prefix(p);
        first = 1;
    }
    out.append(rest);
    out += '\n';
}

}  // namespace

bool is_8bit(std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return true;
    }
    return false;
}

std::string clean_header_value(std::string_view value)
{
    std::string out(value);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return out;
}

std::string encode_words(std::string_view text, HeaderKind kind, const WordCharset& charset)
{
    std::string out;
    for (const std::string& w : encoded_words(text, kind, charset)) {
        if (!out.empty())
            out += "\n ";
        out += w;
    }
    return out;
}

void write_header(std::string& out, std::string_view name, std::string_view raw_value, HeaderKind kind,
                  const WordCharset& charset)
{
    std::string value = clean_header_value(raw_value);
    if (!is_8bit(value)) {
        std::string line(name);
        line += ": ";
        line += value;
        fold_ascii(out, line, name.size() + 2);
        return;
    }

    std::vector<bool> forced(value.size(), false);
    if (kind == HeaderKind::address)
        unquote_8bit_names(value, forced);
    const std::size_t n = value.size();
    std::vector<CharClass> cls(n);
    for (std::size_t i = 0; i < n; ++i)
        cls[i] = forced[i] ? CharClass::encoded : class_of(static_cast<unsigned char>(value[i]));

    // Whole words are encoded: a word run touching an encoded byte joins it.
    std::vector<CharClass> original = cls;
    for (std::size_t i = 0; i < n;) {
        if (original[i] != CharClass::word) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < n && original[j] == CharClass::word)
            ++j;
        const bool touches =
            (i > 0 && original[i - 1] == CharClass::encoded) || (j < n && original[j] == CharClass::encoded);
        if (touches) {
            for (std::size_t k = i; k < j; ++k)
                cls[k] = CharClass::encoded;
        }
        i = j;
    }
    // In unstructured text an encoded word must stand between blanks.
    if (kind == HeaderKind::text) {
        for (std::size_t i = 0; i < n; ++i) {
            if (cls[i] != CharClass::encoded)
                continue;
            for (std::size_t k = i; k > 0 && cls[k - 1] != CharClass::encoded && value[k - 1] != ' '; --k)
                cls[k - 1] = CharClass::encoded;
            std::size_t k = i + 1;
            while (k < n && cls[k] == CharClass::encoded)
                ++k;
            for (; k < n && value[k] != ' '; ++k)
                cls[k] = CharClass::encoded;
            i = k;
        }
    }
    // Neighbouring encoded runs merge across separators (anything in text).
    for (std::size_t i = 0; i < n; ++i) {
        if (cls[i] != CharClass::encoded)
            continue;
        std::size_t j = i;
        while (j < n && cls[j] == CharClass::encoded)
            ++j;
        std::size_t k = j;
        while (k < n && cls[k] != CharClass::encoded && (kind == HeaderKind::text || cls[k] == CharClass::separator))
            ++k;
        if (k < n && k > j && cls[k] == CharClass::encoded) {
            for (std::size_t m = j; m < k; ++m)
                cls[m] = CharClass::encoded;
        }
        i = j - 1 < i ? i : j - 1;
    }

    out.append(name);
    out += ": ";
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        const bool encode = cls[i] == CharClass::encoded;
        while (j < n && (cls[j] == CharClass::encoded) == encode)
            ++j;
        const std::string_view run = std::string_view(value).substr(i, j - i);
        if (!encode)
            out.append(run);
        else if (kind == HeaderKind::address)
            // Readers differ on the blank between two encoded words of a
            // display name (dropped or kept); one word reads the same in all.
            out += one_word(run, kind, charset);
        else
            out += encode_words(run, kind, charset);
        i = j;
    }
    out += '\n';
}

}  // namespace corvane::compose
