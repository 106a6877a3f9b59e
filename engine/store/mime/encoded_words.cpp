#include "engine/store/mime/encoded_words.h"

#include "common/text/base64.h"
#include "common/text/strings.h"
#include "engine/store/mime/charset.h"

namespace corvane::mime {

namespace {

// RFC 2047 especials: they end the charset and the encoding token.
bool is_especial(char c)
{
    switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '@':
    case ',':
    case ';':
    case ':':
    case '"':
    case '/':
    case '[':
    case ']':
    case '?':
    case '.':
    case '=':
        return true;
    default:
        return false;
    }
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool all_blank(std::string_view s)
{
    for (char c : s) {
        if (!is_blank(c))
            return false;
    }
    return true;
}

std::string decode_q(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=' && i + 2 < text.size() && text::hex_value(text[i + 1]) >= 0 &&
                   text::hex_value(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(text::hex_value(text[i + 1]) * 16 + text::hex_value(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Lenient: blanks inside the word are skipped (a careless fold), decoding
// stops at padding or any other character outside the alphabet, and bits
// that do not fill a byte are dropped.
std::string decode_b(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 3 / 4);
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (is_blank(c))
            continue;
        int v = text::base64_value(c);
        if (v < 0)
            break;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

// One "=?charset?X?text?=" found at a given position.
struct Word {
    std::size_t end = 0;  // just after "?="
    std::string_view charset;
    char encoding = 0;
    std::string_view text;
};

// Finds "?=" without rescanning: candidates are examined left to right, so
// the answer for one start stays valid for every later start before it.
class CloseFinder {
public:
    explicit CloseFinder(std::string_view s) : m_s(s) {}
    std::size_t find(std::size_t from)
    {
        if (m_known == std::string_view::npos && m_searched)
            return std::string_view::npos;
        if (!m_searched || m_known < from) {
            m_known = m_s.find("?=", from);
            m_searched = true;
        }
        return m_known;
    }

private:
    std::string_view m_s;
    std::size_t m_known = std::string_view::npos;
    bool m_searched = false;
};

// Parses the word whose "=?" is at p. False when the text there is not a
// complete word.
bool parse_word(std::string_view s, std::size_t p, CloseFinder& closes, Word& word)
{
    std::size_t i = p + 2;
    while (i < s.size() && !is_especial(s[i]))
        ++i;
    if (i >= s.size() || s[i] != '?')
        return false;
    word.charset = s.substr(p + 2, i - p - 2);
    std::size_t token = i + 1;
    std::size_t j = token;
    while (j < s.size() && !is_especial(s[j]))
        ++j;
    if (j >= s.size() || s[j] != '?' || j == token)
        return false;
    // A longer token ("BX") is not an encoding RFC 2047 knows.
    word.encoding = j - token == 1 ? s[token] : '\0';
    std::size_t close = closes.find(j + 1);
    if (close == std::string_view::npos)
        return false;
    word.text = s.substr(j + 1, close - j - 1);
    word.end = close + 2;
    return true;
}

}  // namespace

void blank_record_breakers(std::string& s, std::size_t from)
{
    for (std::size_t i = from; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\0' || c == '\x01' || c == '\r' || c == '\n')
            s[i] = ' ';
    }
}

void EncodedWordDecoder::reset()
{
    m_after_word = false;
    m_word_end = 0;
    m_tail_start = 0;
    m_charset.clear();
    m_tail.clear();
}

void EncodedWordDecoder::append_literal(std::string_view text, std::string& out)
{
    if (text.empty())
        return;
    if (!(m_after_word && all_blank(text))) {
        m_after_word = false;
        m_tail.clear();
    }
    std::size_t from = out.size();
    out.append(text);
    blank_record_breakers(out, from);
}

void EncodedWordDecoder::append_word(std::string_view charset, std::string_view bytes, bool adjacent, std::string& out)
{
    std::string joined;
    if (adjacent && !m_tail.empty() && text::iequals(charset, m_charset)) {
        // Same charset as the word before: its unfinished character goes on.
        out.resize(m_tail_start);
        joined = std::move(m_tail);
        joined.append(bytes);
        bytes = joined;
    } else if (adjacent) {
        out.resize(m_word_end);
    }
    m_charset.assign(charset);
    m_tail.clear();

    CharsetConverter& converter = converter_for(charset);
    std::size_t from = out.size();
    converter.convert(bytes, out);
    m_tail = converter.take_pending();
    m_tail_start = out.size();
    if (!m_tail.empty()) {
        // Shown as it would end here; the next word may replace it.
        converter.convert(m_tail, out);
        converter.finish(out);
    }
    blank_record_breakers(out, from);
    m_word_end = out.size();
    m_after_word = true;
}

CharsetConverter& EncodedWordDecoder::converter_for(std::string_view charset)
{
    constexpr std::size_t kSlots = 4;
    for (auto& [name, converter] : m_converters) {
        if (name == charset)
            return converter;
    }
    if (m_converters.size() < kSlots) {
        m_converters.emplace_back(std::string(charset), CharsetConverter(charset));
        return m_converters.back().second;
    }
    auto& slot = m_converters[m_next_slot];
    m_next_slot = (m_next_slot + 1) % kSlots;
    slot = {std::string(charset), CharsetConverter(charset)};
    return slot.second;
}

void EncodedWordDecoder::append(std::string_view text, std::string& out)
{
    CloseFinder closes(text);
    std::size_t literal_from = 0;
    std::size_t search = 0;
    while (true) {
        std::size_t p = text.find("=?", search);
        if (p == std::string_view::npos)
            break;
        Word word;
        if (!parse_word(text, p, closes, word)) {
            search = p + 2;
            continue;
        }
        char e = word.encoding;
        if (e != 'B' && e != 'b' && e != 'Q' && e != 'q') {
            // Unknown encoding: the word stays as it is, part of the literal.
            search = word.end;
            continue;
        }
        std::string_view gap = text.substr(literal_from, p - literal_from);
        bool adjacent = m_after_word && all_blank(gap);
        if (!adjacent)
            append_literal(gap, out);
        std::string bytes = (e == 'B' || e == 'b') ? decode_b(word.text) : decode_q(word.text);
        append_word(word.charset, bytes, adjacent, out);
        literal_from = word.end;
        search = word.end;
    }
    append_literal(text.substr(literal_from), out);
}

std::string decode_encoded_words(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    EncodedWordDecoder decoder;
    decoder.append(text, out);
    return out;
}

}  // namespace corvane::mime
