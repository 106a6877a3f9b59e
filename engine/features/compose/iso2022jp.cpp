#include "engine/features/compose/iso2022jp.h"

#include <errno.h>
#include <iconv.h>

#include <array>
#include <cstdint>

namespace corvane::compose {
namespace {

// U+FF61.. U+FF9F in order: their full-width counterparts.
constexpr std::array<char16_t, 63> kWide = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
    0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
    0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C};

constexpr char32_t kVoicedMark = 0xFF9E;
constexpr char32_t kSemiVoicedMark = 0xFF9F;

bool takes_voiced_mark(char32_t c)
{
    return (c >= 0x30AB && c <= 0x30C2 && (c - 0x30AB) % 2 == 0) || c == 0x30C4 || c == 0x30C6 || c == 0x30C8 ||
           (c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0);
}
bool takes_semi_voiced_mark(char32_t c)
{
    return c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0;
}

// Decodes one UTF-8 character at s[i]; advances i. A byte that does not
// start a valid sequence decodes as itself with length 1 and returns false.
bool next_char(std::string_view s, std::size_t& i, char32_t& c)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    int len = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
        c = b0;
        ++i;
        return len == 1;
    }
    char32_t v = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            c = b0;
            ++i;
            return false;
        }
        v = (v << 6) | (b & 0x3F);
    }
    c = v;
    i += static_cast<std::size_t>(len);
    return true;
}

void put_utf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// iconv to ISO-2022-JP. Conversion state (the JIS mode) lives in the
// descriptor across calls.
class ToIso2022jp {
public:
    ToIso2022jp() : m_cd(iconv_open("ISO-2022-JP", "UTF-8")) {}
    ~ToIso2022jp()
    {
        if (valid())
            iconv_close(m_cd);
    }
    ToIso2022jp(const ToIso2022jp&) = delete;
    ToIso2022jp& operator=(const ToIso2022jp&) = delete;
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of text as it can; returns the bytes consumed. Stops
    // before the first character that has no place in ISO-2022-JP or is not
    // UTF-8.
    std::size_t run(std::string_view text, std::string& out)
    {
        char* src = const_cast<char*>(text.data());
        std::size_t left = text.size();
        char buffer[4096];
        while (left > 0) {
            char* dst = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t r = iconv(m_cd, &src, &left, &dst, &room);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG)
                break;
        }
        return text.size() - left;
    }
    // Back to ASCII mode.
    void reset(std::string& out)
    {
        char buffer[16];
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &dst, &room);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
    }

private:
    iconv_t m_cd;
};

}  // namespace

std::string widen_katakana(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t start = i;
        char32_t c = 0;
        if (!next_char(utf8, i, c) || c < 0xFF61 || c > 0xFF9F) {
            out.append(utf8.substr(start, i - start));
            continue;
        }
        char32_t wide = kWide[c - 0xFF61];
        std::size_t after = i;
        char32_t mark = 0;
        if (after < utf8.size() && next_char(utf8, after, mark)) {
            if (mark == kVoicedMark && wide == 0x30A6) {
                wide = 0x30F4;
                i = after;
            } else if (mark == kVoicedMark && takes_voiced_mark(wide)) {
                wide += 1;
                i = after;
            } else if (mark == kSemiVoicedMark && takes_semi_voiced_mark(wide)) {
                wide += 2;
                i = after;
            }
        }
        put_utf8(wide, out);
    }
    return out;
}

std::string utf8_to_iso2022jp(std::string_view utf8)
{
    const std::string text = widen_katakana(utf8);
    ToIso2022jp converter;
    std::string out;
    out.reserve(text.size() + 8);
    if (!converter.valid()) {
        for (char c : text)
            out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
        return out;
    }
    std::size_t i = 0;
    while (i < text.size()) {
        i += converter.run(std::string_view(text).substr(i), out);
        if (i >= text.size())
            break;
        // One character without a place (or not UTF-8): a "?" in ASCII mode.
        char32_t c = 0;
        next_char(text, i, c);
        converter.reset(out);
        out += '?';
    }
    converter.reset(out);
    return out;
}

}  // namespace corvane::compose
