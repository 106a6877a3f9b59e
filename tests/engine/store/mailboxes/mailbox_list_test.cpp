#include "engine/store/mailboxes/mailbox_list.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/message_index.h"
#include "tests/support/temp_dir.h"

namespace corvane::mailboxes {
namespace {

class MailboxListTest : public ::testing::Test {
protected:
    void write_user_ini(const std::string& text)
    {
        ASSERT_TRUE(platform::write_file_atomic(dir / "User.ini", text).ok());
        ini::clear_cache();
    }
    ini::Profile user() const { return ini::Profile(dir / "User.ini"); }

    testing::TempDir dir;
    codec::PasswordCodec codec{dir / "Corvane.key"};
    MailboxDefaults defaults;
};

TEST_F(MailboxListTest, DefaultsAndTheEndOfTheList)
{
    write_user_ini(
        "[User]\nFullName=Jo Smith\nEMail=jo@x.org\n"
        "[MailHost1]\nMailbox=Home\nHost=pop.x.org\nUser=jo\nTLS=starttls\n"
        "[MailHost2]\nMailbox=Work\nFullName=J. Smith\nPort=995\nActive=No\nDefault=Yes\nDelete=2\n"
        "Color=#FF0000\n"
        "[MailHost4]\nMailbox=Lost\n");
    defaults.color = "#123456";
    defaults.port = 1110;
    defaults.delete_mode = 1;
    MailboxList list;
    MailboxRecord chosen = list.load(dir.path(), defaults, codec);
    ASSERT_EQ(list.records().size(), 2u);
    const MailboxRecord& home = list.records()[0];
    EXPECT_EQ(home.full_name, "Jo Smith");
    EXPECT_EQ(home.email, "jo@x.org");
    EXPECT_EQ(home.color, "#123456");
    EXPECT_EQ(home.port, 1110);
    EXPECT_EQ(home.delete_mode, 1);
    EXPECT_TRUE(home.active);
    EXPECT_FALSE(home.is_default);
    const MailboxRecord& work = list.records()[1];
    EXPECT_EQ(work.full_name, "J. Smith");
    EXPECT_EQ(work.port, 995);
    EXPECT_FALSE(work.active);
    EXPECT_EQ(work.delete_mode, 2);
    EXPECT_EQ(home.tls, "starttls");
    EXPECT_EQ(work.tls, "");  // missing: the port decides
    EXPECT_EQ(chosen.mailbox, "Work");

    EXPECT_EQ(list.find("WORK"), &list.records()[1]);
    EXPECT_EQ(list.find("Lost"), nullptr);
    EXPECT_EQ(list.index_of("home"), 0u);
    EXPECT_EQ(list.index_of("nope"), 1u);  // the default one

    // Saving two records writes MailHost1 and 2 and removes MailHost3 only.
    ASSERT_TRUE(platform::append_file(dir / "User.ini", "[MailHost3]\nMailbox=Stale\n").ok());
    ini::clear_cache();
    ASSERT_TRUE(list.save(dir.path(), codec));
    ini::clear_cache();
    EXPECT_EQ(user().text("MailHost1", "Mailbox", ""), "Home");
    EXPECT_EQ(user().text("MailHost1", "Color", ""), "#123456");
    EXPECT_EQ(user().text("MailHost2", "Default", ""), "Yes");
    EXPECT_EQ(user().text("MailHost2", "Active", ""), "No");
    EXPECT_EQ(user().text("MailHost1", "TLS", ""), "starttls");
    EXPECT_FALSE(user().has_key("MailHost2", "TLS"));
    EXPECT_FALSE(user().has_key("MailHost3", "Mailbox"));
    EXPECT_EQ(user().text("MailHost4", "Mailbox", ""), "Lost");
    EXPECT_EQ(user().text("User", "FullName", ""), "Jo Smith");
}

TEST_F(MailboxListTest, FirstRecordBecomesTheDefault)
{
    write_user_ini("[MailHost1]\nMailbox=A\n[MailHost2]\nMailbox=B\n");
    MailboxList list;
    EXPECT_EQ(list.load(dir.path(), defaults, codec).mailbox, "A");
    EXPECT_TRUE(list.records()[0].is_default);
    ASSERT_TRUE(list.save(dir.path(), codec));
    ini::clear_cache();
    EXPECT_EQ(user().text("MailHost1", "Default", ""), "Yes");
    EXPECT_EQ(user().text("MailHost2", "Default", ""), "No");

    MailboxList empty;
    write_user_ini("");
    MailboxRecord none = empty.load(dir.path(), defaults, codec);
    EXPECT_TRUE(empty.records().empty());
    EXPECT_EQ(none.mailbox, "");
    EXPECT_EQ(none.port, 110);
    EXPECT_FALSE(none.active);
    EXPECT_FALSE(none.is_default);
    EXPECT_EQ(empty.index_of("x"), 0u);
}

TEST_F(MailboxListTest, PasswordsAreScrambledOnDisk)
{
    write_user_ini("[MailHost1]\nMailbox=A\nPass=-s3cret\n");
    MailboxList list;
    list.load(dir.path(), defaults, codec);
    EXPECT_EQ(list.records()[0].pass, "s3cret");
    ini::clear_cache();
    std::string stored = user().text("MailHost1", "Pass", "");
    EXPECT_NE(stored, "-s3cret");
    EXPECT_EQ(stored.find("s3cret"), std::string::npos);

    MailboxList again;
    again.load(dir.path(), defaults, codec);
    EXPECT_EQ(again.records()[0].pass, "s3cret");
    again.records()[0].pass = "changed";
    ASSERT_TRUE(again.save(dir.path(), codec));
    MailboxList third;
    third.load(dir.path(), defaults, codec);
    EXPECT_EQ(third.records()[0].pass, "changed");

    // Under another key the password cannot be read; it is kept as stored
    // instead of being overwritten by an empty one.
    ini::clear_cache();
    std::string before = user().text("MailHost1", "Pass", "");
    codec::PasswordCodec other(dir / "Other.key");
    MailboxList foreign;
    foreign.load(dir.path(), defaults, other);
    EXPECT_EQ(foreign.records()[0].pass, "");
    ASSERT_TRUE(foreign.save(dir.path(), other));
    ini::clear_cache();
    EXPECT_EQ(user().text("MailHost1", "Pass", ""), before);
}

TEST_F(MailboxListTest, PruneDeletedEntries)
{
    write_user_ini(
        "[MailHost1]\nMailbox=Keep\nDelete=1\n[MailHost2]\nMailbox=Zero\nDelete=0\n"
        "[MailHost3]\nMailbox=Two\nDelete=2\n");
    MailboxList list;
    list.load(dir.path(), defaults, codec);

    store::MessageIndex index;
    index.open(dir.path());
    auto add = [&](const char* mailbox, const char* uid, std::uint32_t flags, const char* folder = "") {
        store::MessageEntry& e = index.add_entry();
        e.mailbox = mailbox;
        e.server_id = uid;
        e.flags = flags;
        e.folder = folder;
        e.subject = text::format("%s/%s/%u", mailbox, uid, flags);
    };
    add("Keep", "u1", 0);
    add("Keep", "", 0);                          // no identifier
    add("Zero", "u2", 0);                        // mode 0
    add("Two", "u3", store::flags::downloaded);  // mode 2, downloaded
    add("Two", "u4", 0);                         // mode 2, header only: waits
    add("Gone", "u5", 0);                        // no such mailbox
    add("Keep", "u6", 0, "Inbox");               // still in a folder
    EXPECT_TRUE(prune_deleted_entries(index, list));
    std::vector<std::string> left;
    for (auto& e : index.entries())
        left.push_back(e->subject.str());
    EXPECT_EQ(left, (std::vector<std::string>{"Keep/u1/0", "Two/u4/0", "Keep/u6/0"}));

    index.erase(*index.entries()[0]);
    index.erase(*index.entries()[0]);
    EXPECT_FALSE(prune_deleted_entries(index, list));
}

}  // namespace
}  // namespace corvane::mailboxes
