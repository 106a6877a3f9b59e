// Logon guessing through the real Main, with the engine wired as
// Corvane.so wires it but in this process, so that a manual clock decides
// when waits end: free failures, growing waits that refuse even the right
// password at once, no lock-out of the account from another address, the
// per-address allowance across accounts, forgetting, StatusCheck alike;
// and the engine's own failure lines read by fail2ban with the shipped
// filter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/ini/profile.h"
#include "common/platform/clock.h"
#include "common/platform/files.h"
#include "engine/library/composition_root.h"
#include "tests/support/fail2ban.h"
#include "tests/support/temp_dir.h"

namespace corvane::dispatch {
namespace {

namespace fs = corvane::platform;

// 2026-12-02 10:00:00 UTC.
constexpr std::time_t start_time = 1796205600;

struct Answer {
    std::string raw;
    bool session = false;     // a logon cookie was set
    std::string retry_after;  // the Retry-After header, "" when none
    bool bad_logon = false;   // the page says the password was wrong
    bool held_off = false;    // the page says to wait
};

class LogonGuard : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("CORVANE_INSTANCE", ("guard" + std::to_string(::getpid())).c_str(), 1);
        std::string copy = "cp -r '" CORVANE_SOURCE_DIR "/templates' '" + root / "Templates" + "'";
        ASSERT_EQ(std::system(copy.c_str()), 0);
        ASSERT_TRUE(fs::make_directories(root / "Logs"));
        ASSERT_TRUE(fs::make_directories(root / "Temp"));
        for (const char* user : {"alice", "bob"}) {
            ASSERT_TRUE(fs::make_directories(root / "Users" + "/" + user));
            ASSERT_TRUE(fs::write_file_atomic(root / "Users" + "/" + user + "/User.ini", "[User]\nPassword=-secret\n"));
        }
        ini::Profile ini(root / "Corvane.ini");
        ASSERT_TRUE(ini.update([&](ini::Document& doc) {
            doc.set("Directories", "BaseDir", root.path());
            doc.set("Directories", "LogDir", root / "Logs");
            doc.set("Directories", "TempDir", root / "Temp");
            doc.set("Directories", "TemplateDir", root / "Templates");
            doc.set("Directories", "UserDir", root / "Users");
            doc.set("General", "LogLevel", "1");
            doc.set("General", "CaseSensitivePasswords", "No");
            doc.set("LogonThrottle", "AccountFailures", "5");
            doc.set("LogonThrottle", "AddressFailures", "20");
            doc.set("LogonThrottle", "FirstDelay", "1");
            doc.set("LogonThrottle", "MaxDelay", "60");
            doc.set("LogonThrottle", "ForgetTime", "15");
            return true;
        }));
        composition = std::make_unique<library::CompositionRoot>(root / "Corvane.ini");
        ASSERT_TRUE(composition->engine().start_up(lifecycle::StartOptions{.libraries = lifecycle::Libraries::none}));
    }

    void TearDown() override { composition.reset(); }

    Answer request(const std::string& query, const std::string& body, const std::string& address)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return {};
        if (!body.empty() && ::write(in[1], body.data(), body.size()) < 0)
            return {};
        ::close(in[1]);
        std::string block;
        for (const auto& [name, value] :
             std::vector<std::pair<std::string, std::string>>{{"QUERY_STRING", query},
                                                              {"REQUEST_METHOD", body.empty() ? "GET" : "POST"},
                                                              {"CONTENT_LENGTH", std::to_string(body.size())},
                                                              {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                                              {"REMOTE_ADDR", address},
                                                              {"SCRIPT_NAME", "/Corvane"}})
            block.append(name).append("=").append(value).push_back('\0');
        block.push_back('\0');
        std::thread main([&, block, input = in[0], output = out[1]] {
            composition->engine().main_entry(input, output, block.c_str());
        });
        Answer answer;
        char buffer[65536];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
            answer.raw.append(buffer, static_cast<std::size_t>(n));
        ::close(out[0]);
        main.join();
        std::smatch match;
        answer.session = answer.raw.find("Set-Cookie: CorvaneKey_") != std::string::npos;
        if (std::regex_search(answer.raw, match, std::regex("Retry-After: (\\d+)\r\n")))
            answer.retry_after = match[1];
        answer.bad_logon = answer.raw.find("The user name or the password is not correct.") != std::string::npos;
        answer.held_off = answer.raw.find("Too many failed sign-ins from your address.") != std::string::npos;
        return answer;
    }

    Answer logon(const std::string& user, const std::string& password, const std::string& address)
    {
        return request("View=Main", "User=" + user + "&Password=" + password, address);
    }

    // The failure lines of the engine log, and the address each names.
    std::vector<std::string> failure_lines() const
    {
        std::vector<std::string> lines;
        auto text = fs::read_file(root / "Logs/Corvane.log");
        if (!text)
            return lines;
        std::size_t pos = 0;
        while (pos < text->size()) {
            std::size_t end = text->find('\n', pos);
            std::string line = text->substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            if (line.find("Authentication failure for") != std::string::npos)
                lines.push_back(line);
            pos = end == std::string::npos ? text->size() : end + 1;
        }
        return lines;
    }

    testing::TempDir root;
    fs::ManualClock clock{start_time};
    fs::ScopedClock use_clock{clock};
    std::unique_ptr<library::CompositionRoot> composition;
};

TEST_F(LogonGuard, WaitsGrowRefuseEvenTheRightPasswordAndEndInTime)
{
    // Five failures are free: each is checked and said to be wrong.
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        Answer a = logon("alice", "guess" + std::to_string(i), "10.0.0.7");
        EXPECT_TRUE(a.bad_logon);
        EXPECT_EQ(a.retry_after, "");
    }
    // Every further failure begins a wait twice as long as the one before,
    // up to the longest; within it even the right password gets nowhere.
    const std::time_t waits[] = {1, 2, 4, 8, 16, 32, 60, 60};
    for (std::time_t wait : waits) {
        SCOPED_TRACE(wait);
        Answer failed = logon("alice", "wrong", "10.0.0.7");
        EXPECT_TRUE(failed.bad_logon);
        Answer right = logon("ALICE", "secret", "10.0.0.7");
        EXPECT_FALSE(right.session);
        EXPECT_TRUE(right.held_off) << right.raw.substr(0, 400);
        EXPECT_EQ(right.retry_after, std::to_string(wait));
        EXPECT_NE(right.raw.find("Please wait " + std::to_string(wait) + " seconds"), std::string::npos);
        // The same user elsewhere is not shut out.
        Answer elsewhere = logon("alice", "secret", "192.0.2.1");
        EXPECT_TRUE(elsewhere.session);
        clock.advance(wait - 1);
        EXPECT_EQ(logon("alice", "secret", "10.0.0.7").retry_after, "1");
        clock.advance(1);
    }
    // The wait over, the right password is taken, and it clears the count
    // of this address and account: five failures are free again.
    EXPECT_TRUE(logon("alice", "secret", "10.0.0.7").session);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(logon("alice", "wrong", "10.0.0.7").retry_after, "");
    EXPECT_EQ(logon("alice", "wrong", "10.0.0.7").retry_after, "");
    EXPECT_EQ(logon("alice", "secret", "10.0.0.7").retry_after, "1");

    // Counts are forgotten a quarter of an hour after the last failure.
    clock.advance(15 * 60);
    EXPECT_TRUE(logon("alice", "secret", "10.0.0.7").session);

    // One line per failure, held-off attempts included, each naming the
    // client's address.
    std::size_t from_client = 0;
    for (const auto& line : failure_lines()) {
        EXPECT_NE(line.find("Authentication failure for \""), std::string::npos) << line;
        if (line.find("\" from 10.0.0.7\r") != std::string::npos)
            ++from_client;
    }
    EXPECT_EQ(from_client, 5u + 8 * 3 + 6 + 1);
}

TEST_F(LogonGuard, OneAddressGuessingManyAccountsIsHeldOffForAll)
{
    // Twenty failures spread over twenty names stay within every account's
    // allowance, but not within the address's.
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(logon("user" + std::to_string(i), "x", "10.0.0.9").retry_after, "");
    // Logging on to an account of one's own does not buy more guesses.
    EXPECT_TRUE(logon("bob", "secret", "10.0.0.9").session);
    EXPECT_TRUE(logon("user20", "x", "10.0.0.9").bad_logon);
    Answer held = logon("bob", "secret", "10.0.0.9");
    EXPECT_FALSE(held.session);
    EXPECT_EQ(held.retry_after, "1");
    // StatusCheck is a logon like any other: held off with the same wait.
    Answer status = request("View=StatusCheck&User=bob&Password=secret", "", "10.0.0.9");
    EXPECT_NE(status.raw.find("Content-type: text/plain\r\n"), std::string::npos);
    EXPECT_NE(status.raw.find("\r\n\r\nInvalid Login\n"), std::string::npos) << status.raw;
    EXPECT_EQ(status.retry_after, "1");
    // Other addresses are not concerned.
    EXPECT_TRUE(logon("bob", "secret", "10.0.0.10").session);
    clock.advance(1);
    EXPECT_TRUE(logon("bob", "secret", "10.0.0.9").session);
}

TEST_F(LogonGuard, Fail2banFindsTheClientAddressOfEveryFailure)
{
    if (!testing::fail2ban_installed())
        GTEST_SKIP() << "fail2ban is not installed (scripts/install-deps installs it)";

    // Names made to mislead a log reader: a forged address, a forged line.
    struct Attempt {
        std::string user;
        std::string address;
    };
    const Attempt attempts[] = {
        {"alice", "10.0.0.7"},
        {"x%22+from+10.9.9.9", "10.0.0.8"},
        {"y%0D%0A%5BMon+2026-12-07+10%3A00%3A00%5D+Authentication+failure+for+%22z%22+from+10.6.6.6", "10.0.0.9"},
        {"%22%22%22", "10.0.0.10"},
        {"bob", "10.0.0.11"},
    };
    std::vector<std::string> want;
    for (const auto& a : attempts) {
        EXPECT_TRUE(logon(a.user, "wrong", a.address).bad_logon);
        want.push_back(a.address);
    }
    // A held-off attempt counts like a failure.
    for (int i = 0; i < 6; ++i)
        (void)logon("alice", "wrong", "10.0.0.7");
    for (int i = 0; i < 6; ++i)
        want.push_back("10.0.0.7");
    // Lines that are no failures stay unmatched.
    EXPECT_TRUE(logon("bob", "secret", "10.0.0.12").session);

    std::string output;
    auto got = testing::fail2ban_addresses(CORVANE_SOURCE_DIR, root / "Logs/Corvane.log", output);
    ASSERT_TRUE(got) << output;
    EXPECT_EQ(*got, want) << output;
}

}  // namespace
}  // namespace corvane::dispatch
