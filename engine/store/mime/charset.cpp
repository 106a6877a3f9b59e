#include "engine/store/mime/charset.h"

#include <errno.h>
#include <iconv.h>

#include <array>
#include <utility>

#include "common/text/strings.h"

namespace corvane::mime {

namespace {

constexpr std::size_t kMaxCharsetName = 40;
// An incomplete sequence is never longer than this in any charset iconv
// knows; more held-back bytes mean the converter is confused, not waiting.
constexpr std::size_t kMaxPending = 16;

bool is_charset_char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == ':' || c == '+';
}

// Names mail programs use that glibc's iconv spells differently. Where a
// charset has a common superset that mailers actually send under its name
// (GB2312 mail holds GBK, KS C 5601 mail is CP949), the superset is used.
struct Alias {
    std::string_view name;
    std::string_view iconv_name;
};
constexpr std::array kAliases = {
    Alias{"ks_c_5601-1987", "CP949"},
    Alias{"ks_c_5601", "CP949"},
    Alias{"x-windows-949", "CP949"},
    Alias{"x-sjis", "SHIFT_JIS"},
    Alias{"x-gbk", "GBK"},
    Alias{"gb2312", "GBK"},
    Alias{"unicode-1-1-utf-7", "UTF-7"},
    Alias{"iso-8859-8-i", "ISO-8859-8"},
    Alias{"iso-8859-6-i", "ISO-8859-6"},
    Alias{"ansi-x3.4-1968", "ASCII"},
    Alias{"x-mac-roman", "MACINTOSH"},
    Alias{"x-euc-jp", "EUC-JP"},
    Alias{"x-euc", "EUC-JP"},
    Alias{"utf8", "UTF-8"},
    Alias{"x-unicode-2-0-utf-8", "UTF-8"},
    // Python's email package labels these two with its codec names.
    Alias{"eucgb2312_cn", "GBK"},
    Alias{"big5_tw", "BIG5"},
};

// iconv from one charset to UTF-8, replacing invalid bytes.
class Iconv {
public:
    Iconv() = default;
    ~Iconv()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool open(const std::string& from)
    {
        m_cd = iconv_open("UTF-8", from.c_str());
        return valid();
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    void convert(std::string_view in, std::string& out)
    {
        if (!m_pending.empty()) {
            std::string joined = std::move(m_pending);
            m_pending.clear();
            joined.append(in);
            run(joined, out);
        } else {
            run(in, out);
        }
    }

    void finish(std::string& out)
    {
        if (!m_pending.empty())
            out.append(kReplacement);
        m_pending.clear();
        reset(out);
    }

    std::string take_pending()
    {
        std::string pending = std::move(m_pending);
        m_pending.clear();
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        return pending;
    }

private:
    void run(std::string_view in, std::string& out)
    {
        // iconv's interface is not const-correct; it never writes the input.
        char* in_ptr = const_cast<char*>(in.data());
        std::size_t in_left = in.size();
        while (in_left > 0) {
            std::size_t used = out.size();
            out.resize(used + in_left * 4 + 16);
            char* out_ptr = out.data() + used;
            std::size_t out_left = out.size() - used;
            std::size_t rc = iconv(m_cd, &in_ptr, &in_left, &out_ptr, &out_left);
            int err = errno;
            out.resize(static_cast<std::size_t>(out_ptr - out.data()));
            if (rc != static_cast<std::size_t>(-1))
                break;
            if (err == E2BIG)
                continue;
            if (err == EINVAL && in_left <= kMaxPending) {
                m_pending.assign(in_ptr, in_left);
                break;
            }
            // EILSEQ, or an "incomplete" tail too long to be one.
            out.append(kReplacement);
            ++in_ptr;
            --in_left;
        }
    }

    void reset(std::string& out)
    {
        // Returns a stateful encoding to its initial state; for UTF-7 this
        // may flush a last character.
        std::array<char, 32> tail{};
        char* out_ptr = tail.data();
        std::size_t out_left = tail.size();
        if (iconv(m_cd, nullptr, nullptr, &out_ptr, &out_left) != static_cast<std::size_t>(-1))
            out.append(tail.data(), static_cast<std::size_t>(out_ptr - tail.data()));
    }

    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    iconv_t m_cd = reinterpret_cast<iconv_t>(-1);
    std::string m_pending;
};

// ISO-2022-JP as written by real mailers: a 7-bit stream switched between
// ASCII, JIS X 0208 (kanji), JIS X 0212 and half-width katakana by escape
// sequences. The walker turns it into EUC-JP, which iconv maps to Unicode;
// what cannot be mapped becomes the geta mark, as Japanese software does.
class Iso2022JpWalker {
public:
    void feed(std::string_view in, std::string& euc)
    {
        for (char ch : in)
            step(static_cast<unsigned char>(ch), euc);
    }

    // What a following piece needs to continue where this one stopped: the
    // escape that selected the current mode, an unfinished escape and an
    // unpaired byte.
    std::string pending() const
    {
        std::string p;
        if (m_mode != Mode::ascii)
            p = m_mode_escape;
        p += m_escape;
        if (m_first >= 0)
            p += static_cast<char>(m_first);
        return p;
    }

    bool has_incomplete() const { return !m_escape.empty() || m_first >= 0; }

    void reset()
    {
        m_mode = Mode::ascii;
        m_mode_escape.clear();
        m_escape.clear();
        m_first = -1;
    }

private:
    enum class Mode { ascii, kana, jis0208, jis0212, unknown_double };

    static constexpr std::string_view kGeta = "\xA2\xAE";

    void step(unsigned char b, std::string& euc)
    {
        if (!m_escape.empty()) {
            m_escape.push_back(static_cast<char>(b));
            if (b >= 0x20 && b <= 0x2F && m_escape.size() < 4)
                return;
            if (b >= 0x30 && b <= 0x7E) {
                apply_escape();
                m_escape.clear();
                return;
            }
            // Not an escape after all: drop it and read the byte normally.
            m_escape.clear();
        }
        if (b == 0x1B) {
            drop_half(euc);
            m_escape.push_back('\x1B');
            return;
        }
        if (b == '\r' || b == '\n') {
            drop_half(euc);
            set_mode(Mode::ascii, {});
            euc.push_back(static_cast<char>(b));
            return;
        }
        if (b == 0x0E) {  // SO: katakana in the 7-bit JIS of some old mailers
            drop_half(euc);
            set_mode(Mode::kana, "\x0E");
            return;
        }
        if (b == 0x0F) {  // SI
            drop_half(euc);
            set_mode(Mode::ascii, {});
            return;
        }
        if (b >= 0x80) {
            drop_half(euc);
            euc.append(kGeta);
            return;
        }
        switch (m_mode) {
        case Mode::ascii:
            euc.push_back(static_cast<char>(b));
            return;
        case Mode::kana:
            if (b >= 0x21 && b <= 0x5F) {
                euc.push_back('\x8E');
                euc.push_back(static_cast<char>(b | 0x80));
            } else {
                euc.push_back(static_cast<char>(b));
            }
            return;
        case Mode::jis0208:
        case Mode::jis0212:
        case Mode::unknown_double:
            break;
        }
        if (b < 0x21 || b == 0x7F) {
            drop_half(euc);
            euc.push_back(static_cast<char>(b));
            return;
        }
        if (m_first < 0) {
            m_first = b;
            return;
        }
        auto first = static_cast<unsigned char>(m_first);
        m_first = -1;
        if (m_mode == Mode::jis0208) {
            euc.push_back(static_cast<char>(first | 0x80));
            euc.push_back(static_cast<char>(b | 0x80));
        } else if (m_mode == Mode::jis0212) {
            euc.push_back('\x8F');
            euc.push_back(static_cast<char>(first | 0x80));
            euc.push_back(static_cast<char>(b | 0x80));
        } else {
            euc.append(kGeta);
        }
    }

    void drop_half(std::string& euc)
    {
        if (m_first >= 0)
            euc.append(kGeta);
        m_first = -1;
    }

    void set_mode(Mode mode, std::string_view escape)
    {
        m_mode = mode;
        m_mode_escape.assign(escape);
    }

    void apply_escape()
    {
        std::string_view seq = std::string_view(m_escape).substr(1);
        if (seq == "(B" || seq == "(J" || seq == "(H" || seq == "H")
            set_mode(Mode::ascii, {});
        else if (seq == "(I")
            set_mode(Mode::kana, m_escape);
        else if (seq == "$@" || seq == "$B" || seq == "$(B" || seq == "$(Q" || seq == "$(O" || seq == "K")
            set_mode(Mode::jis0208, m_escape);
        else if (seq == "$(D")
            set_mode(Mode::jis0212, m_escape);
        else if (!seq.empty() && seq[0] == '$')
            set_mode(Mode::unknown_double, m_escape);
        // Other escapes (announcers, G2 designations, single shifts) leave
        // the mode as it is.
    }

    Mode m_mode = Mode::ascii;
    std::string m_mode_escape;
    std::string m_escape;
    int m_first = -1;
};

}  // namespace

std::string normalize_charset(std::string_view declared)
{
    std::string_view name = text::trim(declared);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = text::trim(name.substr(1, name.size() - 2));
    if (auto star = name.find('*'); star != std::string_view::npos)
        name = name.substr(0, star);
    if (name.empty() || name.size() > kMaxCharsetName)
        return {};
    for (char c : name) {
        if (!is_charset_char(c))
            return {};
    }
    for (const auto& alias : kAliases) {
        if (text::iequals(name, alias.name))
            return std::string(alias.iconv_name);
    }
    return text::upper(name);
}

bool is_iso2022jp(std::string_view charset)
{
    return text::istarts_with(text::trim(charset), "ISO-2022-JP");
}

struct CharsetConverter::State {
    enum class Kind { passthrough, iconv, iso2022jp };
    Kind kind = Kind::passthrough;
    std::string name;  // as handed to iconv
    Iconv iconv;
    Iso2022JpWalker walker;
    std::string euc;  // walker output, reused

    explicit State(std::string_view charset)
    {
        if (is_iso2022jp(charset)) {
            kind = Kind::iso2022jp;
            name = "EUC-JP";
        } else {
            name = normalize_charset(charset);
            if (name.empty())
                return;
            kind = Kind::iconv;
        }
        if (!iconv.open(name))
            kind = Kind::passthrough;
    }
};

CharsetConverter::CharsetConverter(std::string_view charset) : m_state(std::make_unique<State>(charset)) {}
CharsetConverter::~CharsetConverter() = default;
CharsetConverter::CharsetConverter(CharsetConverter&&) noexcept = default;
CharsetConverter& CharsetConverter::operator=(CharsetConverter&&) noexcept = default;

bool CharsetConverter::converts() const
{
    return m_state->kind != State::Kind::passthrough;
}

void CharsetConverter::convert(std::string_view bytes, std::string& out)
{
    State& s = *m_state;
    switch (s.kind) {
    case State::Kind::passthrough:
        out.append(bytes);
        return;
    case State::Kind::iconv:
        s.iconv.convert(bytes, out);
        return;
    case State::Kind::iso2022jp:
        s.euc.clear();
        s.walker.feed(bytes, s.euc);
        s.iconv.convert(s.euc, out);
        return;
    }
}

void CharsetConverter::finish(std::string& out)
{
    State& s = *m_state;
    if (s.kind == State::Kind::passthrough)
        return;
    if (s.kind == State::Kind::iso2022jp) {
        if (s.walker.has_incomplete())
            out.append(kReplacement);
        s.walker.reset();
    }
    s.iconv.finish(out);
}

std::string CharsetConverter::take_pending()
{
    State& s = *m_state;
    switch (s.kind) {
    case State::Kind::passthrough:
        return {};
    case State::Kind::iconv:
        return s.iconv.take_pending();
    case State::Kind::iso2022jp: {
        // EUC-JP bytes held by iconv came from complete walker steps, so the
        // walker's own state says everything needed to continue.
        std::string pending = s.walker.pending();
        s.walker.reset();
        s.iconv.take_pending();
        return pending;
    }
    }
    return {};
}

std::string to_utf8(std::string_view charset, std::string_view bytes)
{
    CharsetConverter converter(charset);
    if (!converter.converts())
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    converter.convert(bytes, out);
    converter.finish(out);
    return out;
}

std::string iso2022jp_to_utf8(std::string_view bytes)
{
    return to_utf8("ISO-2022-JP", bytes);
}

}  // namespace corvane::mime
