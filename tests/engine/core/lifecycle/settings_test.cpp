#include "engine/core/lifecycle/settings.h"

#include <gtest/gtest.h>

#include "common/codec/password_codec.h"
#include "common/log/log_file.h"
#include "common/platform/files.h"
#include "engine/core/lifecycle/path_guard.h"
#include "tests/support/temp_dir.h"

using namespace corvane::lifecycle;
using corvane::testing::TempDir;
namespace fs = corvane::platform;
namespace ini = corvane::ini;
namespace codec = corvane::codec;
namespace log = corvane::log;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    std::string path() const { return m_tmp / "Corvane.ini"; }
    std::string read() const
    {
        auto text = fs::read_file(path());
        return text ? *text : "";
    }
    bool normalise_now() { return normalise(ini::Profile(path()), m_codec, m_log); }

    TempDir m_tmp;
    codec::PasswordCodec m_codec{codec::key_path_for(m_tmp / "Corvane.ini")};
    log::LogFile m_log{[this] {
        log::LogSettings s;
        s.directory = m_tmp.path();
        return s;
    }()};
};

}  // namespace

TEST_F(SettingsTest, AMissingFileReceivesEveryKeyWithItsDefaultInTableOrder)
{
    ASSERT_TRUE(normalise_now());
    ini::Profile file(path());
    EXPECT_EQ(file.text("Version", "Version", ""), "2.0.1");
    std::string all = read();
    std::size_t last = all.find("[Version]");
    ASSERT_EQ(last, 0u) << "the version comes first";
    for (const Setting& s : known_settings()) {
        std::string key(s.key);
        std::string want;
        switch (s.kind) {
        case Kind::number:
            want = std::to_string(s.number_default);
            break;
        case Kind::yes_no:
            want = s.number_default ? "Yes" : "No";
            break;
        default:
            want = std::string(s.text_default);
        }
        EXPECT_TRUE(file.has_key(s.section, s.key)) << key;
        EXPECT_EQ(file.text(s.section, s.key, "?"), want) << key;
        std::size_t at = all.find("\n" + key + "=", last);
        EXPECT_NE(at, std::string::npos) << key << " missing or out of order";
        if (at != std::string::npos)
            last = at;
    }
    EXPECT_EQ(known_settings().size(), 72u);
    EXPECT_EQ(file.text("SmtpClient", "Host", ""), "localhost");
    EXPECT_EQ(file.text("Directories", "TempDir", ""), "/opt/corvane/Temp");
    EXPECT_FALSE(file.has_key("Other", "RandSeed"));

    // A second run finds nothing to change and leaves the file alone.
    auto before = fs::identity_of(path());
    std::string text = read();
    ASSERT_TRUE(normalise_now());
    EXPECT_EQ(read(), text);
    EXPECT_EQ(fs::identity_of(path()), before);
}

TEST_F(SettingsTest, ValuesAreReadTheProfileWayAndWrittenBackNormalised)
{
    ASSERT_TRUE(fs::write_file_atomic(path(),
                                      "; kept\n[General]\nLogLevel=3abc\nEnableReplaceFrom=true\n"
                                      "SendReadConfirmations=on\nVerboseSentConfirmation=\nMaxLogFileSize=\n"
                                      "[Session]\nMaximum=-5\n[AccountCreation]\nEnable=0\n[Custom]\nMine=1\n"));
    ASSERT_TRUE(normalise_now());
    ini::Profile file(path());
    EXPECT_EQ(file.text("General", "LogLevel", ""), "3");
    EXPECT_EQ(file.text("General", "EnableReplaceFrom", ""), "Yes");
    EXPECT_EQ(file.text("General", "SendReadConfirmations", ""), "No") << "\"on\" is not a yes";
    EXPECT_EQ(file.text("General", "VerboseSentConfirmation", ""), "No");
    EXPECT_EQ(file.text("General", "MaxLogFileSize", ""), "5000") << "an empty number is the default";
    EXPECT_EQ(file.text("Session", "Maximum", ""), "-5");
    EXPECT_EQ(file.text("AccountCreation", "Enable", ""), "No");
    EXPECT_EQ(file.text("Custom", "Mine", ""), "1");
    EXPECT_EQ(read().rfind("; kept\n", 0), 0u) << "comments and unknown sections survive";
}

TEST_F(SettingsTest, PlainPasswordsAreScrambledOnce)
{
    ASSERT_TRUE(fs::write_file_atomic(path(),
                                      "[AccountCreation]\nPassword=-secret\nNTLogonName=-admin\n"
                                      "NTPassword=\\DOMAIN\n"));
    ASSERT_TRUE(normalise_now());
    ini::Profile file(path());
    std::string stored = file.text("AccountCreation", "Password", "");
    EXPECT_TRUE(codec::PasswordCodec::looks_scrambled(stored)) << stored;
    EXPECT_EQ(m_codec.unscramble(stored).value(), "secret");
    EXPECT_EQ(m_codec.unscramble(file.text("AccountCreation", "NTLogonName", "")).value(), "admin");
    EXPECT_EQ(file.text("AccountCreation", "NTPassword", ""), "\\DOMAIN") << "a logon marker is never scrambled";

    ASSERT_TRUE(normalise_now());
    EXPECT_EQ(file.text("AccountCreation", "Password", ""), stored) << "scrambled once, then left as it is";
}

TEST_F(SettingsTest, AnUnreadableFileIsLeftAloneAndReported)
{
    ASSERT_TRUE(fs::make_directory(path()));
    EXPECT_FALSE(normalise_now());
    EXPECT_TRUE(fs::is_directory(path()));
    EXPECT_NE(fs::read_file(m_tmp / "Corvane.log")->find("Could not write settings to " + path()), std::string::npos);

    // Binary garbage is read as far as it goes and the keys are added.
    ASSERT_TRUE(fs::remove_tree(path()));
    static const char garbage[] = "\x00\xff[Gen\r\x01\x02]]=\n[Session]\nExpireTime=7\n";
    ASSERT_TRUE(fs::write_file_atomic(path(), std::string(garbage, sizeof garbage - 1)));
    EXPECT_TRUE(normalise_now());
    EXPECT_EQ(ini::Profile(path()).number("Session", "ExpireTime", 0), 7);
    EXPECT_EQ(ini::Profile(path()).number("Session", "ComposeExpireTime", 0), 120);
}

TEST(PathGuard, FindsDirectoriesInsideTheOneToBeEmptied)
{
    TempDir tmp;
    ASSERT_TRUE(fs::make_directories(tmp / "base/Users"));
    ASSERT_TRUE(fs::make_directories(tmp / "base/Temp"));
    ASSERT_TRUE(fs::make_directories(tmp / "elsewhere"));
    ASSERT_EQ(::symlink((tmp / "base").c_str(), (tmp / "link").c_str()), 0);
    std::vector<std::string> mine = {tmp / "base", tmp / "base/Users"};
    struct {
        std::string temp;
        bool refused;
    } cases[] = {
        {tmp / "base/Temp", false},
        {tmp / "base/Temp/", false},
        {tmp / "elsewhere", false},
        {tmp / "base", true},
        {tmp / "base/", true},
        {tmp / "base/Temp/..", true},
        {tmp.path(), true},
        {"/", true},
        {"//", true},
        {tmp / "link", true},
        {tmp / "base/Users", true},
        {tmp / "base/Usersx", false},
        {tmp / "base/Users/../Temp", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(contains_any(c.temp, mine), c.refused) << c.temp;
}
