#include "engine/store/user_mail/user_mail.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "tests/support/temp_dir.h"

namespace corvane::store {
namespace {

namespace fs = platform;

// A session's life over a user directory: load, mail arrives through the
// filters, the user works, the session ends.
TEST(UserMail, SessionLife)
{
    testing::TempDir dir;
    ASSERT_TRUE(fs::write_file_atomic(dir / "User.ini",
                                      "[MailHost1]\nMailbox=Home\nDelete=1\n"
                                      "[MailHost2]\nMailbox=Other\nDelete=0\n"
                                      "[Filters]\nFilter0=Y S C \"news\" \"News\"\n")
                    .ok());
    ASSERT_TRUE(fs::make_directory(dir / "News").ok());
    ini::Profile engine(dir / "Corvane.ini");
    codec::PasswordCodec codec(dir / "Corvane.key");

    UserMail user(dir.path());
    EXPECT_EQ(user.load({"Inbox", "Drafts", "Sent", "Trash"}, engine, codec).mailbox, "Home");
    EXPECT_EQ(user.folders().names(), (std::vector<std::string>{"Inbox", "Drafts", "Sent", "Trash", "News"}));

    std::vector<std::string> keep;
    auto arrive = [&](const char* mailbox, const char* uid, const char* subject) {
        receiver::MessageReceiver receiver(
            user.index(), receiver::MessageReceiver::FromMailbox{mailbox, uid, &keep, user.filter_context()}, {});
        receiver.begin(100, receiver::StoreMode::whole);
        receiver.write(std::string("Subject: ") + subject + "\r\n\r\nbody\r\n");
        return receiver.finish();
    };
    MessageEntry* news = arrive("Home", "u1", "daily news");
    MessageEntry* mail = arrive("Home", "u2", "hello");
    MessageEntry* other = arrive("Other", "u3", "hi");
    EXPECT_EQ(news->folder, "News");
    EXPECT_EQ(mail->folder, "Inbox");

    ASSERT_TRUE(user.index().move(*mail, "Trash"));
    ASSERT_TRUE(user.index().move(*other, "Trash"));
    mail->flags |= flags::read;
    auto counts = user.folder_counts();
    ASSERT_EQ(counts.size(), 5u);
    EXPECT_EQ(counts[3].name, "Trash");
    EXPECT_EQ(counts[3].messages, 2u);
    EXPECT_EQ(counts[3].unread, 1u);
    EXPECT_EQ(counts[4].messages, 1u);

    ASSERT_TRUE(user.empty_trash());
    // The Home message waits for deletion on its server (Delete=1); the
    // other mailbox deletes nothing, so its entry goes at once.
    EXPECT_TRUE(user.end_session());
    ASSERT_EQ(user.index().size(), 2u);
    EXPECT_EQ(user.index().entries()[1]->server_id, "u2");
    EXPECT_FALSE(user.index().entries()[0]->has(flags::new_message));
    EXPECT_TRUE(user.index().save());

    // Folder changes reach the filters.
    ASSERT_TRUE(user.rename_folder("news", "Papers"));
    EXPECT_EQ(user.filters().rules()[0].folder, "Papers");
    EXPECT_TRUE(user.folders().contains("Papers"));
    EXPECT_FALSE(user.remove_folder("Papers"));  // not empty
    ASSERT_TRUE(user.index().empty_folder("Papers"));
    ASSERT_TRUE(user.remove_folder("Papers"));
    EXPECT_TRUE(user.filters().rules().empty());
    ini::clear_cache();
    EXPECT_FALSE(ini::Profile(dir / "User.ini").has_key("Filters", "Filter0"));
}

// The next session after a crash reaches every message: files without an
// entry are taken in, a copy with the flags of its original, and entries
// whose folder vanished land in the Inbox.
TEST(UserMail, NextSessionReachesEveryMessage)
{
    testing::TempDir dir;
    ASSERT_TRUE(fs::write_file_atomic(dir / "User.ini", "[User]\n").ok());
    ASSERT_TRUE(fs::make_directory(dir / "Work").ok());
    ini::Profile engine(dir / "Corvane.ini");
    codec::PasswordCodec codec(dir / "Corvane.key");
    const std::vector<std::string> fixed = {"Inbox", "Drafts", "Sent", "Trash"};
    {
        UserMail user(dir.path());
        user.load(fixed, engine, codec);
        for (const char* subject : {"first", "second"}) {
            receiver::MessageReceiver receiver(user.index(), "Inbox", {});
            receiver.begin(0, receiver::StoreMode::whole);
            receiver.write(std::string("Subject: ") + subject + "\r\nDate: 15 Jun 1999 10:20:30 -0500\r\n\r\nbody\r\n");
            receiver.finish()->flags |= flags::read | flags::replied;
        }
        MessageEntry& header_only = user.index().add_entry();
        header_only.number = user.index().next_number();
        header_only.file_name = text::format("CV%06u", header_only.number);
        header_only.folder = "Gone";
        header_only.subject = "waiting";
        ASSERT_TRUE(user.index().save());
    }
    // A copy made and a message stored whose entries were never written;
    // the latter under a number an entry has.
    ASSERT_TRUE(fs::copy_file(dir / "Inbox/CV000001.msg", dir / "Work/CV000040.msg", fs::Replace::no));
    ASSERT_TRUE(
        fs::write_file_atomic(dir / "Work/CV000002.msg", "Subject: arrived\r\nX-Priority: 1\r\n\r\nb\r\n").ok());

    UserMail user(dir.path());
    user.load(fixed, engine, codec);
    auto& entries = user.index().entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[2]->folder, "Inbox") << "the header-only entry of the vanished folder";
    auto taken_in = [&](const char* subject) -> const MessageEntry& {
        for (std::size_t i = 3; i < entries.size(); ++i) {
            if (entries[i]->subject == subject)
                return *entries[i];
        }
        ADD_FAILURE() << "no entry for " << subject;
        return *entries[0];
    };
    const MessageEntry& copy = taken_in("first");
    EXPECT_EQ(copy.file_name, "CV000040");
    EXPECT_EQ(copy.folder, "Work");
    EXPECT_EQ(copy.flags, entries[0]->flags) << "the flags of the message it copies";
    const MessageEntry& arrived = taken_in("arrived");
    EXPECT_NE(arrived.number, 2u);
    EXPECT_EQ(arrived.file_name, text::format("CV%06u", arrived.number));
    EXPECT_EQ(arrived.flags, flags::downloaded | flags::new_message | flags::urgent);
    EXPECT_TRUE(fs::exists(user.index().message_path(arrived)));
    EXPECT_TRUE(fs::exists(dir / "Inbox/CV000002.msg")) << "the entry's own file is untouched";
    EXPECT_TRUE(user.index().dirty());
    ASSERT_TRUE(user.index().save());

    // A folder deleted with its messages: the index is written before the
    // folder goes.
    EXPECT_TRUE(user.delete_folder("work"));
    EXPECT_FALSE(fs::exists(dir / "Work"));
    EXPECT_FALSE(user.folders().contains("Work"));
    MessageIndex on_disk;
    on_disk.open(dir.path());
    EXPECT_EQ(on_disk.size(), 3u);
    EXPECT_FALSE(user.delete_folder("Nope"));
}

}  // namespace
}  // namespace corvane::store
