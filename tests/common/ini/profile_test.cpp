#include "common/ini/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using corvane::ini::Profile;
using corvane::testing::TempDir;
namespace fs = corvane::platform;

TEST(IniProfile, MissingFileGivesDefaultsAndWritingCreatesIt)
{
    TempDir tmp;
    Profile ini(tmp / "Corvane.ini");
    EXPECT_EQ(ini.text("General", "MessageDateFormat", "%x %X"), "%x %X");
    EXPECT_EQ(ini.number("Session", "Maximum", 200), 200);
    EXPECT_TRUE(ini.yes_no("General", "EnableReplaceFrom", true));
    EXPECT_FALSE(ini.yes_no("General", "SendReadConfirmations", false));
    EXPECT_TRUE(ini.sections().empty());
    EXPECT_FALSE(fs::exists(ini.path()));

    ASSERT_TRUE(ini.write_number("Session", "Maximum", 2));
    EXPECT_TRUE(fs::exists(ini.path()));
    struct stat st {};
    ASSERT_EQ(::stat(ini.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "settings may hold secrets";
    EXPECT_EQ(ini.number("session", "maximum", 200), 2);
    EXPECT_EQ(*fs::read_file(ini.path()), "[Session]\nMaximum=2\n");
}

TEST(IniProfile, AFileGivenAPasswordIsItsOwnersAlone)
{
    TempDir tmp;
    Profile ini(tmp / "User.ini");
    auto mode = [&] {
        struct stat st {};
        return ::stat(ini.path().c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    // As an installer leaves it: readable by all.
    ASSERT_TRUE(fs::write_file_atomic(ini.path(), "[User]\nFullName=Alice\nPassword=\n", 0644));
    ASSERT_EQ(::chmod(ini.path().c_str(), 0644), 0);
    // Writing other keys, or an empty password, keeps the mode it was given.
    ASSERT_TRUE(ini.write_text("User", "Lang", "de"));
    ASSERT_TRUE(ini.write_text("MailHost1", "Password", ""));
    EXPECT_EQ(mode(), 0644u);
    // Any password, under any name that reads as one, makes it private.
    for (const char* key : {"Password", "NTPassword", "Pass1"}) {
        SCOPED_TRACE(key);
        ASSERT_EQ(::chmod(ini.path().c_str(), 0644), 0);
        ASSERT_TRUE(ini.write_text("Any", key, "s3cret"));
        EXPECT_EQ(mode(), 0600u);
        ASSERT_TRUE(ini.delete_key("Any", key));
    }
}

TEST(IniProfile, NumbersAndYesNoFollowTheProfileRules)
{
    TempDir tmp;
    ASSERT_TRUE(fs::write_file_atomic(tmp / "a.ini",
                                      "[N]\nlead=12abc\nword=abc\nempty=\nneg=-5\nbig=99999999999\n"
                                      "[Y]\none=1\ntrue=true\nT=T\nyes=Yes\ny=y\nzero=0\nno=No\non=on\nblank=\n")
                    .ok());
    Profile ini(tmp / "a.ini");
    EXPECT_EQ(ini.number("N", "lead", 7), 12);
    EXPECT_EQ(ini.number("N", "word", 7), 0) << "present but not a number";
    EXPECT_EQ(ini.number("N", "empty", 7), 7) << "an empty value gives the default";
    EXPECT_EQ(ini.number("N", "neg", 7), -5);
    EXPECT_EQ(ini.number("N", "big", 7), 2147483647);
    EXPECT_EQ(ini.number("N", "missing", 7), 7);
    for (const char* key : {"one", "true", "T", "yes", "y"})
        EXPECT_TRUE(ini.yes_no("Y", key, false)) << key;
    for (const char* key : {"zero", "no", "on", "blank"})
        EXPECT_FALSE(ini.yes_no("Y", key, true)) << key;
    EXPECT_TRUE(ini.yes_no("Y", "missing", true));

    ASSERT_TRUE(ini.write_yes_no("Y", "on", true));
    ASSERT_TRUE(ini.write_yes_no("Y", "one", false));
    EXPECT_EQ(ini.text("Y", "on", ""), "Yes");
    EXPECT_EQ(ini.text("Y", "one", ""), "No");
    EXPECT_EQ(ini.text("N", "lead", "", 2), "12") << "cut to the caller's limit";
}

TEST(IniProfile, DeleteKeyAndSectionKeepTheRest)
{
    TempDir tmp;
    ASSERT_TRUE(fs::write_file_atomic(tmp / "u.ini", "; user\n[User]\nA=1\nB=2\n\n[MailHost1]\nHost=x\n").ok());
    Profile ini(tmp / "u.ini");
    ASSERT_TRUE(ini.delete_key("user", "a"));
    ASSERT_TRUE(ini.delete_section("MAILHOST1"));
    ASSERT_TRUE(ini.delete_key("Nothing", "x")) << "deleting what is not there is no error";
    EXPECT_EQ(*fs::read_file(ini.path()), "; user\n[User]\nB=2\n\n");
    EXPECT_EQ(ini.keys("User"), std::vector<std::string>{"B"});
    EXPECT_EQ(ini.sections(), std::vector<std::string>{"User"});
}

TEST(IniProfile, UpdateAppliesSeveralChangesAtOnce)
{
    TempDir tmp;
    Profile ini(tmp / "b.ini");
    ASSERT_TRUE(ini.update([](corvane::ini::Document& doc) {
        return doc.set("A", "x", "1") && doc.set("A", "y", "2") && doc.set("B", "z", "3");
    }));
    EXPECT_EQ(*fs::read_file(ini.path()), "[A]\nx=1\ny=2\n\n[B]\nz=3\n");
    EXPECT_FALSE(ini.update([](corvane::ini::Document& doc) {
        doc.set("A", "x", "changed");
        return false;  // abandoned
    }));
    EXPECT_EQ(ini.text("A", "x", ""), "1");
}

TEST(IniProfile, CachedReadSeesAnotherProcessAtOnce)
{
    TempDir tmp;
    Profile ini(tmp / "c.ini");
    ASSERT_TRUE(ini.write_text("S", "k", "before"));
    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(ini.text("S", "k", ""), round == 0 ? "before" : "value " + std::to_string(round - 1));
        pid_t child = ::fork();
        if (child == 0) {
            corvane::ini::clear_cache();
            ::_exit(Profile(tmp / "c.ini").write_text("S", "k", "value " + std::to_string(round)) ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_EQ(WEXITSTATUS(status), 0);
        // Same size every time: only the identity of the replaced file tells.
        EXPECT_EQ(ini.text("S", "k", ""), "value " + std::to_string(round));
    }
}

// Two processes (with two threads each) write different keys of one file;
// a third process keeps reading the raw file. No write may be lost and no
// reader may see a torn file.
TEST(IniProfile, ConcurrentWritersLoseNothingAndReadersNeverSeeHalfAFile)
{
    TempDir tmp;
    std::string path = tmp / "shared.ini";
    std::string padding(4000, 'p');  // makes a torn write easy to see
    ASSERT_TRUE(Profile(path).write_text("Pad", "Tail", padding));
    constexpr int writes = 500;

    auto writer = [&](const char* name) {
        pid_t pid = ::fork();
        if (pid == 0) {
            corvane::ini::clear_cache();
            Profile ini(path);
            std::atomic<bool> ok = true;
            auto run = [&](const std::string& key) {
                for (int i = 1; i <= writes / 2; ++i) {
                    if (!ini.write_number("Counters", key, i))
                        ok = false;
                }
            };
            std::thread second([&] { run(std::string(name) + "b"); });
            run(std::string(name) + "a");
            second.join();
            ::_exit(ok ? 0 : 1);
        }
        return pid;
    };
    int stop_pipe[2];
    ASSERT_EQ(::pipe(stop_pipe), 0);
    pid_t reader = ::fork();
    if (reader == 0) {
        ::close(stop_pipe[1]);
        ::fcntl(stop_pipe[0], F_SETFL, O_NONBLOCK);
        int bad = 0;
        char c;
        while (::read(stop_pipe[0], &c, 1) < 0) {
            auto data = fs::read_file(path);
            if (!data || data->find("Tail=" + padding + "\n") == std::string::npos)
                ++bad;
        }
        ::_exit(bad == 0 ? 0 : 1);
    }
    ::close(stop_pipe[0]);
    pid_t first = writer("one");
    pid_t second = writer("two");
    int status = 0;
    ::waitpid(first, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::waitpid(second, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::close(stop_pipe[1]);
    ::waitpid(reader, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the reader saw a torn file";

    Profile ini(path);
    for (const char* key : {"onea", "oneb", "twoa", "twob"})
        EXPECT_EQ(ini.number("Counters", key, 0), writes / 2) << key;
}

TEST(IniProfile, HostileFilesReadAsDefaults)
{
    TempDir tmp;
    std::string binary;
    for (int i = 0; i < 100000; ++i)
        binary += static_cast<char>((i * 131) & 0xFF);
    ASSERT_TRUE(fs::write_file_atomic(tmp / "bin.ini", binary).ok());
    Profile ini(tmp / "bin.ini");
    EXPECT_EQ(ini.number("General", "LogLevel", 1), 1);
    ASSERT_TRUE(ini.write_number("General", "LogLevel", 4));
    EXPECT_EQ(ini.number("General", "LogLevel", 1), 4);

    // A directory where the file should be, and a file too large to be
    // settings: defaults, and no write succeeds in the directory case.
    ASSERT_TRUE(fs::make_directory(tmp / "dir.ini").ok());
    Profile dir(tmp / "dir.ini");
    EXPECT_EQ(dir.text("A", "b", "def"), "def");
    EXPECT_FALSE(dir.write_text("A", "b", "v"));
    ASSERT_TRUE(fs::write_file_atomic(tmp / "huge.ini", "[A]\nb=v\n" + std::string(17u << 20, 'x')).ok());
    EXPECT_EQ(Profile(tmp / "huge.ini").text("A", "b", "def"), "def");
    EXPECT_FALSE(Profile(tmp / "huge.ini").write_text("A", "c", "v")) << "what cannot be read is not replaced";
    EXPECT_GT(fs::file_size(tmp / "huge.ini"), 17u << 20);
    EXPECT_FALSE(Profile(tmp / "no/such/dir/x.ini").write_text("A", "b", "v"));
}

TEST(IniProfile, AReadScopeChecksItsFileOnceAndSeesItsOwnWrites)
{
    TempDir tmp;
    ASSERT_TRUE(fs::write_file_atomic(tmp / "Corvane.ini", "[A]\nk=1\n").ok());
    ASSERT_TRUE(fs::write_file_atomic(tmp / "User.ini", "[U]\nk=1\n").ok());
    Profile ini(tmp / "Corvane.ini");
    Profile other(tmp / "User.ini");
    {
        corvane::ini::ReadScope scope(ini.path());
        EXPECT_EQ(ini.number("A", "k", 0), 1);
        // Another process replaces the file: this scope keeps what it read.
        ASSERT_TRUE(fs::write_file_atomic(tmp / "Corvane.ini", "[A]\nk=2\n").ok());
        ASSERT_TRUE(fs::write_file_atomic(tmp / "User.ini", "[U]\nk=2\n").ok());
        EXPECT_EQ(ini.number("A", "k", 0), 1);
        EXPECT_EQ(Profile(ini.path()).number("A", "k", 0), 1) << "any Profile of the same file";
        EXPECT_EQ(other.number("U", "k", 0), 2) << "other files are checked as always";
        // Our own write is seen at once, on top of the file as it now is.
        ASSERT_TRUE(ini.write_number("A", "w", 5));
        EXPECT_EQ(ini.number("A", "w", 0), 5);
        EXPECT_EQ(ini.number("A", "k", 0), 2);
        // Another thread has no scope: it sees the disk.
        int seen = 0;
        std::thread([&] { seen = Profile(ini.path()).number("A", "w", 0); }).join();
        EXPECT_EQ(seen, 5);
        ASSERT_TRUE(fs::write_file_atomic(tmp / "Corvane.ini", "[A]\nk=3\n").ok());
        EXPECT_EQ(ini.number("A", "k", 0), 2);
    }
    EXPECT_EQ(ini.number("A", "k", 0), 3);
}
