// The user record's mail, without an engine: what loading the record brings
// in and in which language, what saving writes, the totals for [Stats], the
// receiver set-up, the identity the session slots show, and the work on the
// mail at the end of a session against a store written by hand.
#include <gtest/gtest.h>

#include "common/log/log_file.h"
#include "engine/core/accounts/server_deletion.h"
#include "engine/core/accounts/user_record.h"
#include "tests/engine/core/accounts/accounts_fixture.h"
#include "tests/support/store_seed.h"

namespace corvane::accounts {
namespace {

using namespace corvane::testing;

class UserMailTest : public AccountsTest {
protected:
    UserMailTest()
    {
        m_context.fixed_folders = [this](std::string_view language) {
            languages_asked.emplace_back(language);
            if (language == "de")
                return std::vector<std::string>{"Posteingang", "Entwürfe", "Gesendet", "Papierkorb"};
            if (language == "xx")
                return std::vector<std::string>{"Inbox", "../x", "Sent", "Trash"};
            return std::vector<std::string>{"Inbox", "Drafts", "Sent", "Trash"};
        };
        types.add_text("application/pdf pdf\ntext/plain txt\n");
        m_context.mime_types = &types;
    }

    std::unique_ptr<UserRecord> load(const std::string& name)
    {
        auto record = UserRecord::load(m_context, name);
        EXPECT_TRUE(record);
        return record ? std::move(*record) : nullptr;
    }

    std::vector<std::string> languages_asked;
    mime_types::MimeTypeTable types;
};

TEST_F(UserMailTest, LoadsInTheUsersLanguageAndSavesTheFilters)
{
    std::string ini = make_account("anna",
                                   "[User]\nLang=de\n"
                                   "[MailHost1]\nMailbox=Home\nPass=-pop-secret\n"
                                   "[Filters]\nFilter0=Y S C \"news\" \"Papierkorb\"\n");
    seed_store(m_context.user_dir + "/anna", 7,
               {{1, "Posteingang", flag_downloaded, "u1", "Home", 2000}, {2, "", flag_downloaded, "u2", "Home", 600}});
    auto user = load("anna");
    ASSERT_TRUE(user);
    store::UserMail& mail = user->mail();

    // The folder names come in the language the settings name.
    EXPECT_EQ(languages_asked, std::vector<std::string>{"de"});
    EXPECT_EQ(mail.folders().names(), (std::vector<std::string>{"Posteingang", "Entwürfe", "Gesendet", "Papierkorb"}));
    EXPECT_TRUE(platform::is_directory(m_context.user_dir + "/anna/Entwürfe"));
    EXPECT_EQ(mail.index().size(), 2u);
    EXPECT_EQ(user->default_mailbox().mailbox, "Home");
    EXPECT_EQ(mail.mailboxes().records()[0].pass, "pop-secret");
    EXPECT_EQ(read(ini).find("-pop-secret"), std::string::npos) << "scrambled on load";
    ASSERT_EQ(mail.filters().rules().size(), 1u);

    // Saving the record writes its settings, then the filters.
    mail.filters().rules()[0].text = "daily";
    user->settings().compose_width = 200;
    ASSERT_TRUE(user->save());
    ini::clear_cache();
    ini::Profile saved(ini);
    EXPECT_EQ(saved.text("User", "ComposeWidth", ""), "132");
    EXPECT_EQ(saved.text("Filters", "Filter0", ""), "Y S C \"daily\" \"Papierkorb\"");

    // The totals: every entry counts, the downloaded ones with their size.
    MailTotals totals = user->mail_totals();
    EXPECT_EQ(totals.message_count, 2);
    EXPECT_EQ(totals.downloaded_bytes, 2600u);
    user->release();
    ini::clear_cache();
    EXPECT_EQ(ini::Profile(ini).text("Stats", "MessageCount", ""), "2");
    EXPECT_EQ(ini::Profile(ini).text("Stats", "DiskSpace", ""), "3");
}

TEST_F(UserMailTest, FolderNamesThatCannotBeDirectoriesLeaveTheListEmpty)
{
    make_account("xavier", "[User]\nLang=xx\n");
    auto user = load("xavier");
    ASSERT_TRUE(user);
    EXPECT_TRUE(user->mail().folders().empty());
    EXPECT_FALSE(platform::exists(m_context.user_dir + "/x"));
}

TEST_F(UserMailTest, ReceiverUsesTheEnginesTypesAndDateSetting)
{
    make_account("alice", "[User]\n");
    const std::string dir = m_context.user_dir + "/alice";
    seed_store(dir, 5, {{1, "Inbox", flag_downloaded | 0x20}, {2, "Inbox", flag_downloaded | 0x20}});
    const std::string message =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
        "--b\r\nContent-Type: application/pdf\r\n\r\n%PDF-1.4\r\n--b--\r\n";
    for (const char* name : {"/Inbox/CV000001.msg", "/Inbox/CV000002.msg"})
        ASSERT_TRUE(platform::write_file_atomic(dir + name, message));

    auto user = load("alice");
    ASSERT_TRUE(user);
    EXPECT_FALSE(user->receiver_options().use_received_date);
    ASSERT_TRUE(m_settings.write_yes_no("PopClient", "UseReceivedDate", true));
    EXPECT_TRUE(user->receiver_options().use_received_date) << "read as it is now";

    // A part without a name is named after its type's registered extension.
    const store::PartList& named = user->part_list(*user->mail().index().find(1));
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[1].file_name, "ATT00002.pdf");
    EXPECT_TRUE(platform::is_regular_file(dir + "/Inbox/CV000001.att")) << "kept for next time";

    m_context.mime_types = nullptr;
    auto without_types = load("alice");
    EXPECT_EQ(without_types->part_list(*without_types->mail().index().find(2))[1].file_name, "ATT00002.att");
}

TEST_F(UserMailTest, TheDefaultMailboxGivesTheSlotNames)
{
    struct Case {
        const char* what;
        const char* file;
        const char* full_name;
        const char* email;
    } cases[] = {
        {"no records", "[User]\nFullName=Jo\nEMail=jo@x\n", "", ""},
        {"first when none is default",
         "[User]\nFullName=Jo\nEMail=jo@x\n[MailHost1]\nMailbox=a\nEMail=a@x\n[MailHost2]\nMailbox=b\nEMail=b@x\n",
         "Jo", "a@x"},
        {"the default one",
         "[MailHost1]\nMailbox=a\nEMail=a@x\n[MailHost2]\nMailbox=b\nFullName=B\nEMail=b@x\nDefault=yes\n", "B", "b@x"},
        {"an empty mailbox name ends the list",
         "[MailHost1]\nMailbox=a\nEMail=a@x\n[MailHost2]\nMailbox=\n[MailHost3]\nMailbox=c\nEMail=c@x\nDefault=Yes\n",
         "", "a@x"},
        {"a gap ends the list", "[MailHost2]\nMailbox=b\nEMail=b@x\nDefault=Yes\n", "", ""},
        {"cut to 63",
         "[MailHost1]\nMailbox=a\nFullName="
         "0123456789012345678901234567890123456789012345678901234567890123456789\n",
         "012345678901234567890123456789012345678901234567890123456789012", ""},
    };
    for (const auto& c : cases) {
        make_account("ida", c.file);
        ini::clear_cache();
        auto user = load("ida");
        ASSERT_TRUE(user);
        EXPECT_EQ(user->default_mailbox().full_name, c.full_name) << c.what;
        EXPECT_EQ(user->default_mailbox().email, c.email) << c.what;
    }
}

// Counts the mailboxes it was asked to delete on.
class CountingDeletion final : public ServerDeletion {
public:
    void delete_waiting(store::UserMail&, const mailboxes::MailboxRecord& mailbox, log::Logger&) override
    {
        asked.push_back(mailbox.mailbox);
    }
    std::vector<std::string> asked;
};

TEST_F(UserMailTest, TheEndOfASessionTidiesMailInOneChain)
{
    CountingDeletion deletion;
    m_context.server_deletion = &deletion;
    // 50 KB of downloaded mail in ten messages, one of them in the Trash.
    auto seed = [&](const char* user_ini) {
        make_account("u", user_ini);
        std::vector<Message> messages;
        for (std::uint32_t n = 1; n <= 10; ++n)
            messages.emplace_back(n, n == 10 ? "Trash" : "Inbox", flag_downloaded | flag_new, "", "", 5120);
        seed_store(m_context.user_dir + "/u", 11, messages);
        ini::clear_cache();
    };
    struct Case {
        const char* what;
        bool empty_trash;
        std::int64_t max_dir_size, max_messages;
        const char* line;  // nullptr: the trash stays
    } cases[] = {
        {"user asks", true, 10, 1, "Emptying trash for u"},
        {"size over", false, 10, 1, "Emptying trash for u (Exceeds Disk Space Threshold)"},
        {"size under: count not consulted", false, 100, 1, nullptr},
        {"no size limit, count over", false, 0, 5, "Emptying trash for u (Exceeds Message Count Threshold)"},
        {"no limits", false, 0, 0, nullptr},
        {"count at the limit", false, 0, 10, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        seed(c.empty_trash ? "[User]\nEmptyTrash=Yes\n" : "[User]\n");
        CapturingLog log;
        auto user = load("u");
        ASSERT_TRUE(user);
        user->end_session(MailLimits{c.max_dir_size, c.max_messages}, log);
        auto stored = stored_index(m_context.user_dir + "/u");
        EXPECT_EQ(stored.count(10), c.line ? 0u : 1u) << "the message in the Trash";
        EXPECT_EQ(log.contains("Emptying trash for u"), c.line != nullptr) << log.all();
        if (c.line) {
            EXPECT_TRUE(log.contains(c.line)) << log.all();
        }
        ASSERT_EQ(stored.count(1), 1u);
        EXPECT_EQ(stored[1].flags & flag_new, 0u) << "new flags are taken off and the index written";
    }
    EXPECT_TRUE(deletion.asked.empty());

    // Entries deleted here that their server still has to delete go to the
    // server deletion, once per mailbox whose Delete mode asks for it.
    make_account("p", "[MailHost1]\nMailbox=Home\nDelete=1\n[MailHost2]\nMailbox=Work\nDelete=0\n");
    seed_store(m_context.user_dir + "/p", 3, {{1, "", flag_downloaded, "uid1", "Home"}, {2, "Inbox"}});
    ini::clear_cache();
    CapturingLog log;
    auto pop = load("p");
    pop->end_session(MailLimits{}, log);
    EXPECT_EQ(deletion.asked, std::vector<std::string>{"Home"});
}

}  // namespace
}  // namespace corvane::accounts
