#include "engine/store/mime/header_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

using namespace corvane::mime;

namespace {

HeaderList parse(std::initializer_list<std::string_view> lines)
{
    HeaderList list;
    for (auto line : lines)
        list.add_line(line);
    return list;
}

}  // namespace

TEST(HeaderList, SplitsLinesAndDecodesValuesToUtf8)
{
    HeaderList h = parse({"From: =?iso-8859-1?Q?Andr=E9_X?= <andre@example.org>", "Subject:  two blanks",
                          "X-Empty:", "X-Blank: \t ", "Subject : obsolete form", "no colon here", "", ":empty name"});
    EXPECT_EQ(h.value("from"), "Andr\xC3\xA9 X <andre@example.org>");
    EXPECT_EQ(h.value("SUBJECT"), " two blanks") << "only one blank after the colon is dropped";
    EXPECT_EQ(h.size(), 6u);
    EXPECT_TRUE(h.is_absent_or_empty("X-Empty"));
    EXPECT_TRUE(h.is_absent_or_empty("X-Missing"));
    EXPECT_FALSE(h.is_absent_or_empty("X-Blank"));
    EXPECT_TRUE(h.is_absent_or_blank("X-Blank"));
    EXPECT_FALSE(h.is_absent_or_blank("Subject"));
    EXPECT_EQ(h.value("X-Missing"), "");
    EXPECT_EQ(h.fields()[4].name, "Subject");
    EXPECT_EQ(h.fields()[5].name, "");
}

TEST(HeaderList, FoldedHeaderBecomesOneValueWithSingleBlanks)
{
    HeaderList h = parse({"Subject: first", "\tsecond", "     third", "To: a@example.org"});
    EXPECT_EQ(h.value("Subject"), "first second third");
    EXPECT_EQ(h.value("To"), "a@example.org");

    HeaderList empty_first = parse({"Subject:", " =?utf-8?Q?folded?=", "\tat once"});
    EXPECT_EQ(empty_first.value("Subject"), "folded at once") << "no leading blank";

    HeaderList orphan = parse({"  continuation without a header", "X: y"});
    EXPECT_EQ(orphan.size(), 1u);
}

TEST(HeaderList, CurrentPairRule)
{
    HeaderList h = parse({"Received: first", "From: a", "Received: last"});
    EXPECT_EQ(h.value("received"), "last") << "the pair added last is current";
    EXPECT_EQ(h.value("From"), "a");
    EXPECT_EQ(h.value("Received"), "first") << "any other lookup takes the first pair";
    EXPECT_EQ(h.value("Received"), "first");

    h.set("received", "replaced");
    EXPECT_EQ(h.fields()[0].value, "replaced") << "set replaces the first pair";
    EXPECT_EQ(h.fields()[2].value, "last");
    h.set("X-New", "v");
    EXPECT_EQ(h.fields().back().name, "X-New");

    EXPECT_TRUE(h.remove("RECEIVED"));
    EXPECT_EQ(h.value("Received"), "last");
    EXPECT_FALSE(h.remove("nothing"));
}

TEST(HeaderList, ContinuationAfterRemovalOfTheLastPairIsDropped)
{
    HeaderList h = parse({"A: 1", "B: 2"});
    h.remove("B");
    h.add_line(" more");
    EXPECT_EQ(h.value("A"), "1");
    h.add_line("C: 3");
    h.remove("A");
    h.add_line(" more");
    EXPECT_EQ(h.value("C"), "3 more");
}

TEST(HeaderList, EncodedWordsCannotForgeNamesOrSplitRecords)
{
    HeaderList h = parse({"=?us-ascii?Q?From:?= forged@example.org",
                          "Subject: =?utf-8?Q?a=0D=0Ab=01c=00d?=", "X-Raw: one\rtwo\x01three"});
    EXPECT_EQ(h.find("From"), nullptr);
    EXPECT_EQ(h.value("Subject"), "a  b c d");
    EXPECT_EQ(h.value("X-Raw"), "one two three");
    h.set("X-Set", "a\r\nBcc: b");
    EXPECT_EQ(h.value("X-Set"), "a  Bcc: b");
}

TEST(HeaderList, AdjacentWordsJoinAcrossFolds)
{
    // "日本" in UTF-8 split in the middle of its second character.
    HeaderList h = parse({"Subject: =?UTF-8?B?5pel5g==?= ", "  =?utf-8?B?nKw=?= end"});
    EXPECT_EQ(h.value("Subject"), "\xE6\x97\xA5\xE6\x9C\xAC end");

    HeaderList plain = parse({"Subject: =?utf-8?Q?a?=", " b"});
    EXPECT_EQ(plain.value("Subject"), "a b");
}

TEST(HeaderList, BoundedInMemory)
{
    HeaderList h;
    std::string big(10u << 20, 'x');
    h.add_line("X-Big: " + big);
    EXPECT_EQ(h.value("X-Big").size(), big.size());
    h.add_line("X-Too-Much: " + big);
    EXPECT_FALSE(h.contains("X-Too-Much")) << "past the header budget lines are ignored";
    h.clear();
    for (std::size_t i = 0; i < kMaxHeaderPairs + 10; ++i)
        h.add_line("X: y");
    EXPECT_EQ(h.size(), kMaxHeaderPairs);
    h.clear();
    h.add_line(std::string(100, 'N') + ": v");
    EXPECT_EQ(h.fields()[0].name.size(), kMaxHeaderName);
}

TEST(HeaderList, ReadsTheHeaderOfAMessageFile)
{
    corvane::testing::TempDir dir;
    {
        std::ofstream out(dir / "m.msg", std::ios::binary);
        out << "From: a@example.org\r\nSubject: hello\r\n  world\r\nX-Long: " << std::string(10000, 'y')
            << "\r\nTo: b@example.org\r\n\r\nBody: not a header\r\n";
    }
    HeaderList h = read_header(dir / "m.msg");
    EXPECT_EQ(h.value("Subject"), "hello world");
    EXPECT_EQ(h.value("X-Long").size(), kMaxHeaderFileLine - 8) << "lines are cut at 4095 bytes";
    EXPECT_EQ(h.value("To"), "b@example.org");
    EXPECT_FALSE(h.contains("Body"));
    EXPECT_TRUE(read_header(dir / "missing.msg").empty());
}
