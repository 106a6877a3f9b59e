// The actions on the message index inside the real Corvane.so: the folder
// list of a session, the actions a form carries, the index written after the
// response, StatusCheck's folder lines and the work on the mail when a
// session ends (trash rules, new flags, entries waiting for their server).
#include <gtest/gtest.h>

#include <thread>

#include "common/ini/profile.h"
#include "common/text/strings.h"
#include "tests/engine/core/dispatch/dispatch_fixture.h"
#include "tests/support/store_seed.h"

namespace corvane::mailbox_actions::test {

using namespace corvane::testing;
namespace {

using dispatch::test::EngineFixture;
using dispatch::test::list_page;

constexpr std::string_view text_no_message = "The message could not be found.";

class MailStore : public EngineFixture {
protected:
    std::string user_dir(const std::string& name) const { return host->users_dir() + "/" + name; }

    // A logged-on session of a user whose store is seeded first.
    dispatch::test::Logon seeded_session(const std::string& name, const std::vector<Message>& messages,
                                         const std::string& more_settings = "")
    {
        add_user(name, "secret", more_settings);
        seed_store(user_dir(name), 100, messages);
        auto session = logon(name, "secret");
        EXPECT_FALSE(session.id.empty()) << session.response.body;
        return session;
    }

    // The [Stats] value of a user's User.ini.
    std::string stat(const std::string& name, const char* key) const
    {
        ini::clear_cache();
        return ini::Profile(user_dir(name) + "/User.ini").text("Stats", key, "");
    }

    // Log lines (without time stamps) that end with text.
    bool log_line_ends_with(std::string_view text) const
    {
        for (const auto& line : host->log_lines()) {
            if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
                return true;
        }
        return false;
    }
};

TEST_F(MailStore, FolderListInTheUsersLanguageAndStatusCheckLines)
{
    start();
    add_user("anna", "secret", "Lang=de\n");
    ASSERT_TRUE(platform::make_directories(user_dir("anna") + "/Arbeit"));
    ASSERT_TRUE(platform::make_directories(user_dir("anna") + "/.hidden"));
    seed_store(user_dir("anna"), 10,
               {{1, "Posteingang", flag_downloaded | flag_read},
                {2, "posteingang", flag_downloaded | flag_new},
                {3, "Arbeit", flag_downloaded},
                {4, "", flag_downloaded, "u4", "Home"}});

    auto answer = get("View=StatusCheck&User=anna&Password=secret");
    EXPECT_EQ(answer.body, "5\nPosteingang\t2\t1\nEntwürfe\t0\t0\nGesendet\t0\t0\nPapierkorb\t0\t0\nArbeit\t1\t1\n");
    for (const char* fixed : {"Posteingang", "Entwürfe", "Gesendet", "Papierkorb"})
        EXPECT_TRUE(platform::is_directory(user_dir("anna") + "/" + fixed)) << fixed;

    // A StatusCheck session leaves the mail as it is (no new flags cleared,
    // no entries pruned) and writes the totals when it ends.
    auto index = stored_index(user_dir("anna"));
    ASSERT_EQ(index.size(), 4u);
    EXPECT_EQ(index[2].flags, flag_downloaded | flag_new);
    EXPECT_EQ(index[4].server_id, "u4");
    EXPECT_EQ(stat("anna", "MessageCount"), "4");
    EXPECT_EQ(stat("anna", "DiskSpace"), "4");  // (4 x 1000 + 512) / 1024
}

TEST_F(MailStore, ListActionsChangeTheIndexAndTheFiles)
{
    start();
    ASSERT_TRUE(platform::make_directories(host->users_dir() + "/alice/Work"));
    auto session = seeded_session("alice", {{1, "Inbox", flag_downloaded},
                                            {2, "Inbox", flag_downloaded | flag_new},
                                            {3, "Inbox", flag_downloaded},
                                            {4, "Inbox", 0, "u4", "Home"},
                                            {5, "", flag_downloaded, "u5", "Home"}});
    const std::string dir = user_dir("alice");
    auto index = [&] { return stored_index(dir); };

    // Marking: hostile numbers and the entry without a folder are passed over.
    in_session(session,
               "View=List&MarkRead=1&Number=1&Number=2&Number=abc&Number=0&Number=5&Number=1234567"
               "&Number=-2&Number=%202%20");
    EXPECT_EQ(index()[1].flags, flag_downloaded | flag_read);
    EXPECT_EQ(index()[2].flags, flag_downloaded | flag_read) << "marking read clears the new flag";
    EXPECT_EQ(index()[5].flags, flag_downloaded);
    EXPECT_EQ(index()[5].folder, "");
    in_session(session, "View=List&MarkUnread=1&Number=1");
    EXPECT_EQ(index()[1].flags, flag_downloaded);

    // Move: DestFolder in any case; the file follows.
    in_session(session, "View=List&Move=1&DestFolder=work&Number=1");
    EXPECT_EQ(index()[1].folder, "Work");
    EXPECT_TRUE(message_file_exists(dir, "Work", 1));
    EXPECT_FALSE(message_file_exists(dir, "Inbox", 1));
    // A DestFolder that names no folder means the current folder.
    in_session(session, "View=List&Folder=Inbox&Move=1&DestFolder=..%2Fetc&Number=1");
    EXPECT_EQ(index()[1].folder, "Inbox");
    EXPECT_TRUE(message_file_exists(dir, "Inbox", 1));

    // Copy: files for a downloaded message, copy-pending for one that is not.
    in_session(session, "View=List&Copy=1&DestFolder=Work&Number=2&Number=4");
    auto copied = index();
    ASSERT_EQ(copied.size(), 7u);
    EXPECT_EQ(copied[100].folder, "Work");
    EXPECT_TRUE(message_file_exists(dir, "Work", 100));
    EXPECT_EQ(copied[101].folder, "Work");
    EXPECT_EQ(copied[101].flags, flag_copy_pending);
    EXPECT_EQ(copied[4].flags, flag_copy_pending);

    // Delete moves to the Trash; in the Trash it removes for good.
    in_session(session, "View=List&Folder=Inbox&Delete=1&Number=3");
    EXPECT_EQ(index()[3].folder, "Trash");
    EXPECT_TRUE(message_file_exists(dir, "Trash", 3));
    in_session(session, "View=List&Folder=Trash&Delete=1&Number=3&Number=3");
    EXPECT_EQ(index().count(3), 0u);
    EXPECT_FALSE(message_file_exists(dir, "Trash", 3));

    // Change with DestFolder wins over Folder; ToInbox over both.
    in_session(session, "View=List&Change=1&DestFolder=Work&Folder=Trash&Delete=1&Number=100");
    EXPECT_EQ(index()[100].folder, "Trash") << "deleted from Work, not from the Trash";
    in_session(session, "View=List&Folder=Trash&ToInbox=1&Delete=1&Number=100");
    EXPECT_EQ(index()[100].folder, "Trash") << "deleted from the Inbox: moved, not removed";
    // A message from a mailbox deleted in the Trash waits for its server.
    in_session(session, "View=List&Folder=Trash&Move=1&Number=4");
    in_session(session, "View=List&Folder=Trash&Delete=1&Number=4");
    EXPECT_EQ(index()[4].folder, "");
    EXPECT_EQ(index()[4].server_id, "u4");

    // Every page of it was the list.
    EXPECT_NE(in_session(session, "View=List").body.find(list_page), std::string::npos);
}

TEST_F(MailStore, MessageViewMovesOnToTheNextMessageOfItsFolder)
{
    start();
    ASSERT_TRUE(platform::make_directories(host->users_dir() + "/alice/Work"));
    auto session = seeded_session("alice", {{1, "Inbox"}, {2, "Work"}, {3, "Inbox"}, {4, "Work"}});
    const std::string dir = user_dir("alice");

    // Deleting message 1 on its page makes 3 (the next of the Inbox) current.
    auto first = in_session(session, "View=Message&Number=1&Delete=1");
    EXPECT_EQ(stored_index(dir)[1].folder, "Trash");
    EXPECT_EQ(first.body.find(list_page), std::string::npos) << "still a message page";
    // Copy acts on the current message.
    in_session(session, "View=Message&Copy=1&DestFolder=Work");
    EXPECT_EQ(stored_index(dir)[100].folder, "Work");
    EXPECT_TRUE(message_file_exists(dir, "Work", 100));
    // Moving 3 leaves no next message in the Inbox: back to the list.
    auto last = in_session(session, "View=Message&Move=1&DestFolder=Work");
    auto index = stored_index(dir);
    EXPECT_EQ(index[3].folder, "Work");
    EXPECT_TRUE(message_file_exists(dir, "Work", 3));
    EXPECT_EQ(index[2].folder, "Work");
    EXPECT_NE(last.body.find(list_page), std::string::npos) << last.body;

    // An unknown number is the list with its error message.
    auto unknown = in_session(session, "View=Message&Number=77&Delete=1");
    EXPECT_NE(unknown.body.find(list_page), std::string::npos);
    EXPECT_NE(unknown.body.find(text_no_message), std::string::npos);
    EXPECT_EQ(stored_index(dir).size(), 5u);
}

TEST_F(MailStore, EndOfSessionTidiesTheMail)
{
    start();
    const std::string mailboxes =
        "EmptyTrash=Yes\n"
        "[MailHost1]\nMailbox=Home\nDelete=1\n"
        "[MailHost2]\nMailbox=Keep\nDelete=0\n"
        "[MailHost3]\nMailbox=Two\nDelete=2\n";
    auto session = seeded_session("alice",
                                  {{1, "Trash", flag_downloaded, "u1", "Home", 4000},
                                   {2, "Inbox", flag_downloaded | flag_new},
                                   {3, "", flag_downloaded, "u3", "Home"},
                                   {4, "", flag_downloaded, "u4", "Keep"},
                                   {5, "", flag_downloaded, "u5", "Two"},
                                   {6, "", 0, "u6", "Two"},
                                   {7, "", 0, "u7", "Gone"},
                                   {8, "", 0, "", "Home"},
                                   {9, "Trash", flag_downloaded}},
                                  mailboxes);
    const std::string dir = user_dir("alice");
    in_session(session, "View=Logout");

    EXPECT_TRUE(log_line_ends_with("Emptying trash for alice")) << host->log_text();
    // Home (Delete=1) and Two (Delete=2) are asked to delete on their
    // servers, Keep (Delete=0) is not; no server answers here.
    std::size_t attempts = 0;
    for (const auto& line : host->log_lines())
        attempts += line.find("POP3 Connecting to") != std::string::npos;
    EXPECT_EQ(attempts, 2u) << host->log_text();
    EXPECT_TRUE(log_line_ends_with("Session expired"));

    auto index = stored_index(dir);
    std::vector<std::uint32_t> numbers;
    for (const auto& [number, entry] : index)
        numbers.push_back(number);
    // 1 waits for Home (Delete 1); 3 too; 6 for Two (Delete 2, never
    // downloaded); the rest needed no server.
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1, 2, 3, 6}));
    EXPECT_EQ(index[1].folder, "");
    EXPECT_EQ(index[2].flags, flag_downloaded) << "the new flag is gone";
    EXPECT_FALSE(message_file_exists(dir, "Trash", 1));
    EXPECT_FALSE(message_file_exists(dir, "Trash", 9));
    EXPECT_EQ(stat("alice", "MessageCount"), "4");
    EXPECT_EQ(stat("alice", "DiskSpace"), "6");  // (4000 + 1000 + 1000 + 512) / 1024
}

TEST_F(MailStore, QuotaRulesEmptyTheTrashInTheirChainOrder)
{
    start();
    struct Case {
        const char* user;
        const char* empty_trash;
        const char* max_dir_size;  // KB; the user has 3072
        const char* max_messages;  // the user has 3
        const char* line;          // after "Emptying trash for <user>"; nullptr: kept
    };
    const Case cases[] = {
        {"q1", "Yes", "0", "0", ""},
        {"q2", "No", "3000", "0", " (Exceeds Disk Space Threshold)"},
        {"q3", "No", "3072", "0", nullptr},
        // The count rule is consulted only without a size limit.
        {"q4", "No", "4000", "1", nullptr},
        {"q5", "No", "0", "2", " (Exceeds Message Count Threshold)"},
        {"q6", "No", "-1", "2", " (Exceeds Message Count Threshold)"},
        {"q7", "No", "0", "3", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        host->set("UserLimits", "MaxDirSize", c.max_dir_size);
        host->set("UserLimits", "MaxMessages", c.max_messages);
        auto session = seeded_session(c.user,
                                      {{1, "Trash", flag_downloaded, "", "", 1024 * 1024},
                                       {2, "Inbox", flag_downloaded, "", "", 1024 * 1024},
                                       {3, "Inbox", flag_downloaded, "", "", 1024 * 1024}},
                                      std::string("EmptyTrash=") + c.empty_trash + "\n");
        in_session(session, "View=Logout");
        std::string emptied = std::string("Emptying trash for ") + c.user;
        if (c.line) {
            EXPECT_TRUE(log_line_ends_with(emptied + c.line)) << host->log_text();
            EXPECT_EQ(stored_index(user_dir(c.user)).count(1), 0u);
            EXPECT_EQ(stat(c.user, "MessageCount"), "2");
        } else {
            EXPECT_FALSE(host->log_contains(emptied));
            EXPECT_EQ(stored_index(user_dir(c.user))[1].folder, "Trash");
            EXPECT_EQ(stat(c.user, "MessageCount"), "3");
        }
    }
}

TEST_F(MailStore, NothingLeavesTheUserDirectory)
{
    start();
    // An index entry whose folder points outside the user directory, at a
    // file that exists there.
    const std::string outside = host->users_dir() + "/outside";
    ASSERT_TRUE(platform::make_directories(outside));
    ASSERT_TRUE(platform::write_file_atomic(outside + "/" + file_name_of(9) + ".msg", "Subject: keep me\r\n\r\n"));
    ASSERT_TRUE(platform::make_directories(host->users_dir() + "/bob"));
    auto session = seeded_session("mallory", {{1, "Inbox"}, {9, "../outside", flag_downloaded}});
    const std::string dir = user_dir("mallory");

    for (const char* query :
         {"View=List&Move=1&DestFolder=Inbox&Number=9", "View=List&Copy=1&Number=9", "View=Message&Number=9&Delete=1",
          "View=List&Move=1&DestFolder=..%2F..%2Fbob&Number=1", "View=List&Copy=1&DestFolder=%2Ftmp&Number=1",
          "View=List&Folder=..%2Fbob&Move=1&Number=1", "View=List&Folder=Trash&Delete=1&Number=9"}) {
        SCOPED_TRACE(query);
        auto response = in_session(session, query);
        EXPECT_TRUE(response.header_complete);
    }
    EXPECT_TRUE(platform::is_regular_file(outside + "/" + file_name_of(9) + ".msg"));
    auto listing = platform::list_directory(host->users_dir() + "/bob");
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->empty());
    // The copies stayed in the current folder, the Inbox.
    auto index = stored_index(dir);
    EXPECT_EQ(index.size(), 2u) << "message 1 and its copy; 9 was removed from the index";
    for (const auto& [number, entry] : index) {
        EXPECT_EQ(entry.folder, "Inbox") << number;
    }
}

TEST_F(MailStore, SessionsOfSeveralUsersWorkAtOnce)
{
    start();
    constexpr int users = 4;
    constexpr int rounds = 20;
    std::vector<dispatch::test::Logon> sessions;
    for (int u = 0; u < users; ++u) {
        std::string name = "user" + std::to_string(u);
        ASSERT_TRUE(platform::make_directories(user_dir(name) + "/Work"));
        sessions.push_back(seeded_session(name, {{1, "Inbox"}}, "EmptyTrash=Yes\n"));
    }
    // Each user copies a message, deletes the copy and marks the original,
    // over and over, while the others do the same; each session's end
    // empties its Trash.
    std::vector<std::thread> threads;
    for (int u = 0; u < users; ++u) {
        threads.emplace_back([&, u] {
            for (int i = 0; i < rounds; ++i) {
                std::string copy = std::to_string(100 + i);
                in_session(sessions[u], "View=List&Copy=1&DestFolder=Work&Number=1");
                in_session(sessions[u], "View=List&Folder=Work&Delete=1&Number=" + copy);
                in_session(sessions[u],
                           std::string("View=List&") + (i % 2 ? "MarkUnread" : "MarkRead") + "=1&Number=1");
            }
            in_session(sessions[u], "View=Logout");
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int u = 0; u < users; ++u) {
        std::string name = "user" + std::to_string(u);
        SCOPED_TRACE(name);
        auto index = stored_index(user_dir(name));
        ASSERT_EQ(index.size(), 1u);
        EXPECT_EQ(index[1].flags, flag_downloaded);
        EXPECT_EQ(stat(name, "MessageCount"), "1");
        auto trash = platform::list_directory(user_dir(name) + "/Trash");
        ASSERT_TRUE(trash);
        EXPECT_TRUE(trash->empty());
    }
}

}  // namespace
}  // namespace corvane::mailbox_actions::test
