#include "engine/core/sessions/session_user.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "engine/core/sessions/session.h"
#include "tests/support/temp_dir.h"

using namespace corvane::sessions;
using corvane::testing::TempDir;
namespace fs = corvane::platform;
namespace ini = corvane::ini;

TEST(SessionUser, DefaultMailboxRecordGivesTheSlotNames)
{
    TempDir tmp;
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
        ASSERT_TRUE(fs::write_file_atomic(tmp / "User.ini", c.file));
        auto identity = default_mailbox_identity(ini::Profile(tmp / "User.ini"));
        EXPECT_EQ(identity.full_name, c.full_name) << c.what;
        EXPECT_EQ(identity.email, c.email) << c.what;
    }
}

TEST(SessionUser, MinimalRecordReadsUserIniAndStaysInsideTheUsersDirectory)
{
    TempDir tmp;
    ASSERT_TRUE(fs::make_directory(tmp / "jsmith"));
    ASSERT_TRUE(fs::write_file_atomic(tmp / "jsmith/User.ini", "[User]\nLang=deu\nEmptyTrash=true\n"));
    UserDefaults defaults;
    defaults.theme = "Plain";

    auto user = IniSessionUser::load(tmp.path(), "JSmith", defaults);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name(), "JSmith") << "the name as typed";
    EXPECT_EQ(user->directory(), tmp / "jsmith") << "the account directory as it is on disk";
    EXPECT_EQ(user->language(), "deu");
    EXPECT_EQ(user->theme(), "Plain");
    EXPECT_TRUE(user->empty_trash_on_exit());

    auto fresh = IniSessionUser::load(tmp.path(), "newcomer", defaults);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fs::is_directory(tmp / "newcomer"));
    EXPECT_EQ(fresh->language(), "en");
    EXPECT_FALSE(fresh->empty_trash_on_exit());

    for (const char* bad : {"", ".", "..", "../etc", "a/b", "a\\b", ".hidden", "x..y", "tab\there"})
        EXPECT_FALSE(IniSessionUser::load(tmp.path(), bad, defaults)) << bad;
    EXPECT_FALSE(fs::exists(tmp.path() + "/../etc"));
}

TEST(SessionUser, ReleaseWritesOnlyKnownStatistics)
{
    TempDir tmp;
    class Counted final : public SessionUser {
    public:
        explicit Counted(std::string path) : m_path(std::move(path)) {}
        const std::string& name() const override { return m_path; }
        const std::string& directory() const override { return m_path; }
        const std::string& settings_path() const override { return m_path; }
        std::string default_full_name() const override { return {}; }
        std::string default_email() const override { return {}; }
        std::string language() const override { return "en"; }
        std::string theme() const override { return "x"; }
        bool empty_trash_on_exit() const override { return false; }
        std::optional<std::int64_t> mail_size_kb() const override { return 12; }
        std::optional<std::int64_t> message_count() const override { return 3; }

    private:
        std::string m_path;
    };
    Counted(tmp / "User.ini").release();
    ini::Profile user_ini(tmp / "User.ini");
    EXPECT_EQ(user_ini.number("Stats", "MessageCount", -1), 3);
    EXPECT_EQ(user_ini.number("Stats", "DiskSpace", -1), 12);

    ASSERT_TRUE(fs::make_directory(tmp / "u"));
    auto minimal = IniSessionUser::load(tmp.path(), "u", {});
    minimal->release();
    EXPECT_FALSE(fs::exists(tmp / "u/User.ini")) << "unknown counts must not overwrite the statistics";
}

TEST(SessionUser, ClientAddresses)
{
    struct Case {
        const char* text;
        unsigned char bytes[4];
    } cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"10.200.3.255", {10, 200, 3, 255}},
        {"::ffff:192.168.1.2", {192, 168, 1, 2}},
        {" 1.2.3.4 ", {1, 2, 3, 4}},
        {"::1", {0, 0, 0, 0}},
        {"256.1.1.1", {0, 0, 0, 0}},
        {"1.2.3", {0, 0, 0, 0}},
        {"1.2.3.4.5", {0, 0, 0, 0}},
        {"1.2.3.0004", {0, 0, 0, 0}},
        {"a.b.c.d", {0, 0, 0, 0}},
        {"", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::uint32_t address = parse_ipv4(c.text);
        EXPECT_EQ(std::memcmp(&address, c.bytes, 4), 0) << c.text;
    }
    EXPECT_EQ(make_session_key().size(), 32u);
    EXPECT_NE(make_session_key(), make_session_key());
}
