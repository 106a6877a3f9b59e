#include "engine/core/templates/expander.h"

#include <gtest/gtest.h>

#include "common/ini/profile.h"
#include "engine/core/cgi/streams.h"
#include "engine/core/templates/template_store.h"
#include "tests/engine/core/templates/test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane::templates {
namespace {

// Writes each tag back as {TAG} and remembers what it was asked.
class EchoTags final : public TagProvider {
public:
    std::vector<std::string> asked;
    void expand_tag(std::string_view tag, cgi::OutputStream& out) override
    {
        asked.emplace_back(tag);
        out.write("{");
        out.write(tag);
        out.write("}");
    }
};

class ExpanderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::write(m_dir / "Corvane.ini",
                    "[General]\nCaseSensitivePasswords=Yes\nEnableReplaceFrom=No\n[AccountCreation]\nEnable=yes\n");
        test::write(m_dir / "User.ini", "[User]\nActive=Yes\nListAllAttach=No\n");
    }

    std::string run(std::string_view text, bool with_user = false)
    {
        cgi::StringOutputStream out;
        ExpandContext context{out, m_tags, &m_global, with_user ? &m_user : nullptr};
        expand(text, context);
        return out.take();
    }

    testing::TempDir m_dir;
    ini::Profile m_global{m_dir / "Corvane.ini"};
    ini::Profile m_user{m_dir / "User.ini"};
    EchoTags m_tags;
};

TEST_F(ExpanderTest, Conditions)
{
    struct Case {
        const char* condition;
        bool with_user;
        bool want;
    };
    const Case cases[] = {
        {"SYS:GENERAL:CASESENSITIVEPASSWORDS", false, true},
        {"SYS:GENERAL:ENABLEREPLACEFROM", false, false},
        {"!SYS:GENERAL:ENABLEREPLACEFROM", false, true},
        {"SYS:ACCOUNTCREATION:ENABLE", false, true},
        {"SYS:GENERAL:MISSINGKEY", false, false},
        {"SYS:GENERAL", false, false},
        {"SYS:GENERAL:A:B", false, false},
        {"USR:USER:ACTIVE", true, true},
        {"USR:USER:ACTIVE", false, false},
        {"!USR:USER:ACTIVE", false, true},
        {"!USR:USER:ACTIVE", true, false},
        {"USR:USER:LISTALLATTACH", true, false},
        {"FOO:GENERAL:CASESENSITIVEPASSWORDS", false, false},
        {"", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(evaluate_condition(c.condition, &m_global, c.with_user ? &m_user : nullptr), c.want)
            << c.condition << (c.with_user ? " with a session" : " without a session");
    EXPECT_FALSE(evaluate_condition("SYS:GENERAL:CASESENSITIVEPASSWORDS", nullptr, nullptr));
}

TEST_F(ExpanderTest, SwitchesAndTags)
{
    // Written in any case in the file, matched in upper case after preparation.
    EXPECT_EQ(run(prepare_template("<$if sys:general:caseSensitivePasswords$>yes<$else$>no<$endif$>", {})), "yes");
    EXPECT_EQ(run("a<$X$>b<$IF SYS:GENERAL:CASESENSITIVEPASSWORDS$>yes<$ELSE$>no<$ENDIF$>c"), "a{X}byesc");
    EXPECT_EQ(run("<$IF SYS:GENERAL:ENABLEREPLACEFROM$>yes<$Y$><$ELSE$>no<$ENDIF$>"), "no");
    // Under a false condition an inner IF writes nothing in either branch.
    m_tags.asked.clear();
    EXPECT_EQ(run("<$IF SYS:GENERAL:ENABLEREPLACEFROM$>"
                  "<$IF SYS:GENERAL:CASESENSITIVEPASSWORDS$>1<$T$><$ELSE$>2<$F$><$ENDIF$>"
                  "<$ENDIF$>end"),
              "end");
    EXPECT_TRUE(m_tags.asked.empty());
    // ELSE inside a true outer flips only its own condition.
    EXPECT_EQ(run("<$IF SYS:ACCOUNTCREATION:ENABLE$>"
                  "<$IF SYS:GENERAL:ENABLEREPLACEFROM$>1<$ELSE$>2<$ENDIF$>"
                  "<$ELSE$>3<$ENDIF$>"),
              "2");
}

TEST_F(ExpanderTest, OddTags)
{
    // ENDIF and ELSE with nothing open are names like any other.
    EXPECT_EQ(run("x<$ENDIF$>y<$ELSE$>"), "x{ENDIF}y{ELSE}");
    // A tag of 80 bytes or more disappears; 79 still counts.
    EXPECT_EQ(run("<$" + std::string(80, 'T') + "$>|"), "|");
    EXPECT_EQ(run("<$" + std::string(79, 'T') + "$>"), "{" + std::string(79, 'T') + "}");
    // Unterminated tags are text.
    EXPECT_EQ(run("a<$NAME"), "a<$NAME");
    EXPECT_EQ(run("<$A$> and <$B"), "{A} and <$B");
    EXPECT_EQ(run("<$$>"), "{}");
    EXPECT_EQ(run(""), "");
    EXPECT_EQ(run("$>plain<"), "$>plain<");
    // "IF" without its blank is a name, not a condition.
    EXPECT_EQ(run("<$IFX$>"), "{IFX}");
}

TEST_F(ExpanderTest, ThirtyThreeNestedConditions)
{
    std::string text;
    for (int i = 0; i < 33; ++i)
        text += "<$IF SYS:GENERAL:CASESENSITIVEPASSWORDS$>";
    text += "deep";
    for (int i = 0; i < 33; ++i)
        text += "<$ENDIF$>";
    text += "after";
    // The 33rd IF is beyond the limit and reaches the provider as a name,
    // and so does the last ENDIF, which finds no condition open.
    EXPECT_EQ(run(text), "{IF SYS:GENERAL:CASESENSITIVEPASSWORDS}deep{ENDIF}after");

    // Thousands of opening tags never overflow anything.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "<$IF SYS:GENERAL:ENABLEREPLACEFROM$><$ELSE$>";
    EXPECT_NO_FATAL_FAILURE(run(many));
}

}  // namespace
}  // namespace corvane::templates
