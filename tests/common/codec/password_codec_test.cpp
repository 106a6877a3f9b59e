#include "common/codec/password_codec.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/platform/files.h"
#include "common/text/base64.h"
#include "tests/support/temp_dir.h"

using corvane::codec::PasswordCodec;
using corvane::testing::TempDir;
namespace fs = corvane::platform;

TEST(PasswordCodec, RoundTripsAndKeepsTheStoredAlphabet)
{
    TempDir tmp;
    PasswordCodec codec(corvane::codec::key_path_for(tmp / "Corvane.ini"));
    EXPECT_EQ(codec.key_path(), tmp / "Corvane.key");
    const std::string secrets[] = {"",
                                   "secret",
                                   "p\xC3\xA4ssw\xC3\xB6rd \xE2\x82\xAC",
                                   std::string(31, 'x'),
                                   std::string(200, 'y'),
                                   "-dash",
                                   "\\backslash",
                                   "*star"};
    for (const auto& secret : secrets) {
        auto stored = codec.scramble(secret);
        ASSERT_TRUE(stored.ok()) << stored.error().text;
        EXPECT_TRUE(corvane::text::is_base64_alphabet(*stored)) << *stored;
        ASSERT_FALSE(stored->empty());
        EXPECT_EQ(stored->front(), 'C');
        EXPECT_TRUE(PasswordCodec::looks_scrambled(*stored));
        auto plain = codec.unscramble(*stored);
        ASSERT_TRUE(plain.ok()) << plain.error().text;
        EXPECT_EQ(*plain, secret);
    }
    EXPECT_NE(*codec.scramble("same"), *codec.scramble("same")) << "every scrambling uses a fresh nonce";
    struct stat st {};
    ASSERT_EQ(::stat(codec.key_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 32);
}

TEST(PasswordCodec, DamagedValuesDoNotDecrypt)
{
    TempDir tmp;
    PasswordCodec codec(tmp / "Corvane.key");
    std::string stored = *codec.scramble("hunter2");
    std::string flipped = stored;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    for (const std::string& bad :
         {flipped, stored.substr(0, stored.size() - 4), stored.substr(0, 10), std::string("C1"), std::string("plain"),
          std::string("-plain"), std::string("C1!!!!"), std::string("")}) {
        auto plain = codec.unscramble(bad);
        EXPECT_FALSE(plain.ok()) << bad;
    }
    // Under another key the value is not readable either.
    TempDir other;
    PasswordCodec stranger(other / "Corvane.key");
    (void)stranger.scramble("make a key");
    EXPECT_FALSE(stranger.unscramble(stored).ok());
}

TEST(PasswordCodec, MissingOrDamagedKeyFileIsAnError)
{
    TempDir tmp;
    PasswordCodec reader(tmp / "Corvane.key");
    EXPECT_FALSE(reader.unscramble("C1AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA").ok());
    EXPECT_FALSE(fs::exists(tmp / "Corvane.key")) << "reading never creates a key";
    ASSERT_TRUE(fs::write_file_atomic(tmp / "Corvane.key", "short").ok());
    PasswordCodec damaged(tmp / "Corvane.key");
    auto result = damaged.scramble("x");
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().text.find("damaged"), std::string::npos);
}

// Several processes that need the key at the same moment agree on one key,
// and each reads what the others wrote.
TEST(PasswordCodec, ProcessesShareOneKey)
{
    TempDir tmp;
    std::string key_path = tmp / "Corvane.key";
    constexpr int children = 6;
    int pipes[children][2];
    pid_t pids[children];
    for (int i = 0; i < children; ++i) {
        ASSERT_EQ(::pipe(pipes[i]), 0);
        pids[i] = ::fork();
        if (pids[i] == 0) {
            PasswordCodec codec(key_path);
            auto stored = codec.scramble("secret " + std::to_string(i));
            std::string out = stored.ok() ? *stored : "";
            (void)!::write(pipes[i][1], out.data(), out.size());
            ::_exit(stored.ok() ? 0 : 1);
        }
        ::close(pipes[i][1]);
    }
    PasswordCodec parent(key_path);
    for (int i = 0; i < children; ++i) {
        int status = 0;
        ::waitpid(pids[i], &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        char buffer[512];
        ssize_t n = ::read(pipes[i][0], buffer, sizeof buffer);
        ::close(pipes[i][0]);
        ASSERT_GT(n, 0);
        auto plain = parent.unscramble(std::string(buffer, static_cast<std::size_t>(n)));
        ASSERT_TRUE(plain.ok()) << plain.error().text;
        EXPECT_EQ(*plain, "secret " + std::to_string(i));
    }
    auto entries = fs::list_directory(tmp.path());
    ASSERT_TRUE(entries.ok());
    EXPECT_EQ(entries->size(), 1u) << "no temporary key files are left";
}

TEST(PasswordCodec, PlainTextRuleForAdministratorValues)
{
    TempDir tmp;
    PasswordCodec codec(tmp / "Corvane.key");
    EXPECT_FALSE(corvane::codec::scramble_if_plain(codec, "C1abc").has_value());
    EXPECT_FALSE(corvane::codec::scramble_if_plain(codec, "\\DOMAIN").has_value());
    EXPECT_FALSE(corvane::codec::scramble_if_plain(codec, "*ldap.example.org").has_value());
    EXPECT_FALSE(corvane::codec::scramble_if_plain(codec, "").has_value());
    auto scrambled = corvane::codec::scramble_if_plain(codec, "-secret");
    ASSERT_TRUE(scrambled.has_value());
    ASSERT_TRUE(scrambled->ok());
    EXPECT_EQ(*codec.unscramble(**scrambled), "secret");
}
