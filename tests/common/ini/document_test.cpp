#include "common/ini/document.h"

#include <gtest/gtest.h>

using corvane::ini::Document;

namespace {

const char* sample =
    "; Corvane settings\r\n"
    "stray line before any section\r\n"
    "[General]\r\n"
    "LogLevel = 3 \r\n"
    "  MessageDateFormat=\"%x %X\"\r\n"
    "Empty=\r\n"
    "Quoted=\"  padded  \"\r\n"
    "HalfQuoted=\"abc\r\n"
    "Eq=a=b=c\r\n"
    "garbage without equals\r\n"
    "LogLevel=9\r\n"
    "\r\n"
    "[ Session ]\r\n"
    "Maximum=200\r\n"
    "[general]\r\n"
    "Hidden=yes\r\n";

}  // namespace

TEST(IniDocument, ReadsWithProfileSemantics)
{
    auto doc = Document::parse(sample);
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"General", "LogLevel", "3"},               // trimmed; the first of two keys counts
        {"GENERAL", "loglevel", "3"},               // names without regard to case
        {"General", "MessageDateFormat", "%x %X"},  // leading blanks of the key, quotes removed
        {"General", "Empty", ""},                   // present, empty: not the default
        {"General", "Quoted", "  padded  "},        // blanks inside quotes survive
        {"General", "HalfQuoted", "\"abc"},         // one quote is not a pair
        {"General", "Eq", "a=b=c"},                 // split at the first "="
        {"Session", "Maximum", "200"},              // section name trimmed
        {"General", "Hidden", std::nullopt},        // a second section of a name is not read
        {"General", "Missing", std::nullopt},
        {"Nowhere", "LogLevel", std::nullopt},
        {"General", "garbage without equals", std::nullopt},
    };
    for (const Case& c : cases) {
        auto got = doc.get(c.section, c.key);
        if (c.want)
            EXPECT_EQ(got, *c.want) << c.section << "/" << c.key;
        else
            EXPECT_FALSE(got.has_value()) << c.section << "/" << c.key << " got " << *got;
    }
    EXPECT_EQ(doc.sections(), (std::vector<std::string>{"General", "Session"}));
    EXPECT_EQ(doc.keys("general"),
              (std::vector<std::string>{"LogLevel", "MessageDateFormat", "Empty", "Quoted", "HalfQuoted", "Eq"}));
    EXPECT_TRUE(doc.keys("nowhere").empty());
}

TEST(IniDocument, UnchangedDocumentSerialisesToTheSameBytes)
{
    EXPECT_EQ(Document::parse(sample).serialize(), sample);
    for (const char* text : {"", "a", "[x]\nk=v", "[x]\nk=v\n", "\xEF\xBB\xBF[x]\r\nk=v\r\n", "\n\n\n"})
        EXPECT_EQ(Document::parse(text).serialize(), text);
}

TEST(IniDocument, WritesKeepCommentsUnknownLinesAndLayout)
{
    auto doc = Document::parse(sample);
    ASSERT_TRUE(doc.set("general", "loglevel", "1"));
    ASSERT_TRUE(doc.set("General", "NewKey", "new"));
    ASSERT_TRUE(doc.set("Stats", "LastAccess", "2026-12-06 10:09:45"));
    std::string out = doc.serialize();
    EXPECT_NE(out.find("; Corvane settings\r\n"), std::string::npos);
    EXPECT_NE(out.find("stray line before any section\r\n"), std::string::npos);
    EXPECT_NE(out.find("garbage without equals\r\n"), std::string::npos);
    EXPECT_NE(out.find("LogLevel=1\r\n"), std::string::npos) << "the key keeps its spelling";
    EXPECT_NE(out.find("LogLevel=9\r\n"), std::string::npos) << "a shadowed duplicate stays";
    // A new key lands at the end of its section, before the blank line.
    EXPECT_NE(out.find("garbage without equals\r\nLogLevel=9\r\nNewKey=new\r\n\r\n[ Session ]"), std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\n[Stats]\r\nLastAccess=2026-12-06 10:09:45\r\n"), std::string::npos) << out;

    auto again = Document::parse(out);
    EXPECT_EQ(again.get("General", "LogLevel"), "1");
    EXPECT_EQ(again.get("General", "NewKey"), "new");
    EXPECT_EQ(again.get("stats", "lastaccess"), "2026-12-06 10:09:45");
}

TEST(IniDocument, ValuesReadBackAsWritten)
{
    Document doc;
    const std::string values[] = {"",
                                  "plain",
                                  "  lead",
                                  "trail  ",
                                  "\"quoted\"",
                                  "a\"b",
                                  "x=y",
                                  "line\r\nbreak",
                                  "\x01"
                                  "ctl",
                                  "caf\xC3\xA9"};
    int i = 0;
    for (const auto& value : values)
        ASSERT_TRUE(doc.set("S", "K" + std::to_string(i++), value)) << value;
    auto again = Document::parse(doc.serialize());
    i = 0;
    for (const auto& value : values) {
        std::string want = value;
        for (char& c : want) {
            if (c == '\r' || c == '\n' || c == '\x01')
                c = ' ';
        }
        EXPECT_EQ(again.get("S", "K" + std::to_string(i++)), want) << value;
    }
    EXPECT_EQ(doc.serialize().find('\r'), std::string::npos) << "a new file uses LF";
}

TEST(IniDocument, RefusesNamesThatCannotBeWritten)
{
    Document doc;
    EXPECT_FALSE(doc.set("", "k", "v"));
    EXPECT_FALSE(doc.set("S", "", "v"));
    EXPECT_FALSE(doc.set("S", "a=b", "v"));
    EXPECT_FALSE(doc.set("S", ";comment", "v"));
    EXPECT_FALSE(doc.set("S", "[x", "v"));
    EXPECT_FALSE(doc.set("S]x", "k", "v"));
    EXPECT_EQ(doc.serialize(), "");
}

TEST(IniDocument, DeletesKeysAndSections)
{
    auto doc = Document::parse("[A]\nk=1\nx=2\nk=3\n; note\n[B]\ny=4\n[a]\nz=5\n");
    EXPECT_TRUE(doc.remove_key("a", "K"));
    EXPECT_FALSE(doc.get("A", "k").has_value()) << "every line of the key goes";
    EXPECT_EQ(doc.get("A", "x"), "2");
    EXPECT_FALSE(doc.remove_key("A", "k"));
    EXPECT_FALSE(doc.remove_key("None", "k"));
    EXPECT_TRUE(doc.remove_section("B"));
    EXPECT_EQ(doc.serialize(), "[A]\nx=2\n; note\n[a]\nz=5\n");
    EXPECT_FALSE(doc.remove_section("B"));
    // With the first [A] gone, the second one of that name becomes visible.
    EXPECT_TRUE(doc.remove_section("A"));
    EXPECT_EQ(doc.get("A", "z"), "5");
}

TEST(IniDocument, SurvivesBinaryAndMalformedInput)
{
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) & 0xFF);
    binary += std::string("\0[S]\0\nk\0=\0v\n", 12);
    auto doc = Document::parse(binary);
    EXPECT_EQ(doc.serialize(), binary);
    ASSERT_TRUE(doc.set("S2", "k", "v"));
    EXPECT_EQ(Document::parse(doc.serialize()).get("S2", "k"), "v");

    auto odd = Document::parse("[unterminated\nk=v\n[]\nk2=v2\n=novalue\n[Real]\nk=ok\n");
    EXPECT_EQ(odd.get("Real", "k"), "ok");
    EXPECT_FALSE(odd.get("unterminated", "k").has_value());
}
