#include "engine/core/templates/top_level_tags.h"

#include <gtest/gtest.h>

#include "engine/core/cgi/streams.h"
#include "engine/core/templates/template_store.h"
#include "tests/engine/core/templates/test_support.h"
#include "tests/support/temp_dir.h"

namespace corvane::templates {
namespace {

class TopLevelTagsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::write(m_dir / "Languages.ini", "[en]\n001=English\n064=UTF-8\n[de]\n001=Deutsch\n064=ISO-8859-1\n");
    }

    std::string tag(std::string_view name)
    {
        TopLevelTags tags(m_store, m_request, m_log);
        cgi::StringOutputStream out;
        m_known = tags.expand_known(name, out);
        return out.take();
    }

    void environment(std::vector<std::string> variables)
    {
        m_request.table = cgi::FieldTable(cgi::Environment(std::move(variables)));
    }

    testing::TempDir m_dir;
    TemplateStore m_store{m_dir.path()};
    test::FakeRequest m_request;
    test::CaptureLog m_log;
    bool m_known = false;
};

TEST_F(TopLevelTagsTest, ActionCharsetLang)
{
    environment({"SCRIPT_NAME=/cgi-bin/Corvane"});
    m_request.view_number = logon_view;
    EXPECT_EQ(tag("ACTION"), "/cgi-bin/Corvane?View=Main");
    m_request.view_number = new_user_view;
    EXPECT_EQ(tag("ACTION"), "/cgi-bin/Corvane?View=NewUser");
    environment({"SCRIPT_NAME=/x\"><script>"});
    EXPECT_EQ(tag("ACTION"), "/x&quot;&gt;&lt;script&gt;?View=NewUser");

    EXPECT_EQ(tag("CHARSET"), "UTF-8");
    m_request.lang = "de";
    EXPECT_EQ(tag("CHARSET"), "ISO-8859-1");
    EXPECT_EQ(tag("LANG"), "de");
    m_request.lang = "\"><";
    EXPECT_EQ(tag("LANG"), "&quot;&gt;&lt;");

    EXPECT_EQ(tag("LANGOPTIONS"), "<OPTION VALUE=\"en\">English</OPTION>\r\n<OPTION VALUE=\"de\">Deutsch</OPTION>\r\n");

    // Anything else is not ours: nothing written, nothing logged.
    std::size_t lines = m_log.lines.size();
    EXPECT_EQ(tag("FOLDERLIST"), "");
    EXPECT_FALSE(m_known);
    EXPECT_EQ(tag("user"), "");
    EXPECT_FALSE(m_known);
    EXPECT_EQ(m_log.lines.size(), lines);
}

TEST_F(TopLevelTagsTest, MessagesAreShownOnce)
{
    m_request.status = "Saved <all>\nfine";
    m_request.error = "Bad & worse";
    EXPECT_EQ(tag("STATUSMESG"), "Saved &lt;all&gt;<BR>\r\nfine");
    EXPECT_TRUE(m_known);
    EXPECT_EQ(tag("STATUSMESG"), "");
    EXPECT_EQ(tag("ERRORMESG"), "Bad &amp; worse");
    EXPECT_EQ(tag("ERRORMESG"), "");
}

TEST_F(TopLevelTagsTest, UserFromSessionFieldOrCookie)
{
    struct Case {
        std::vector<std::string> variables;
        int view;
        std::string session_user;
        std::string want;
    };
    const std::string long_name(80, 'n');
    const Case cases[] = {
        {{"HTTP_COOKIE=Lang=de; User=ann; x=1"}, logon_view, "", "ann"},
        {{"HTTP_COOKIE=OldUser=eve"}, logon_view, "", ""},
        {{"HTTP_COOKIE=User=" + long_name}, logon_view, "", std::string(63, 'n')},
        {{"HTTP_COOKIE=User=\"><img src=x>"}, logon_view, "", "&quot;&gt;&lt;img src=x&gt;"},
        {{}, logon_view, "", ""},
        {{"HTTP_COOKIE=User=ann", "QUERY_STRING=User=%22bob%22"}, new_user_view, "", "&quot;bob&quot;"},
        {{"HTTP_COOKIE=User=ann"}, new_user_view, "", ""},
        {{"HTTP_COOKIE=User=ann"}, 3, "Carl  <c>", "Carl &nbsp;&lt;c&gt;"},
    };
    for (const auto& c : cases) {
        environment(c.variables);
        m_request.table.parse_query_string();
        m_request.view_number = c.view;
        m_request.user = c.session_user;
        EXPECT_EQ(tag("USER"), c.want) << "view " << c.view << " user " << c.session_user;
    }
}

}  // namespace
}  // namespace corvane::templates
