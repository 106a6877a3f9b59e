#include "engine/store/user_mail/user_mail.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
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

}  // namespace
}  // namespace corvane::store
