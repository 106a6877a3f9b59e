#include "engine/core/templates/template_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "common/ini/profile.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/expander.h"
#include "tests/engine/core/templates/test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane::templates {
namespace {

using test::CaptureLog;

class NoTags final : public TagProvider {
public:
    void expand_tag(std::string_view, cgi::OutputStream&) override {}
};

TEST(PrepareTemplate, MarkersAndTags)
{
    LanguageTables de = LanguageTables::parse("[en]\n100=Sign in\n101=Password\n[de]\n100=Anmelden\n", "de");
    struct Case {
        std::string raw;
        std::string want;
    };
    const Case cases[] = {
        {"<b>[$Sign in$]</b>", "<b>Anmelden</b>"},
        {"[$sign IN$][$Password$][$Not in English$]", "AnmeldenPasswordNot in English"},
        {"<$if sys:general:caseSensitivePasswords$>", "<$IF SYS:GENERAL:CASESENSITIVEPASSWORDS$>"},
        {"<$user$> and <$lang", "<$USER$> and <$lang"},
        {"[$unterminated <$tag$>", "[$unterminated <$TAG$>"},
        {"[$Sign in$] [$also unterminated", "Anmelden [$also unterminated"},
        // An empty marker leaves nothing behind.
        {"[$$]<$$>", "<$$>"},
        {"äöü <$ümlaut$>", "äöü <$üMLAUT$>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prepare_template(c.raw, de), c.want) << "raw " << c.raw;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::write(m_dir / "Languages.ini",
                    "[en]\n001=English\n046=Not found\n064=UTF-8\n100=Hello\n"
                    "[de]\n001=Deutsch\n100=Hallo\n");
        test::write(m_dir / "Logon.html", "<p>[$Hello$] <$user$></p>");
        test::write(m_dir / "Logout.html", "bye");
        test::write(m_dir / "jsFrames/List.html", "list");
        test::write(m_dir / "jsFrames/List-Redirect.html", "wait <$REDIRECTTIME$>");
        test::write(m_dir / "jsFrames/Data/AddrBookData.html", "row");
        test::write(m_dir / "jsFrames/" + std::string(53, 'V') + "-Redirect.html", "cut");
        test::write(m_dir / "Classic/List.html", "classic list");
        test::write(m_dir / ".svn/List.html", "never");
        test::write(m_dir / "readme.txt", "not a template");
    }

    testing::TempDir m_dir;
    CaptureLog m_log;
};

TEST_F(StoreTest, SetsAndLookups)
{
    TemplateStore store(m_dir.path());
    const TemplateSet& de = store.set_for("de", m_log);
    EXPECT_TRUE(m_log.has("Loading templates for language de"));
    EXPECT_EQ(de.size(), 7u);
    ASSERT_NE(de.find("logon.html"), nullptr);
    EXPECT_EQ(*de.find("Logon.html"), "<p>Hallo <$USER$></p>");
    EXPECT_EQ(*de.find("JSFRAMES/list.html"), "list");
    EXPECT_EQ(de.find(".svn/List.html"), nullptr);
    EXPECT_EQ(de.string(0), "Deutsch");
    EXPECT_EQ(de.string(45), "Not found");
    EXPECT_EQ(store.language_string(63, "DE", m_log), "UTF-8");

    // Same set for any spelling of the code; loaded once.
    EXPECT_EQ(&store.set_for("DE", m_log), &de);
    EXPECT_EQ(m_log.count("Loading templates"), 1u);
    // Codes without a section of their own share the English set.
    const TemplateSet& en = store.set_for("en", m_log);
    EXPECT_EQ(&store.set_for("xx", m_log), &en);
    EXPECT_EQ(&store.set_for("<script>", m_log), &en);
    EXPECT_EQ(&store.set_for("", m_log), &en);
    EXPECT_EQ(store.loaded_sets(), 2u);
    EXPECT_EQ(*en.find("Logon.html"), "<p>Hello <$USER$></p>");
}

TEST_F(StoreTest, TemplateKeys)
{
    TemplateStore store(m_dir.path());
    struct Case {
        int view;
        const char* theme;
        const char* name;
        TemplateKind kind;
        const char* want_key;
        const char* want_text;  // null: missing
    };
    const Case cases[] = {
        {logout_view, "jsFrames", "Logout", TemplateKind::page, "Logout.html", "bye"},
        {logon_view, "jsFrames", "Logon", TemplateKind::page, "Logon.html", "<p>Hello <$USER$></p>"},
        {3, "jsFrames", "List", TemplateKind::page, "jsFrames/List.html", "list"},
        {3, "classic", "List", TemplateKind::page, "classic/List.html", "classic list"},
        {15, "jsFrames", "AddrBookData", TemplateKind::data, "jsFrames/Data/AddrBookData.html", "row"},
        {new_user_view, "jsFrames", "Logon", TemplateKind::page, "jsFrames/Logon.html", nullptr},
        {3, "../..", "List", TemplateKind::page, "../../List.html", nullptr},
    };
    for (const auto& c : cases) {
        PageRequest request{"en", c.theme, c.view};
        EXPECT_EQ(template_key(c.name, c.kind, request), c.want_key);
        const std::string* text = find_template(store, request, c.name, c.kind, m_log);
        if (c.want_text) {
            ASSERT_NE(text, nullptr) << c.want_key;
            EXPECT_EQ(*text, c.want_text);
        } else {
            EXPECT_EQ(text, nullptr) << c.want_key;
        }
    }
    EXPECT_TRUE(m_log.has("ERROR! Template Logon (jsFrames/Logon.html) doesn't exist."));
}

TEST_F(StoreTest, RedirectPages)
{
    TemplateStore store(m_dir.path());
    ini::Profile global(m_dir / "Corvane.ini");
    NoTags tags;
    PageRequest request{"en", "jsFrames", 3};

    cgi::StringOutputStream out;
    write_redirect_page(store, request, "List", ExpandContext{out, tags, &global, nullptr}, m_log);
    EXPECT_EQ(out.take(), "Content-type: text/html\r\nExpires: 0\r\nPragma: no-cache\r\n\r\nwait ");

    // A long name keeps 53 bytes before "-Redirect".
    write_redirect_page(store, request, std::string(70, 'V'), ExpandContext{out, tags, &global, nullptr}, m_log);
    EXPECT_EQ(out.take(), "Content-type: text/html\r\nExpires: 0\r\nPragma: no-cache\r\n\r\ncut");

    // Missing: only the header, and the error is logged.
    write_redirect_page(store, request, "Message", ExpandContext{out, tags, &global, nullptr}, m_log);
    EXPECT_EQ(out.take(), "Content-type: text/html\r\nExpires: 0\r\nPragma: no-cache\r\n\r\n");
    EXPECT_TRUE(m_log.has("ERROR! Template Message-Redirect (jsFrames/Message-Redirect.html) doesn't exist."));
}

TEST_F(StoreTest, BrokenFilesAreSurvived)
{
    // A template that cannot be read is skipped; a Languages.ini that is
    // missing leaves every string empty and every marker as it stands.
    ASSERT_EQ(::symlink((m_dir / "nowhere").c_str(), (m_dir / "Broken.html").c_str()), 0);
    ASSERT_EQ(::unlink((m_dir / "Languages.ini").c_str()), 0);
    TemplateStore store(m_dir.path());
    const TemplateSet& set = store.set_for("de", m_log);
    EXPECT_TRUE(m_log.has("Broken.html"));
    EXPECT_EQ(set.find("Broken.html"), nullptr);
    EXPECT_EQ(set.string(0), "");
    EXPECT_EQ(*set.find("Logon.html"), "<p>Hello <$USER$></p>");

    // A template directory that does not exist gives an empty set.
    TemplateStore nowhere(m_dir / "missing");
    EXPECT_EQ(nowhere.set_for("en", m_log).size(), 0u);
}

TEST_F(StoreTest, ConcurrentFirstUseLoadsOnce)
{
    TemplateStore store(m_dir.path());
    std::vector<const TemplateSet*> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            CaptureLog log;
            seen[i] = &store.set_for(i % 2 ? "de" : "DE", log);
        });
    }
    for (auto& t : threads)
        t.join();
    for (const auto* set : seen)
        EXPECT_EQ(set, seen[0]);
    EXPECT_EQ(store.loaded_sets(), 1u);
}

}  // namespace
}  // namespace corvane::templates
