#include "engine/features/compose/header_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/features/compose/iso2022jp.h"
#include "engine/store/mime/encoded_words.h"

namespace corvane::compose {
namespace {

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string header(std::string_view name, std::string_view value, HeaderKind kind = HeaderKind::text,
                   WordCharset charset = {})
{
    std::string out;
    write_header(out, name, value, kind, charset);
    return out;
}

// The value as a reader gets it back: unfolded, encoded words decoded.
std::string read_back(const std::string& written)
{
    std::string unfolded;
    for (char c : written) {
        if (c != '\n')
            unfolded += c;
    }
    const std::size_t colon = unfolded.find(": ");
    return mime::decode_encoded_words(unfolded.substr(colon + 2));
}

TEST(HeaderWriter, AsciiValuesFoldOnlyAtBlanks)
{
    std::string words;
    while (words.size() < 100)
        words += "word" + std::to_string(words.size()) + " ";
    words.pop_back();
    const std::string folded = header("Subject", words);
    const auto lines = lines_of(folded);
    ASSERT_EQ(lines.size(), 2u) << folded;
    EXPECT_LE(lines[0].size(), fold_width);
    EXPECT_EQ(lines[1][0], ' ');
    EXPECT_EQ(read_back(folded), words);

    // No blank to fold at: the text stays whole rather than gaining a break.
    const std::string solid(100, 'x');
    EXPECT_EQ(header("Subject", solid), "Subject: " + solid + "\n");
    EXPECT_EQ(header("Subject", "short"), "Subject: short\n");
    // A long word first, then blanks: the fold comes at the first blank.
    const std::string mixed = std::string(90, 'y') + " tail end";
    EXPECT_EQ(header("Subject", mixed), "Subject: " + std::string(90, 'y') + "\n tail end\n");
}

TEST(HeaderWriter, EightBitTextBecomesEncodedWords)
{
    std::string emoji;
    for (int i = 0; i < 40; ++i)
        emoji += "😀漢";
    const std::string long_subject = std::string(40, 'a') + " äöü" + std::string(200, 'b') + " ende";
    struct Case {
        const char* what;
        const char* name;
        HeaderKind kind;
        std::string value;
        int words;          // encoded words written
        std::string plain;  // text that must stay unencoded
        std::string back;   // what a reader decodes ("" = the value)
    };
    const std::vector<Case> cases = {
        {"a subject of three words whose first and last are 8-bit is one word", "Subject", HeaderKind::text,
         "Grüße an Jörg", 1, "Subject: =?UTF-8?", ""},
        {"in a To, an ASCII word between two 8-bit names stays plain", "To", HeaderKind::address, "Jörg and Ünal <a@b>",
         2, "?= and =?", ""},
        {"separators between encoded names merge them", "To", HeaderKind::address, "Jörg Ünal <a@b>", 1, "?= <a@b>",
         ""},
        {"punctuation touching an encoded word joins it", "Subject", HeaderKind::text, "Re:Grüße (neu)", 1, "?= (neu)",
         ""},
        {"a quoted 8-bit display name loses its quotes", "From", HeaderKind::address,
         "\"Müller, Jörg\" <jm@example.org>", 1, "?= <jm@example.org>", "Müller, Jörg <jm@example.org>"},
        {"Q in a phrase encodes what a phrase may not hold", "To", HeaderKind::address,
         "\"Dürrenmatt, Friedrich\" <f@d>", 1, "To: =?UTF-8?Q?D=C3=BCrrenmatt=2C_Friedrich?= <f@d>\n",
         "Dürrenmatt, Friedrich <f@d>"},
        {"a long 8-bit subject splits into words of at most 75", "Subject", HeaderKind::text, long_subject, 4,
         "Subject: " + std::string(40, 'a') + " =?", ""},
        {"emoji and CJK across split points", "Subject", HeaderKind::text, emoji, 7, "", ""},
    };
    for (const Case& c : cases) {
        const std::string out = header(c.name, c.value, c.kind);
        int words = 0;
        for (const std::string& line : lines_of(out)) {
            std::size_t start = 0;
            while ((start = line.find("=?", start)) != std::string::npos) {
                const std::size_t q1 = line.find('?', start + 2);
                const std::size_t q2 = line.find('?', q1 + 1);
                const std::size_t end = line.find("?=", q2 + 1);
                ASSERT_NE(end, std::string::npos) << c.what << "\n" << out;
                if (c.kind == HeaderKind::text) {
                    EXPECT_LE(end + 2 - start, max_encoded_word) << c.what << ": " << line;
                }
                ++words;
                start = end + 2;
            }
        }
        EXPECT_EQ(words, c.words) << c.what << "\n" << out;
        EXPECT_NE(out.find(c.plain), std::string::npos) << c.what << "\n" << out;
        EXPECT_EQ(read_back(out), c.back.empty() ? c.value : c.back) << c.what << "\n" << out;
    }
}

TEST(HeaderWriter, ControlBytesNeverStartALine)
{
    const std::string values[] = {
        "x\r\nBcc: victim@example.org", "x\nContent-Type: text/html", std::string("x\0Y", 3),
        "Grüße\r\n\r\nbody injected",   "\"a\r\nb\" <c@d>",           "x\r\n.\r\nMAIL FROM:<a@b>",
    };
    for (const std::string& v : values) {
        for (HeaderKind kind : {HeaderKind::text, HeaderKind::address}) {
            const std::string out = header("To", v, kind);
            const auto lines = lines_of(out);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0].substr(0, 4), "To: ");
            for (std::size_t i = 1; i < lines.size(); ++i)
                EXPECT_TRUE(lines[i][0] == ' ' || lines[i][0] == '\t') << out;
            for (char c : out)
                EXPECT_FALSE(c == '\r' || c == '\0') << out;
        }
    }
}

TEST(HeaderWriter, JapaneseSessionsWriteIso2022Jp)
{
    WordCharset ja{"UTF-8", true};
    const std::string out = header("Subject", "会議の件 about ﾃｽﾄ", HeaderKind::text, ja);
    EXPECT_EQ(out.substr(0, 25), "Subject: =?ISO-2022-JP?B?");
    EXPECT_EQ(mime::decode_encoded_words(out.substr(9, out.size() - 10)), "会議の件 about テスト");

    // Half-width katakana widen, voiced marks join; what has no place becomes "?".
    EXPECT_EQ(widen_katakana("ｶﾞｷﾞﾊﾟｳﾞｱﾞ"), "ガギパヴア゛");
    const std::string jis = utf8_to_iso2022jp("A日😀B");
    EXPECT_EQ(jis, "A\x1b$BF|\x1b(B?B");
}

}  // namespace
}  // namespace corvane::compose
