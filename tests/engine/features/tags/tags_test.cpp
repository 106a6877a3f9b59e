// Tag values in a session, read through a probe page that writes every tag
// between bars, and through the shipped List, Message and Folders pages.
#include <map>
#include <string>

#include "tests/engine/features/mail_fixture.h"
#include "tests/support/temp_dir.h"

namespace corvane::features::test {
namespace {

class Tags : public MailFixture {
protected:
    // The shipped templates with the probe pages added.
    void start_with_probe(std::vector<testing::EngineSetting> settings = {})
    {
        std::string command = "cp -r '" + dispatch::test::shipped_templates() + "/.' '" + templates.path() +
                              "' && cp -r '" PROBE_DIR "/.' '" + templates.path() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        testing::EngineHost::Options options;
        options.templates_from = templates.path();
        options.settings = std::move(settings);
        options.settings.push_back({"General", "LogLevel", "1"});
        host = std::make_unique<testing::EngineHost>(options);
        ASSERT_TRUE(host->start()) << host->log_text();
    }

    // NAME -> value of the probe page.
    std::map<std::string, std::string> probe(const Logon& s, const std::string& more = "")
    {
        std::string body = in_session(s, "View=TagProbe" + more).body;
        std::map<std::string, std::string> values;
        std::size_t pos = 0;
        while ((pos = body.find("\n|", pos)) != std::string::npos) {
            std::size_t eq = body.find('=', pos);
            std::size_t end = body.find("|\n", eq);
            if (eq == std::string::npos || end == std::string::npos)
                break;
            values[body.substr(pos + 2, eq - pos - 2)] = body.substr(eq + 1, end - eq - 1);
            pos = end;
        }
        return values;
    }

    testing::TempDir templates;
};

TEST_F(Tags, MessageTagsDescribeTheCurrentMessage)
{
    start_with_probe();
    auto numbers = seed({
        text_mail("", "no subject, no date", "\"Zed, Z.\" <zed@example.org>"),
        Mail{text_mail("urgent and new").text + "", "Inbox", "Home", "", store::flags::urgent},
        Mail{text_mail("<script>x</script>", "b", "Ann <ann@example.org>", "Tue, 15 Jun 1999 10:20:30 -0500").text,
             "Inbox", "Home", "", store::flags::read | store::flags::replied, store::flags::new_message},
    });
    Logon s = alice(mailbox_section(1, "Home", 0, "red\" onclick=\"x"));

    // Nothing chosen yet: no message tags, the dates in brackets.
    auto none = probe(s);
    EXPECT_EQ(none["NUMBER"], "");
    EXPECT_EQ(none["DATE"], "[No date]");
    EXPECT_EQ(none["NEXT"], "");
    EXPECT_EQ(none["WEBCONFIG"], "");
    EXPECT_TRUE(host->log_contains("Unable to expand: WEBCONFIG"));

    in_session(s, "View=Message&Number=" + std::to_string(numbers[0]));
    auto first = probe(s);
    EXPECT_EQ(first["NUMBER"], std::to_string(numbers[0]));
    EXPECT_EQ(first["SUBJECT"], "[No subject]");
    EXPECT_EQ(first["DATE"], "[No date]");
    EXPECT_EQ(first["FROM"], "&quot;Zed, Z.&quot; &lt;zed@example.org&gt;");
    EXPECT_EQ(first["PREV"], "/cgi-bin/Corvane.so?Session=" + s.id + "&amp;View=List#" + std::to_string(numbers[0]));
    EXPECT_EQ(first["NEXT"],
              "/cgi-bin/Corvane.so?Session=" + s.id + "&amp;View=Message&amp;Number=" + std::to_string(numbers[1]));
    EXPECT_EQ(first["STATUSIMG"], "<IMG SRC=\"/new.gif\" ALT=\"New\">");  // new until the session ends
    EXPECT_EQ(first["MSGCOLOR"], "#C0C0C0");                              // no mailbox: the first default colour

    in_session(s, "View=Message&Number=" + std::to_string(numbers[1]));
    auto second = probe(s);
    EXPECT_EQ(second["STATUSIMG"], "<IMG SRC=\"/urgent.gif\" ALT=\"Urgent\">");
    EXPECT_EQ(second["MSGCOLOR"], "redonclickx");  // only what a colour can hold

    in_session(s, "View=Message&Number=" + std::to_string(numbers[2]));
    auto third = probe(s);
    EXPECT_EQ(third["SUBJECT"], "&lt;script&gt;x&lt;/script&gt;");
    EXPECT_EQ(third["STATUSIMG"], "<IMG SRC=\"/replied.gif\" ALT=\"Replied\">");
    EXPECT_EQ(third["NEXT"], "/cgi-bin/Corvane.so?Session=" + s.id + "&amp;View=List#" + std::to_string(numbers[2]));
    EXPECT_NE(third["DATE"], "[No date]");
}

TEST_F(Tags, ListRowsReduceAddressesAndMarkUnread)
{
    start_with_probe();
    seed({text_mail("unread one", "x", "\"Lee, Ann\" <ann@example.org>"),
          Mail{text_mail("sent one", "x", "me@example.org").text, "Sent", "", "", store::flags::read}});
    Logon s = alice("ShowByAddress=0\n");
    auto list = in_session(s, "View=List");
    EXPECT_NE(list.body.find("<td class=\"cv-who-col\">Lee, Ann</td>"), std::string::npos);
    EXPECT_NE(list.body.find("<B>unread one</B>"), std::string::npos);
    EXPECT_NE(list.body.find("<IMG SRC=\"/new.gif\" ALT=\"New\">"), std::string::npos);
    // The sent-mail folder shows the recipient under the heading To.
    auto sent = in_session(s, "View=List&Folder=Sent");
    EXPECT_NE(sent.body.find("<td class=\"cv-who-col\">alice@example.org</td>"), std::string::npos) << sent.body;
    EXPECT_NE(sent.body.find("Sort=From\">To</a>"), std::string::npos);
    EXPECT_NE(sent.body.find(">sent one</a>"), std::string::npos);
    // The other folders with unread mail are linked above the list.
    EXPECT_NE(sent.body.find("&amp;View=List&amp;Folder=Inbox\">Inbox:1</A>"), std::string::npos);
}

TEST_F(Tags, FolderListsOnTheFoldersPageSkipTheFixedFolders)
{
    start_with_probe();
    seed({Mail{text_mail("a").text, "Projects"}, Mail{text_mail("b").text, "Archive 2023"}});
    Logon s = alice();
    auto folders = in_session(s, "View=Folders");
    EXPECT_EQ(count_of(folders.body, "class=\"cv-folder-name\""), 2u);
    EXPECT_NE(folders.body.find("Folder=Archive+2023\">Archive 2023</a>"), std::string::npos);
    EXPECT_EQ(folders.body.find(">Trash</a>"), std::string::npos);
    // Elsewhere the lists name every folder, and the current folder stays.
    auto values = probe(s, "&Folder=Projects");
    EXPECT_EQ(count_of(values["FOLDERSELECTCOUNTS"], "<option"), 6u);
    EXPECT_NE(values["FOLDERSELECTCOUNTS"].find(">Projects (1/1)</option>"), std::string::npos);
    EXPECT_EQ(values["FOLDERNAME"], "Projects");
    EXPECT_EQ(values["MSGCOUNT"], "1");
}

TEST_F(Tags, MailboxAndFilterRowsEndWithTheNewRow)
{
    start_with_probe({{"UserDefaults", "MailHost", "pop.example.org"}});
    Logon s = alice(mailbox_section(1, "Home", 1, "#112233") + mailbox_section(2, "Work", 0) +
                    "[Filters]\nFilter0=Y S C \"invoice\" \"Bills\"\nFilter1=N F I \"boss@x\" \"Inbox\"\n");
    ASSERT_TRUE(platform::write_file_atomic(user_dir() + "/Home.sig", "Best,\r\n\"Al\" \\ </script>\r\n").ok());
    auto values = probe(s);
    EXPECT_EQ(values["HOSTDATA"],
              "[1:Home:110:#112233:127.0.0.1:1:1:1:Best,\r\n&quot;Al&quot; \\ &lt;/script&gt;\r\n]\n"
              "[2:Work:110:#C0C0C0:127.0.0.1:1:0:0:]\n"
              "[0::110:#5F9EA0:pop.example.org:1:0:0:]\n");
    EXPECT_EQ(values["FILTERDATA"],
              "[1:Filter #1:1:S:C:invoice:Bills]\n[2:Filter #2:0:F:I:boss@x:Inbox]\n[0:Filter #3:1::::]\n");
    EXPECT_EQ(values["SIGARRAY"], "\"Best,\\r\\n\\\"Al\\\" \\\\ \\x3C/script\\x3E\\r\\n\", \"\"");
    EXPECT_EQ(
        values["COLORLEGEND"],
        "<TABLE WIDTH=\"100%\">\r\n<TR><TD WIDTH=\"20%\" ALIGN=\"CENTER\" BGCOLOR=\"#112233\"><FONT FACE=\"Arial, "
        "Helvetica\" COLOR=\"Black\">Home</TD><TD WIDTH=\"20%\" ALIGN=\"CENTER\" BGCOLOR=\"#C0C0C0\"><FONT "
        "FACE=\"Arial, Helvetica\" COLOR=\"Black\">Work</TD></TR>\r\n</TABLE>\r\n");
    EXPECT_EQ(values["FROMSELECT"],
              "<OPTION SELECTED VALUE=\"0\">&lt;&gt;</OPTION>\r\n<OPTION VALUE=\"1\">&lt;&gt;</OPTION>\r\n");
    EXPECT_EQ(values["COLOR3"], "#5F9EA0");
}

TEST_F(Tags, SettingsAndComposeDirectoryValues)
{
    start_with_probe();
    Logon s = alice("ListRefreshTime=5\nShowByAddress=2\nSaveSentMail=No\n");
    ASSERT_TRUE(platform::write_file_atomic(user_dir() + "/Dictionary.txt", "zebra\r\nApple\r\n\r\n<b>\r\n").ok());
    auto values = probe(s);
    EXPECT_EQ(values["LISTREFRESHTIME"], "300");
    EXPECT_EQ(values["LISTSORT"], "RevDate");
    EXPECT_EQ(values["PREFS_SHOWBYADDRESS"], "2");
    EXPECT_EQ(values["PREFS_SAVESENTMAIL"], "0");
    EXPECT_EQ(values["PREFS_DICTIONARY"], "&lt;b&gt;\r\nApple\r\nzebra\r\n");
    EXPECT_EQ(values["ATTACHMENTCOUNT"], "");
    EXPECT_EQ(values["ATTACHMENTLIST"], "<OPTION> &nbsp; &nbsp; &nbsp; &nbsp;</OPTION>\r\n");
    EXPECT_EQ(values["ADDRBOOKDATA"], "");
    EXPECT_FALSE(host->log_contains("Unable to expand: ADDRBOOKDATA"));

    std::string compose = host->temp_dir() + "/" + s.id;
    ASSERT_TRUE(platform::write_file_atomic(compose + "/report.pdf", "%PDF").ok());
    ASSERT_TRUE(platform::write_file_atomic(compose + "/.report.pdf", "application/pdf").ok());
    ASSERT_TRUE(platform::write_file_atomic(compose + "/.body.txt", "text").ok());
    values = probe(s);
    EXPECT_EQ(values["ATTACHMENTCOUNT"], "(1 attachment)");
    EXPECT_EQ(values["ATTACHMENTLIST"], "<OPTION>report.pdf</OPTION>\r\n");
}

TEST_F(Tags, AttachmentRowsAreThePartsNotShownInline)
{
    start_with_probe();
    auto numbers = seed({Mail{crlf(
        {"Subject: parts", "Content-Type: multipart/mixed; boundary=q", "", "--q", "Content-Type: text/plain", "",
         "body", "--q", "Content-Type: image/png; name=\"a b.png\"", "Content-Transfer-Encoding: base64", "",
         "iVBORw0KGgo=", "--q", "Content-Type: message/rfc822", "", "Subject: inner", "", "forwarded", "--q--"})}});
    Logon s = alice();
    auto message = in_session(s, "View=Message&Number=" + std::to_string(numbers[0]));
    std::string url = "/cgi-bin/Corvane.so/a+b.png?Session=" + s.id + "&amp;View=Attachment&amp;Filename=a+b.png";
    EXPECT_NE(message.body.find("<A HREF=\"" + url + "\"><IMG BORDER=0 ALT=\"\" SRC=\"" + url + "\"></A>"),
              std::string::npos)
        << message.body;
    EXPECT_NE(message.body.find("<a href=\"" + url + "\" download>a b.png</a>"), std::string::npos);
    EXPECT_NE(message.body.find(">ATT00003.eml</a>"), std::string::npos);
    EXPECT_EQ(count_of(message.body, " download>"), 2u);
    auto values = probe(s);
    EXPECT_EQ(values["ATTACH"], "<IMG SRC=\"/attach.gif\" ALT=\"attachment\"> ");
}

}  // namespace
}  // namespace corvane::features::test
