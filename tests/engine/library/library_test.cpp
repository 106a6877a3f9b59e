#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <set>

#include "common/codec/password_codec.h"
#include "common/ini/profile.h"
#include "common/platform/files.h"
#include "tests/support/child.h"
#include "tests/support/engine_host.h"

using corvane::testing::Child;
using corvane::testing::EngineHost;
using corvane::testing::EngineRequest;
namespace fs = corvane::platform;
namespace ini = corvane::ini;

namespace {

bool is_closed(int fd)
{
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// Calls Main with two fresh pipes: true when both ends handed over were
// closed and nothing was written.
bool main_writes_nothing_and_closes(EngineHost& host)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return false;
    int result = host.call_main(in[0], out[1], EngineHost::environment_block({{"QUERY_STRING", "View=1"}}));
    bool closed = is_closed(in[0]) && is_closed(out[1]);
    char byte;
    bool silent = ::read(out[0], &byte, 1) == 0;  // end of file at once
    ::close(in[1]);
    ::close(out[0]);
    return result == 1 && closed && silent;
}

const char* const interface_names[] = {"StartUp",      "Main",          "ShutDown",
                                       "CVGetStatus",  "CVKillSession", "CVUserCreate",
                                       "CVUserExists", "CVUserRename",  "CVGetUserDiskSpace"};

}  // namespace

TEST(Library, ExportsExactlyTheBinaryInterface)
{
    EngineHost host;
    ASSERT_TRUE(host.load());
    for (const char* name : interface_names)
        EXPECT_NE(host.symbol(name), nullptr) << name;
    EXPECT_EQ(host.symbol("_ZN7corvane9lifecycle6engineEv"), nullptr);

    // The dynamic symbol table as another tool sees it.
    std::string command = "nm -D --defined-only '" + std::string(CORVANE_ENGINE_LIBRARY) + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        auto space = text.rfind(' ');
        if (space != std::string::npos)
            exported.insert(text.substr(space + 1, text.find_last_not_of("\r\n") - space));
    }
    if (exported.empty())
        GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(exported, std::set<std::string>(std::begin(interface_names), std::end(interface_names)));

    // The account exports answer "no" until the account functions exist.
    auto exists = reinterpret_cast<int (*)(const char*)>(host.symbol("CVUserExists"));
    auto space = reinterpret_cast<unsigned (*)(const char*)>(host.symbol("CVGetUserDiskSpace"));
    EXPECT_EQ(exists("anyone"), 0);
    EXPECT_EQ(space("anyone"), 0u);
}

TEST(Library, SettingsAreCompletedOnceAndPasswordsScrambledOnce)
{
    EngineHost::Options options;
    options.settings = {{"AccountCreation", "Password", "-secret"}, {"General", "EnableReplaceFrom", "true"}};
    EngineHost host(options);
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(host.shut_down());

    ini::Profile settings(host.ini_path());
    EXPECT_EQ(settings.text("Version", "Version", ""), "2.0.1");
    for (const char* key : {"LogLevel", "MessageDateFormat", "MaxLogFileSize", "VerboseSentConfirmation"})
        EXPECT_TRUE(settings.has_key("General", key)) << key;
    EXPECT_EQ(settings.text("General", "EnableReplaceFrom", ""), "Yes");
    EXPECT_EQ(settings.text("SpellCheck", "AddSingleWords", ""), "No");
    EXPECT_EQ(settings.text("UserDefaults", "Color8", ""), "#7FFFD4");
    EXPECT_EQ(settings.text("Directories", "UserDir", ""), host.users_dir());
    std::string stored = settings.text("AccountCreation", "Password", "");
    corvane::codec::PasswordCodec codec(corvane::codec::key_path_for(host.ini_path()));
    EXPECT_EQ(codec.unscramble(stored).value(), "secret");

    // The second start changes nothing but the log file name it publishes
    // (which is the same).
    std::string before = *fs::read_file(host.ini_path());
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(host.shut_down());
    EXPECT_EQ(*fs::read_file(host.ini_path()), before);
}

TEST(Library, ASecondEngineOnTheMachineFailsToStart)
{
    EngineHost host;
    ASSERT_TRUE(host.start());
    Child second({ENGINE_RUN, "start", host.instance()});
    ASSERT_TRUE(second.started());
    std::string output = second.read_all();
    EXPECT_EQ(second.wait(), 1) << output;
    EXPECT_NE(output.find("Could not create shared memory, error code 17"), std::string::npos) << output;
    // The first engine is untouched.
    EXPECT_NE(host.status()[0], 0);
    EXPECT_EQ(host.request({}).main_result, 1);
}

TEST(Library, AnEngineKilledOutrightDoesNotBlockTheNext)
{
    EngineHost::Options options;
    EngineHost host(options);
    Child doomed({ENGINE_RUN, "hold", host.instance()});
    ASSERT_EQ(doomed.read_line(), "running");
    EXPECT_NE(host.status()[0], 0) << "the other process's engine is seen";
    ::kill(doomed.pid(), SIGKILL);
    EXPECT_EQ(doomed.wait(), -1);

    std::array<std::int32_t, 9> zero{};
    EXPECT_EQ(host.status(), zero) << "the counters of a dead engine are not shown";
    EXPECT_TRUE(host.start()) << host.log_text();
    EXPECT_EQ(host.status()[3], 200);
}

TEST(Library, MainWritesNothingAndClosesBothUnlessRunning)
{
    EngineHost first;
    EXPECT_TRUE(first.load());
    EXPECT_TRUE(main_writes_nothing_and_closes(first)) << "before StartUp";
    ASSERT_TRUE(first.start());

    // A request while running is answered and closed, also when the engine
    // does not read the body (a type that is not a form).
    EngineRequest request;
    request.query_string = "View=1";
    request.body = std::string(1 << 20, 'x');
    request.content_type = "application/octet-stream";
    auto response = first.request(request);
    EXPECT_EQ(response.main_result, 1);
    EXPECT_FALSE(response.timed_out);
    EXPECT_TRUE(response.header_complete) << response.raw;
    request.no_input = true;
    EXPECT_FALSE(first.request(request).timed_out);

    // A second engine on the same instance fails to start ...
    EngineHost::Options same;
    same.instance = first.instance();
    EngineHost second(same);
    EXPECT_FALSE(second.start());
    EXPECT_TRUE(main_writes_nothing_and_closes(second)) << "after a failed StartUp";
    std::string log = second.log_text();
    EXPECT_TRUE(second.shut_down());
    EXPECT_EQ(second.log_text(), log) << "ShutDown after a failed StartUp writes nothing";

    ASSERT_TRUE(first.shut_down());
    EXPECT_TRUE(main_writes_nothing_and_closes(first)) << "after ShutDown";
    EXPECT_EQ(first.call_main(-1, -1, EngineHost::environment_block({})), 1);

    // ... and starts once the first has stopped.
    EXPECT_TRUE(second.start());
}

TEST(Library, StartsAndStopsRepeatedlyInOneProcess)
{
    EngineHost host;
    std::array<std::int32_t, 9> zero{};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(host.status(), zero);
        ASSERT_TRUE(host.start());
        auto running = host.status();
        EXPECT_GT(running[0], 0);
        EXPECT_EQ(running[3], 200);
        EXPECT_EQ(host.request({}).main_result, 1);
        ASSERT_TRUE(host.shut_down());
        if (round == 1)
            host.unload();  // and loaded afresh
    }
    EXPECT_EQ(host.status(), zero);
    auto lines = host.log_lines();
    int starts = 0, stops = 0;
    for (const auto& line : lines) {
        starts += line == "Initializing Corvane...";
        stops += line == "Corvane stopped.";
    }
    EXPECT_EQ(starts, 3);
    EXPECT_EQ(stops, 3);
}

TEST(Library, FindsItsSettingsBesideItself)
{
    EngineHost::Options options;
    options.use_env_ini = false;
    options.mime_types = "text/html html htm\n";
    EngineHost host(options);
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(host.shut_down());
    EXPECT_TRUE(host.log_contains("Initializing Corvane..."));
    EXPECT_FALSE(host.log_contains("Could not load MimeTypes.cfg!"));
    EXPECT_TRUE(host.log_contains("Could not find Languages.ini!"));
}

TEST(Library, BadSettingsAreSurvived)
{
    EngineHost::Options options;
    options.settings = {{"Session", "Maximum", "99999999999"},
                        {"Session", "ExpireTime", "-5"},
                        {"General", "LogLevel", "banana"},
                        {"General", "MaxLogFileSize", "-1"}};
    EngineHost host(options);
    // Garbage around the keys the tree needs.
    ASSERT_TRUE(fs::append_file(host.ini_path(), std::string("\n\x01\x02[\xff\n=nothing\n[]\n", 19)));
    ASSERT_TRUE(host.start());
    EXPECT_EQ(host.status()[3], 2147483647);
    EXPECT_EQ(host.request({}).main_result, 1);
    ASSERT_TRUE(host.shut_down());
    EXPECT_TRUE(host.log_contains("Corvane stopped."));
}
