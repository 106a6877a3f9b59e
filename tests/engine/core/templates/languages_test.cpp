#include "engine/core/templates/languages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text/strings.h"
#include "engine/core/cgi/streams.h"
#include "tests/engine/core/templates/test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane::templates {
namespace {

using test::CaptureLog;

TEST(LanguageTables, StringsAndFallback)
{
    const std::string file =
        "; comment\r\n"
        "[en]\r\n"
        "001=English\r\n"
        "002=Inbox\r\n"
        "046=The message could not be found.\r\n"
        "064=UTF-8\r\n"
        "100=Sign in\r\n"
        "101=Password\n"
        "\n"
        "[de]\n"
        "001=Deutsch\n"
        "002=Posteingang\n"
        "002=Eingang\n"  // a later line of a key replaces the earlier
        "100=Anmelden\n"
        "no equals sign here\n"
        "[fr]\n"
        "001=Français\n";
    LanguageTables de = LanguageTables::parse(file, "DE");
    EXPECT_EQ(de.string(0), "Deutsch");
    EXPECT_EQ(de.string(1), "Eingang");
    // No entry 046 in [de]: the English text stands in.
    EXPECT_EQ(de.string(45), "The message could not be found.");
    EXPECT_EQ(de.string(63), "UTF-8");
    EXPECT_EQ(de.string(98), "");
    EXPECT_EQ(de.string(-1), "");
    EXPECT_EQ(de.string(99), "");

    EXPECT_EQ(de.translate("Sign in"), "Anmelden");
    EXPECT_EQ(de.translate("SIGN IN"), "Anmelden");
    // English knows it, German does not: the marker's own text.
    EXPECT_EQ(de.translate("Password"), "Password");
    EXPECT_EQ(de.translate("Unknown words"), "Unknown words");

    LanguageTables en = LanguageTables::parse(file, "en");
    EXPECT_EQ(en.string(0), "English");
    EXPECT_EQ(en.translate("sign in"), "Sign in");

    LanguageTables none = LanguageTables::parse("", "de");
    EXPECT_EQ(none.string(0), "");
    EXPECT_EQ(none.translate("Sign in"), "Sign in");
}

TEST(LanguageTables, LineRules)
{
    // A long line keeps 255 bytes; its rest is not read as a line of its own.
    std::string long_value(300, 'x');
    std::string file = "[en]\n001=" + long_value + "=002=Injected\n[deutsch]\n001=Deutsch\n";
    LanguageTables en = LanguageTables::parse(file, "en");
    EXPECT_EQ(en.string(0).size(), 255u - 4u);
    EXPECT_EQ(en.string(1), "");
    // Section names keep three bytes.
    EXPECT_EQ(LanguageTables::parse(file, "deu").string(0), "Deutsch");
    EXPECT_EQ(language_sections(file), (std::vector<std::string>{"en", "deu"}));

    // Cut at a character boundary, not inside "ü".
    std::string umlauts = "[en]\n001=" + std::string(249, 'a') + "üüü\n";
    EXPECT_EQ(LanguageTables::parse(umlauts, "en").string(0), std::string(249, 'a') + "ü");
}

TEST(LanguageCheck, NewMarkersAndMissingTranslations)
{
    const std::string file =
        "[en]\n001=English\n002=Inbox\n100=Sign in\n\n"
        "[de]\n001=Deutsch\n002=Posteingang\n100=Anmelden\n";
    LanguageCheck check = check_languages(file, {"Sign in", "Brand new text", "brand NEW text", "Inbox"}, false);
    ASSERT_TRUE(check.update);
    EXPECT_TRUE(check.may_rewrite);
    EXPECT_EQ(check.new_file,
              "[en]\r\n001=English\r\n002=Inbox\r\n100=Sign in\r\n101=Brand new text\r\n\r\n"
              "[de]\r\n001=Deutsch\r\n002=Posteingang\r\n100=Anmelden\r\n\r\n");
    EXPECT_EQ(check.missing, (std::vector<std::string>{"\"101=Brand new text\" needs translation to de"}));

    // Nothing new and everything in order: no rewrite, but gaps are still reported.
    LanguageCheck quiet = check_languages("[en]\n001=English\n002=Inbox\n[de]\n001=Deutsch\n", {"Inbox"}, false);
    EXPECT_FALSE(quiet.update);
    EXPECT_EQ(quiet.missing, (std::vector<std::string>{"\"002=Inbox\" needs translation to de"}));

    // A file whose highest entry is low still numbers template texts from
    // 100 up, clear of the engine's own numbers.
    LanguageCheck low = check_languages("[en]\n001=English\n", {"Hello"}, false);
    EXPECT_NE(low.new_file.find("100=Hello\r\n"), std::string::npos);
}

TEST(LanguageCheck, EnglishTranslationAndOrder)
{
    const std::string file =
        "[en]\n003=Drafts\n001=English\n002=Inbox\n"
        "[fr]\n001=Français\n"
        "[de]\n002=Posteingang\n001=Deutsch\n001=Duplicate\n";
    LanguageCheck plain = check_languages(file, {}, false);
    ASSERT_TRUE(plain.update);  // out of order
    EXPECT_EQ(plain.new_file,
              "[en]\r\n001=English\r\n002=Inbox\r\n003=Drafts\r\n\r\n"
              "[fr]\r\n001=Français\r\n\r\n"
              "[de]\r\n001=Deutsch\r\n002=Posteingang\r\n\r\n");
    EXPECT_EQ(plain.missing.size(), 3u);

    LanguageCheck filled = check_languages(file, {}, true);
    EXPECT_EQ(filled.new_file,
              "[en]\r\n001=English\r\n002=Inbox\r\n003=Drafts\r\n\r\n"
              "[fr]\r\n001=Français\r\n002=Inbox\r\n003=Drafts\r\n\r\n"
              "[de]\r\n001=Deutsch\r\n002=Posteingang\r\n003=Drafts\r\n\r\n");

    // Entries English lacks are dropped; garbage numbers are ignored.
    LanguageCheck junk =
        check_languages("[en]\n001=English\n[de]\n001=Deutsch\n077=Orphan\nabc=x\n99999999999=y\n", {}, true);
    EXPECT_EQ(junk.new_file, "[en]\r\n001=English\r\n\r\n[de]\r\n001=Deutsch\r\n\r\n");
}

TEST(LanguageCheck, LimitsKeepTheFileWhole)
{
    // More than 1000 entries: the rest is ignored and the file not rewritten.
    std::string big = "[en]\n";
    for (int i = 1; i <= 1200; ++i)
        big += text::format("%03d=Text %d\n", i, i);
    LanguageCheck check = check_languages(big, {"Fresh"}, true);
    EXPECT_FALSE(check.may_rewrite);
    EXPECT_FALSE(check.problems.empty());

    // A huge number does not make the check walk every number below it.
    LanguageCheck huge = check_languages("[en]\n001=English\n9999999=Last\n[de]\n001=Deutsch\n", {"Next"}, false);
    EXPECT_TRUE(huge.may_rewrite);
    EXPECT_EQ(huge.missing.size(), 1u);  // 9999999; "Next" has no number left
    EXPECT_FALSE(huge.problems.empty());

    // A text that could not be read back from a 255-byte line is not added.
    LanguageCheck longer = check_languages("[en]\n001=English\n", {std::string(260, 'm')}, false);
    EXPECT_FALSE(longer.update);
    EXPECT_EQ(longer.problems.size(), 1u);

    // Without [en] nothing can be numbered and nothing is rewritten.
    LanguageCheck no_english = check_languages("[de]\n002=Posteingang\n001=Deutsch\n", {"X"}, false);
    EXPECT_FALSE(no_english.may_rewrite);
}

TEST(LanguageVerification, RewritesOnDiskWithBackup)
{
    testing::TempDir dir;
    const std::string before = "[en]\n002=Inbox\n001=English\n\n[de]\n001=Deutsch\n";
    test::write(dir / "languages.ini", before);  // found without regard to case
    ::chmod((dir / "languages.ini").c_str(), 0640);
    test::write(dir / "Logon.html", "<p>[$Sign in$] [$Inbox$]</p>\n<p>[$unterminated</p>\n");
    test::write(dir / "jsFrames/List.html", "[$List of messages$]");
    test::write(dir / ".hidden/Skip.html", "[$Hidden text$]");
    test::write(dir / "notes.txt", "[$Not a template$]");

    CaptureLog log;
    ASSERT_TRUE(verify_languages(dir.path(), false, log));
    EXPECT_EQ(test::read(dir / "languages.ini"),
              "[en]\r\n001=English\r\n002=Inbox\r\n100=Sign in\r\n101=List of messages\r\n\r\n"
              "[de]\r\n001=Deutsch\r\n\r\n");
    EXPECT_EQ(test::read(dir / "Languages.bak"), before);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "languages.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_TRUE(log.has("Verifying Languages.ini..."));
    EXPECT_TRUE(log.has("Updating Languages.ini..."));
    EXPECT_TRUE(log.has("\"101=List of messages\" needs translation to de"));
    EXPECT_TRUE(log.has("Languages.ini finished updating."));

    // The next start finds nothing to do but still lists the gaps.
    CaptureLog again;
    ASSERT_TRUE(verify_languages(dir.path(), false, again));
    EXPECT_FALSE(again.has("Updating Languages.ini..."));
    EXPECT_EQ(again.count("needs translation to de"), 3u);

    CaptureLog missing;
    testing::TempDir empty;
    EXPECT_FALSE(verify_languages(empty.path(), false, missing));
}

TEST(LanguageVerification, UnreadableTemplateIsSkipped)
{
    testing::TempDir dir;
    test::write(dir / "Languages.ini", "[en]\n001=English\n");
    test::write(dir / "Good.html", "[$Good$]");
    // A link to nothing cannot be read, whoever runs the test.
    ASSERT_EQ(::symlink((dir / "missing").c_str(), (dir / "Bad.html").c_str()), 0);
    CaptureLog log;
    ASSERT_TRUE(verify_languages(dir.path(), false, log));
    EXPECT_TRUE(log.has("Bad.html"));
    EXPECT_EQ(test::read(dir / "Languages.ini"), "[en]\r\n001=English\r\n100=Good\r\n\r\n");
}

TEST(LanguageOptions, OneOptionPerNamedSection)
{
    cgi::StringOutputStream out;
    write_language_options_of(
        "001=Stray\n[en]\n001=English\n[de]\n002=Posteingang\n001=Deutsch\n[xx]\n002=No name\n"
        "[a\"b<c>]\n001=Tom & \"Jerry\"\n[abcdefghijklmnopqrst]\n001=Long\n",
        out);
    EXPECT_EQ(out.str(),
              "<OPTION VALUE=\"en\">English</OPTION>\r\n"
              "<OPTION VALUE=\"de\">Deutsch</OPTION>\r\n"
              "<OPTION VALUE=\"a&quot;b&lt;c&gt;\">Tom &amp; &quot;Jerry&quot;</OPTION>\r\n"
              "<OPTION VALUE=\"abcdefghijklmno\">Long</OPTION>\r\n");

    cgi::StringOutputStream nothing;
    write_language_options(std::string("/nonexistent/dir"), nothing);
    EXPECT_EQ(nothing.str(), "");
}

}  // namespace
}  // namespace corvane::templates
