#include "engine/store/mime/encoded_words.h"

#include <gtest/gtest.h>

using namespace corvane::mime;

TEST(EncodedWords, DecodesWordsAndLeavesEverythingElse)
{
    struct Case {
        const char* in;
        const char* want;
    };
    const Case cases[] = {
        {"=?iso-8859-1?Q?Andr=E9_X?=", "Andr\xC3\xA9 X"},
        {"=?ISO-8859-1?q?Andr=e9?=", "Andr\xC3\xA9"},
        {"=?utf-8?B?QW5kcsOp?= X", "Andr\xC3\xA9 X"},
        {"=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
        {"=?utf-8?BX?abc?=", "=?utf-8?BX?abc?="},
        {"before =?utf-8?Q?a?= after", "before a after"},
        {"=?utf-8?Q?a?=   =?utf-8?Q?b?=", "ab"},
        {"=?utf-8?Q?a?= x =?utf-8?Q?b?=", "a x b"},
        {"=?utf-8?Q?a?==?utf-8?Q?b?=", "ab"},
        {"=?iso-8859-1?Q?a?= =?koi8-r?B?8A==?=", "a\xD0\x9F"},
        {"=?x-unknown?Q?=E9?=", "\xE9"},
        {"=?utf-8*fr?Q?caf=C3=A9?=", "caf\xC3\xA9"},
        {"=??Q?plain?=", "plain"},
        {"=?utf-8?Q?a?b?=", "a?b"},
        {"=?utf-8?Q?=ZZ=4?=", "=ZZ=4"},
        {"=?utf-8?B?!!!!?=", ""},
        {"=?utf-8?Q?unterminated", "=?utf-8?Q?unterminated"},
        {"=?utf.8?Q?x?=", "=?utf.8?Q?x?="},
        {"=?=?utf-8?Q?x?=", "=?x"},
        {"=?utf-8?Q?\?=", ""},
        {"=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {"caf\xE9 raw 8-bit", "caf\xE9 raw 8-bit"},
        {"=?utf-8?Q?tab=09ok?=", "tab\tok"},
        {"=?utf-8?Q?=01=0D=0A=00?=", "    "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode_encoded_words(c.in), c.want) << c.in;
}

TEST(EncodedWords, PiecesJoinLikeTheWhole)
{
    // A folded value split at every blank gives the same result as the
    // unfolded one: the fold between adjacent words vanishes.
    const std::string whole = "=?utf-8?B?5pel?= =?utf-8?B?5pys?= and =?iso-8859-1?Q?=E9?=  ";
    EncodedWordDecoder d;
    std::string out;
    std::size_t from = 0;
    while (from < whole.size()) {
        std::size_t blank = whole.find(' ', from);
        std::size_t end = blank == std::string::npos ? whole.size() : blank + 1;
        d.append(std::string_view(whole).substr(from, end - from), out);
        from = end;
    }
    EXPECT_EQ(out, decode_encoded_words(whole));
    EXPECT_EQ(out, "\xE6\x97\xA5\xE6\x9C\xAC and \xC3\xA9  ");

    // A character cut between two words is whole again once both are read,
    // and shown as a replacement while only the first is.
    d.reset();
    out.clear();
    d.append("=?utf-8?B?5pel5g==?=", out);
    EXPECT_EQ(out, "\xE6\x97\xA5\xEF\xBF\xBD");
    d.append(" =?utf-8?B?nKw=?=", out);
    EXPECT_EQ(out, "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(EncodedWords, HostileInputStaysLinear)
{
    // Many "=?" without a closing "?=" and many tiny words.
    std::string opens;
    while (opens.size() < (4u << 20))
        opens += "=?a?Q?x";
    EXPECT_EQ(decode_encoded_words(opens), opens);
    std::string words;
    while (words.size() < (1u << 20))
        words += "=?utf-8?Q?ab?= ";
    EXPECT_EQ(decode_encoded_words(words).size(), words.size() / 15 * 2 + 1);
}
