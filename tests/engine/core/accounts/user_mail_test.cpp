// The store as a part of the user record, without an engine: what loading
// the record brings in and in which language, what saving writes, the
// totals for [Stats], and the receiver set-up the parts hand out.
#include "engine/core/mailstore/store_parts.h"

#include <gtest/gtest.h>

#include "tests/engine/core/accounts/accounts_fixture.h"
#include "tests/engine/core/mailstore/store_seed.h"

namespace corvane::mailstore::test {
namespace {

class StorePartsTest : public testing::AccountsTest {
protected:
    StorePartsTest()
    {
        StoreContext store;
        store.settings = &m_settings;
        store.codec = &m_codec;
        store.fixed_folders = [this](std::string_view language) {
            languages_asked.emplace_back(language);
            if (language == "de")
                return std::vector<std::string>{"Posteingang", "Entwürfe", "Gesendet", "Papierkorb"};
            if (language == "xx")
                return std::vector<std::string>{"Inbox", "../x", "Sent", "Trash"};
            return std::vector<std::string>{"Inbox", "Drafts", "Sent", "Trash"};
        };
        store.mime_types = [this] { return with_types ? &types : nullptr; };
        m_context.parts = store_parts_factory(store);
        types.add_text("application/pdf pdf\ntext/plain txt\n");
    }

    std::unique_ptr<accounts::UserRecord> load(const std::string& name)
    {
        auto record = accounts::UserRecord::load(m_context, name);
        EXPECT_TRUE(record);
        return record ? std::move(*record) : nullptr;
    }

    std::vector<std::string> languages_asked;
    mime_types::MimeTypeTable types;
    bool with_types = true;
};

TEST_F(StorePartsTest, LoadsInTheUsersLanguageAndSavesTheFilters)
{
    std::string ini = make_account("anna",
                                   "[User]\nLang=de\n"
                                   "[MailHost1]\nMailbox=Home\nPass=-pop-secret\n"
                                   "[Filters]\nFilter0=Y S C \"news\" \"Papierkorb\"\n");
    seed_store(m_context.user_dir + "/anna", 7,
               {{1, "Posteingang", flag_downloaded, "u1", "Home", 2000}, {2, "", flag_downloaded, "u2", "Home", 600}});
    auto user = load("anna");
    ASSERT_TRUE(user);
    StoreParts* parts = store_parts(*user);
    ASSERT_NE(parts, nullptr);
    ASSERT_NE(parts->store(), nullptr);

    // The folder names come in the language the settings name.
    EXPECT_EQ(languages_asked, std::vector<std::string>{"de"});
    EXPECT_EQ(parts->store()->folders().names(),
              (std::vector<std::string>{"Posteingang", "Entwürfe", "Gesendet", "Papierkorb"}));
    EXPECT_TRUE(platform::is_directory(m_context.user_dir + "/anna/Entwürfe"));
    EXPECT_EQ(parts->store()->index().size(), 2u);
    EXPECT_EQ(parts->default_mailbox().mailbox, "Home");
    EXPECT_EQ(parts->store()->mailboxes().records()[0].pass, "pop-secret");
    EXPECT_EQ(read(ini).find("-pop-secret"), std::string::npos) << "scrambled on load";
    ASSERT_EQ(parts->store()->filters().rules().size(), 1u);

    // Saving the record writes its settings, then the filters.
    parts->store()->filters().rules()[0].text = "daily";
    user->settings().compose_width = 200;
    ASSERT_TRUE(user->save());
    ini::clear_cache();
    ini::Profile saved(ini);
    EXPECT_EQ(saved.text("User", "ComposeWidth", ""), "132");
    EXPECT_EQ(saved.text("Filters", "Filter0", ""), "Y S C \"daily\" \"Papierkorb\"");

    // The totals: every entry counts, the downloaded ones with their size.
    auto totals = parts->mail_totals();
    ASSERT_TRUE(totals);
    EXPECT_EQ(totals->message_count, 2);
    EXPECT_EQ(totals->downloaded_bytes, 2600u);
    user->release();
    ini::clear_cache();
    EXPECT_EQ(ini::Profile(ini).text("Stats", "MessageCount", ""), "2");
    EXPECT_EQ(ini::Profile(ini).text("Stats", "DiskSpace", ""), "3");
}

TEST_F(StorePartsTest, FolderNamesThatCannotBeDirectoriesLeaveTheListEmpty)
{
    make_account("xavier", "[User]\nLang=xx\n");
    auto user = load("xavier");
    ASSERT_TRUE(user);
    EXPECT_TRUE(store_parts(*user)->store()->folders().empty());
    EXPECT_FALSE(platform::exists(m_context.user_dir + "/x"));
}

TEST_F(StorePartsTest, ReceiverUsesTheEnginesTypesAndDateSetting)
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
    StoreParts& parts = *store_parts(*user);
    EXPECT_FALSE(parts.receiver_options().use_received_date);
    ASSERT_TRUE(m_settings.write_yes_no("PopClient", "UseReceivedDate", true));
    EXPECT_TRUE(parts.receiver_options().use_received_date) << "read as it is now";

    // A part without a name is named after its type's registered extension.
    store::MessageIndex& index = parts.store()->index();
    const store::PartList& named = parts.part_list(*index.find(1));
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[1].file_name, "ATT00002.pdf");
    EXPECT_TRUE(platform::is_regular_file(dir + "/Inbox/CV000001.att")) << "kept for next time";
    with_types = false;
    EXPECT_EQ(parts.part_list(*index.find(2))[1].file_name, "ATT00002.att");
}

}  // namespace
}  // namespace corvane::mailstore::test
