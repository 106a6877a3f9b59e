#include "engine/core/accounts/account_names.h"

#include <gtest/gtest.h>

#include "engine/core/accounts/logon.h"
#include "engine/core/accounts/user_record.h"
#include "tests/engine/core/accounts/accounts_fixture.h"

using namespace corvane::accounts;
namespace fs = corvane::platform;

namespace {

class AccountNames : public corvane::testing::AccountsTest {};

const std::string hostile_names[] = {
    "",           ".",          "..",        "../outside", "a/b",     "/etc",
    "\\",         "a\\b",       "..\\x",     ".hidden",    "a..b",    "a/../b",
    "line\nfeed", "cr\rx",      "tab\tname", "\x01",       "del\x7f", std::string("nul\0x", 5),
    "x/",         "./relative", "\x1b[31m",  "..."};

}  // namespace

TEST_F(AccountNames, HostileNamesAreRefusedWhereverAnAccountIsNamed)
{
    // An account "victim" beside the users directory must stay out of reach.
    ASSERT_TRUE(fs::make_directory(m_tmp / "outside").ok());
    make_account("good", "[User]\nPassword=" + scrambled("pw") + "\n");
    auto before = fs::list_directory(m_tmp.path());
    for (const auto& name : hostile_names) {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_FALSE(is_valid_user_name(name));
        EXPECT_FALSE(account_directory(m_context.user_dir, name).has_value());
        EXPECT_FALSE(account_exists(m_context.user_dir, name));
        EXPECT_FALSE(create_account_directory(m_context.user_dir, name));
        EXPECT_FALSE(rename_account_directory(m_context.user_dir, "good", name));
        EXPECT_FALSE(rename_account_directory(m_context.user_dir, name, "fresh"));
        EXPECT_FALSE(UserRecord::load(m_context, name).ok());
        EXPECT_EQ(check_logon(m_context, name, "pw"), LogonResult::refused);
    }
    EXPECT_TRUE(account_exists(m_context.user_dir, "good"));
    auto users = fs::list_directory(m_context.user_dir);
    ASSERT_TRUE(users.ok());
    ASSERT_EQ(users->size(), 1u) << "got " << users->size() << " entries, want only the account made here";
    auto after = fs::list_directory(m_tmp.path());
    ASSERT_TRUE(after.ok() && before.ok());
    EXPECT_EQ(after->size(), before->size()) << "nothing may appear beside the users directory";
}

TEST_F(AccountNames, OrdinaryNamesPass)
{
    for (std::string name : {"jsmith", "J.Smith", "anna-maria_1", "user@example.com", "Bj\xC3\xB6rn", "a.b.c", "x"}) {
        EXPECT_TRUE(is_valid_user_name(name)) << name;
    }
}

TEST_F(AccountNames, NamesMatchTheDirectoryOnDiskWithoutRegardToCase)
{
    ASSERT_TRUE(create_account_directory(m_context.user_dir, "jsmith"));
    EXPECT_EQ(*account_directory(m_context.user_dir, "JSmith"), m_context.user_dir + "/jsmith");
    EXPECT_TRUE(account_exists(m_context.user_dir, "JSMITH"));
    EXPECT_FALSE(create_account_directory(m_context.user_dir, "JSmith")) << "another spelling of an existing account";
    EXPECT_FALSE(create_account_directory(m_context.user_dir, "jsmith"));
    // A new account keeps the spelling it was created with.
    ASSERT_TRUE(create_account_directory(m_context.user_dir, "MLopez"));
    EXPECT_TRUE(fs::is_directory(m_context.user_dir + "/MLopez"));
    EXPECT_EQ(user_ini_path(m_context.user_dir + "/MLopez"), m_context.user_dir + "/MLopez/User.ini");
    ASSERT_TRUE(fs::write_file_atomic(m_context.user_dir + "/MLopez/USER.INI", "[User]\n").ok());
    EXPECT_EQ(user_ini_path(m_context.user_dir + "/MLopez"), m_context.user_dir + "/MLopez/USER.INI");
    // A plain file of that name is not an account.
    ASSERT_TRUE(fs::write_file_atomic(m_context.user_dir + "/notadir", "").ok());
    EXPECT_FALSE(account_exists(m_context.user_dir, "notadir"));
    EXPECT_FALSE(create_account_directory(m_context.user_dir, "NotADir"));
}

TEST_F(AccountNames, RenameNeedsTheOldAccountAndAFreeNewName)
{
    ASSERT_TRUE(create_account_directory(m_context.user_dir, "anna"));
    ASSERT_TRUE(create_account_directory(m_context.user_dir, "bert"));
    ASSERT_TRUE(fs::write_file_atomic(m_context.user_dir + "/anna/User.ini", "[User]\nFullName=Anna\n").ok());
    EXPECT_FALSE(rename_account_directory(m_context.user_dir, "anna", "BERT")) << "new name taken in another case";
    EXPECT_FALSE(rename_account_directory(m_context.user_dir, "anna", "Anna")) << "only the case differs";
    EXPECT_FALSE(rename_account_directory(m_context.user_dir, "nobody", "carl"));
    ASSERT_TRUE(rename_account_directory(m_context.user_dir, "ANNA", "Annabel"));
    EXPECT_FALSE(account_exists(m_context.user_dir, "anna"));
    EXPECT_EQ(read(m_context.user_dir + "/Annabel/User.ini"), "[User]\nFullName=Anna\n");
}

TEST_F(AccountNames, LongNamesAreCutAtACharacterBoundary)
{
    std::string name(78, 'a');
    name += "\xC3\xA9xyz";  // the two-byte character straddles byte 79
    EXPECT_EQ(cut_user_name(name), std::string(78, 'a'));
    EXPECT_EQ(cut_user_name(std::string(200, 'b')).size(), max_user_name);
    auto record = UserRecord::load(m_context, std::string(100, 'c'));
    ASSERT_TRUE(record.ok());
    EXPECT_EQ((*record)->name(), std::string(79, 'c'));
    EXPECT_TRUE(fs::is_directory(m_context.user_dir + "/" + std::string(79, 'c')));
}
