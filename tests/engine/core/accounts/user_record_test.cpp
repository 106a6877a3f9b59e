#include "engine/core/accounts/user_record.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "common/ini/document.h"
#include "common/platform/random.h"
#include "tests/engine/core/accounts/accounts_fixture.h"

using namespace corvane::accounts;
namespace fs = corvane::platform;
namespace ini = corvane::ini;

namespace {

class UserRecordTest : public corvane::testing::AccountsTest {
protected:
    std::unique_ptr<UserRecord> load(const std::string& name)
    {
        auto record = UserRecord::load(m_context, name);
        EXPECT_TRUE(record.ok()) << record.error().text;
        return record.ok() ? std::move(*record) : nullptr;
    }
    std::string value(const std::string& path, std::string_view section, std::string_view key)
    {
        auto doc = ini::Document::parse(read(path));
        auto v = doc.get(section, key);
        return v ? std::string(*v) : "<missing>";
    }
};

}  // namespace

TEST_F(UserRecordTest, NewAccountGetsTheDefaultsAndSaveWritesEveryKey)
{
    ASSERT_TRUE(m_settings.write_text("UserDefaults", "Lang", "de"));
    ASSERT_TRUE(m_settings.write_text("UserDefaults", "Theme", "Basic"));
    ASSERT_TRUE(m_settings.write_number("UserDefaults", "ListRefresh", 25));
    ASSERT_TRUE(m_settings.write_yes_no("UserDefaults", "EmptyTrash", true));
    ASSERT_TRUE(m_settings.write_yes_no("UserDefaults", "SaveSentMail", false));
    auto user = load("newbie");
    ASSERT_TRUE(user);
    EXPECT_TRUE(fs::is_directory(m_context.user_dir + "/newbie")) << "the account directory is created on load";
    const UserSettings& s = user->settings();
    EXPECT_EQ(s.language, "de");
    EXPECT_EQ(s.theme, "Basic");
    EXPECT_EQ(s.style, "Normal");
    EXPECT_EQ(s.sort_order, "RevDate");
    EXPECT_EQ(s.addr_book_sort_order, "Name");
    EXPECT_EQ(s.multipart_prefer, "text/html");
    EXPECT_EQ(s.list_refresh_time, 25);
    EXPECT_EQ(s.compose_width, 72);
    EXPECT_EQ(s.compose_height, 16);
    EXPECT_TRUE(s.empty_trash);
    EXPECT_FALSE(s.save_sent_mail);
    EXPECT_TRUE(s.active);
    EXPECT_EQ(s.password, "");

    ASSERT_TRUE(user->save());
    std::string path = user->ini_path();
    const std::pair<const char*, const char*> expected[] = {{"Lang", "de"},
                                                            {"Theme", "Basic"},
                                                            {"Style", "Normal"},
                                                            {"SortOrder", "RevDate"},
                                                            {"AddrBookSortOrder", "Name"},
                                                            {"MultipartPrefer", "text/html"},
                                                            {"ShowByAddress", "0"},
                                                            {"ListRefreshTime", "25"},
                                                            {"ListAllAttach", "No"},
                                                            {"ComposeWidth", "72"},
                                                            {"ComposeHeight", "16"},
                                                            {"EmptyTrash", "Yes"},
                                                            {"AddRepliesToAddrBook", "No"},
                                                            {"SaveSentMail", "No"},
                                                            {"Active", "Yes"}};
    for (const auto& [key, want] : expected)
        EXPECT_EQ(value(path, "User", key), want) << key;
    for (const char* key : {"CheckBeforeSend", "IgnoreAllCaps", "IgnoreMixedDigits"})
        EXPECT_EQ(value(path, "SpellCheck", key), "No") << key;
    EXPECT_EQ(value(path, "User", "Password"), "");
}

TEST_F(UserRecordTest, NumbersAreClampedOnLoadAndOnSave)
{
    std::string path = make_account("clamp", "[User]\nComposeWidth=200\nListRefreshTime=0\nComposeHeight=30\n");
    auto user = load("clamp");
    EXPECT_EQ(user->settings().compose_width, 132);
    EXPECT_EQ(user->settings().list_refresh_time, 1);
    ASSERT_TRUE(user->save());
    EXPECT_EQ(value(path, "User", "ComposeWidth"), "132");
    EXPECT_EQ(value(path, "User", "ListRefreshTime"), "1");
    EXPECT_EQ(value(path, "User", "ComposeHeight"), "30");

    // Values set in memory meet the same clamps on the way out.
    user->settings().compose_width = 12;
    user->settings().list_refresh_time = -40;
    ASSERT_TRUE(user->save());
    EXPECT_EQ(value(path, "User", "ComposeWidth"), "40");
    EXPECT_EQ(value(path, "User", "ListRefreshTime"), "1");

    make_account("huge", "[User]\nComposeWidth=99999999999999999999\nListRefreshTime=-99999999999999\n");
    auto huge = load("huge");
    EXPECT_EQ(huge->settings().compose_width, 132);
    EXPECT_EQ(huge->settings().list_refresh_time, 1);
}

TEST_F(UserRecordTest, HostileValuesFallBackOrLoseTheirControls)
{
    ASSERT_TRUE(m_settings.write_text("UserDefaults", "Theme", "../../etc"));
    make_account("odd",
                 "[User]\nLang=../\nTheme=a/b\nStyle=.hidden\nSortOrder=Date\x01X\nFullName=Eve\x1b[2J\n"
                 "MultipartPrefer=text/plain\x7f\n");
    auto user = load("odd");
    const UserSettings& s = user->settings();
    EXPECT_EQ(s.language, "en");
    EXPECT_EQ(s.theme, "jsFrames") << "a hostile default falls back to the built-in one too";
    EXPECT_EQ(s.style, "Normal");
    EXPECT_EQ(s.sort_order, "Date X");
    EXPECT_EQ(s.multipart_prefer, "text/plain ");
    EXPECT_EQ(user->full_name(), "Eve [2J");

    make_account("long", "[User]\nLang=english\nTheme=" + std::string(40, 't') + "\n");
    auto longer = load("long");
    EXPECT_EQ(longer->settings().language, "eng");
    EXPECT_EQ(longer->settings().theme, std::string(31, 't'));
}

TEST_F(UserRecordTest, BinaryGarbageUserIniIsSurvived)
{
    std::string garbage(64 * 1024, '\0');
    fs::random_bytes(garbage.data(), garbage.size());
    garbage += "\n[User]\nComposeWidth=90\n";
    std::string path = make_account("garbage", garbage);
    auto user = load("garbage");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->settings().compose_width, 90);
    EXPECT_EQ(user->settings().language, "en");
    EXPECT_TRUE(user->save());
    auto again = load("garbage");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->settings().compose_width, 90);
    EXPECT_GE(read(path).size(), garbage.size() / 2) << "lines the record does not own stay in the file";

    // A file far too large to be settings reads as empty; saving fails
    // rather than replacing it with a stub.
    std::string big(ini::max_file_size + 10, 'x');
    make_account("big", big);
    auto large = load("big");
    ASSERT_TRUE(large);
    EXPECT_EQ(large->settings().compose_width, 72);
    EXPECT_FALSE(large->save());
    EXPECT_EQ(fs::file_size(m_context.user_dir + "/big/User.ini"), big.size());
}

TEST_F(UserRecordTest, PasswordsAreHeldInClearAndStoredScrambled)
{
    std::string stored = scrambled("Opensesame");
    std::string path = make_account("anna", "[User]\nPassword=" + stored + "\n");
    auto user = load("anna");
    EXPECT_EQ(user->settings().password, "Opensesame");
    ASSERT_TRUE(user->save());
    EXPECT_EQ(value(path, "User", "Password"), stored) << "an unchanged password is written back as it was";

    user->settings().password = "new secret";
    ASSERT_TRUE(user->save());
    std::string now = value(path, "User", "Password");
    EXPECT_NE(now, "new secret");
    EXPECT_EQ(*m_codec.unscramble(now), "new secret");

    // Plain text left by an administrator is scrambled by the first reader.
    std::string plain = make_account("bert", "[User]\nPassword=-Sesame\n");
    auto bert = load("bert");
    EXPECT_EQ(bert->settings().password, "Sesame");
    EXPECT_EQ(*m_codec.unscramble(value(plain, "User", "Password")), "Sesame");
}

TEST_F(UserRecordTest, LogonMarkersStayAndTypedMarkersAreScrambled)
{
    std::string network = make_account("net", "[User]\nPassword=\\CORP\n");
    auto net = load("net");
    EXPECT_EQ(net->settings().password, "\\CORP");
    ASSERT_TRUE(net->save());
    EXPECT_EQ(value(network, "User", "Password"), "\\CORP");

    std::string directory = make_account("dir", "[User]\nPassword=*\n");
    auto dir = load("dir");
    ASSERT_TRUE(dir->save());
    EXPECT_EQ(value(directory, "User", "Password"), "*");

    // A user who picks "*evil.example" as a new password gets that text as
    // a password, not a directory logon against a host of their choosing.
    std::string local = make_account("carl", "[User]\nPassword=" + scrambled("old") + "\n");
    auto carl = load("carl");
    carl->settings().password = "*evil.example";
    ASSERT_TRUE(carl->save());
    std::string now = value(local, "User", "Password");
    ASSERT_NE(now.front(), '*');
    EXPECT_EQ(*m_codec.unscramble(now), "*evil.example");
}

TEST_F(UserRecordTest, AnUnreadablePasswordIsKeptNotLost)
{
    corvane::codec::PasswordCodec other(m_tmp / "Other.key");
    std::string foreign = *other.scramble("secret");
    std::string path = make_account("dana", "[User]\nPassword=" + foreign + "\nComposeWidth=80\n");
    auto user = load("dana");
    EXPECT_EQ(user->settings().password, "");
    EXPECT_TRUE(m_log.contains("stored password of user dana is not readable")) << m_log.all();
    user->settings().compose_width = 100;
    ASSERT_TRUE(user->save());
    EXPECT_EQ(value(path, "User", "Password"), foreign);
    EXPECT_EQ(value(path, "User", "ComposeWidth"), "100");
}

TEST_F(UserRecordTest, ReleaseWritesTheMailTotalsOnce)
{
    std::string path = make_account("erin", "[User]\nLang=fr\n[Stats]\nReceived=3\n");
    auto user = load("erin");
    user->release();
    EXPECT_EQ(value(path, "Stats", "MessageCount"), "0");
    EXPECT_EQ(value(path, "Stats", "DiskSpace"), "0");
    EXPECT_EQ(value(path, "Stats", "Received"), "3");
    ASSERT_TRUE(fs::write_file_atomic(path, "[Stats]\nMessageCount=7\n").ok());
    user->release();
    EXPECT_EQ(value(path, "Stats", "MessageCount"), "7") << "once only";

    EXPECT_EQ(mail_size_kb(0), 0);
    EXPECT_EQ(mail_size_kb(511), 0);
    EXPECT_EQ(mail_size_kb(512), 1);
    EXPECT_EQ(mail_size_kb(1536), 2);
    EXPECT_EQ(mail_size_kb(UINT64_MAX), static_cast<std::int64_t>(UINT64_MAX / 1024 + 1));
}

TEST_F(UserRecordTest, PerUserIniAccessAndStatistics)
{
    std::string path = make_account("fred", "[Stats]\nSent=5\n");
    auto user = load("fred");
    EXPECT_TRUE(user->write_text("Custom", "Colour", "blue"));
    EXPECT_EQ(user->read_text("custom", "colour", "none"), "blue");
    EXPECT_TRUE(user->write_number("Custom", "Count", -3));
    EXPECT_EQ(user->read_number("Custom", "Count", 0), -3);
    EXPECT_TRUE(user->add_statistic("Sent", 2));
    EXPECT_TRUE(user->add_statistic("SendErrors", 1));
    EXPECT_EQ(value(path, "Stats", "Sent"), "7");
    EXPECT_EQ(value(path, "Stats", "SendErrors"), "1");
    ASSERT_TRUE(user->write_text("Stats", "Received", "9223372036854775807"));
    EXPECT_TRUE(user->add_statistic("Received", 5));
    EXPECT_EQ(value(path, "Stats", "Received"), "9223372036854775807") << "counters saturate";

    EXPECT_TRUE(user->write_last_access(1700000000));
    EXPECT_TRUE(std::regex_match(value(path, "Stats", "LastAccess"),
                                 std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")));

    // Increments from many threads at once all count.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i)
                EXPECT_TRUE(user->add_statistic("Received2", 1));
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(value(path, "Stats", "Received2"), "100");
}
