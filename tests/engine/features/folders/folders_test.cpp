// The Folders page through Corvane.so: folders made, renamed and deleted
// with their messages, hostile names refused, the fixed folders kept.
#include <string>

#include "common/platform/files.h"
#include "tests/engine/features/mail_fixture.h"

namespace corvane::features::test {
namespace {

constexpr std::string_view text_not_created = "The folder could not be created.";

class Folders : public MailFixture {
protected:
    bool folder_on_disk(const std::string& name) { return platform::exists(user_dir() + "/" + name); }
};

TEST_F(Folders, OwnFoldersAreMadeRenamedAndDeletedTheFixedOnesNever)
{
    start();
    seed({text_mail("kept in the inbox"), Mail{text_mail("work item").text, "Work"},
          Mail{text_mail("old item").text, "Old"}});
    Logon s = alice();

    auto made = in_session(s, "View=Folders&Create=Yes&NewFolder=Projects%202027");
    EXPECT_TRUE(folder_on_disk("Projects 2027"));
    EXPECT_NE(made.body.find(">Projects 2027</a>"), std::string::npos) << made.body.substr(0, 400);
    EXPECT_EQ(made.body.find(text_not_created), std::string::npos);

    // Names that could leave the user directory, hide, or exist already.
    for (const char* name : {"..%2F..%2Fescape", ".hidden", "a%2Fb", "WORK", "a%3Ab", "Inbox"}) {
        SCOPED_TRACE(name);
        auto refused = in_session(s, std::string("View=Folders&Create=Yes&NewFolder=") + name);
        EXPECT_NE(refused.body.find(text_not_created), std::string::npos);
    }
    EXPECT_FALSE(platform::exists(host->users_dir() + "/escape"));

    // The current folder follows its rename; its message goes along.
    in_session(s, "View=List&Folder=Work");
    in_session(s, "View=Folders&Rename:Work=Yes&Folder:Work=Jobs");
    EXPECT_FALSE(folder_on_disk("Work"));
    EXPECT_TRUE(folder_on_disk("Jobs"));
    auto list = in_session(s, "View=List");
    EXPECT_NE(list.body.find("<title>Jobs"), std::string::npos) << list.body.substr(0, 400);
    EXPECT_NE(list.body.find("work item"), std::string::npos);

    // A rename that would leave the directory or onto another folder is refused.
    in_session(s, "View=Folders&Rename:Jobs=Yes&Folder:Jobs=..%2Fout");
    in_session(s, "View=Folders&Rename:Jobs=Yes&Folder:Jobs=old");
    EXPECT_TRUE(folder_on_disk("Jobs"));
    EXPECT_TRUE(folder_on_disk("Old"));

    // Deleting takes the messages with it; the fixed folders stay whatever
    // the form says.
    in_session(s, "View=Folders&Delete:old=Yes&Delete:Inbox=Yes&Delete:Trash=Yes&Rename:Sent=Yes&Folder:Sent=Gone");
    EXPECT_FALSE(folder_on_disk("Old"));
    for (const char* fixed : {"Inbox", "Trash", "Sent"})
        EXPECT_TRUE(folder_on_disk(fixed)) << fixed;
    EXPECT_FALSE(folder_on_disk("Gone"));
    std::string index = index_text();
    EXPECT_EQ(index.find("old item"), std::string::npos);
    EXPECT_NE(index.find("kept in the inbox"), std::string::npos);
    EXPECT_NE(index.find("\x01Jobs\x01"), std::string::npos) << index;

    // Finished goes back to the page before the Folders page.
    in_session(s, "View=List&Folder=Inbox");
    in_session(s, "View=Folders");
    auto done = in_session(s, "View=Folders&Finished=Yes");
    EXPECT_NE(done.body.find("class=\"cv-table cv-messages\""), std::string::npos) << done.body.substr(0, 400);
}

}  // namespace
}  // namespace corvane::features::test
