// Programs started through the platform: /bin/sh reads its script from the
// standard input we give it and reports what it sees of its own process.
#include "common/platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "common/platform/files.h"
#include "common/platform/io.h"
#include "common/platform/poller.h"
#include "tests/support/temp_dir.h"

namespace fs = corvane::platform;

namespace {

struct Run {
    std::string output;
    int status = -1;
};

// Runs /bin/sh with script on its standard input; waits for its end through
// the poller (or, without pidfds, by collecting).
Run run_script(const std::string& script, const std::string& directory, std::vector<std::string> environment)
{
    corvane::testing::TempDir tmp;
    auto input = fs::create_unnamed_file(tmp.path(), "in");
    EXPECT_TRUE(input.ok());
    EXPECT_TRUE(fs::write_all(input->get(), script).ok());
    EXPECT_TRUE(fs::rewind_file(input->get()).ok());
    auto pipe = fs::make_pipe();
    EXPECT_TRUE(pipe.ok());

    std::vector<char*> pointers;
    for (auto& entry : environment)
        pointers.push_back(entry.data());
    pointers.push_back(nullptr);
    fs::SpawnRequest request;
    request.program = "/bin/sh";
    request.directory = directory;
    request.standard_input = input->get();
    request.standard_output = pipe->write_end.get();
    request.environment = pointers.data();
    auto child = fs::spawn_program(request);
    EXPECT_TRUE(child.ok()) << child.error().text;
    pipe->write_end.reset();

    Run run;
    auto poller = fs::Poller::create();
    EXPECT_TRUE(poller->add(pipe->read_end.get(), fs::Poller::readable, 1).ok());
    if (child->ended) {
        EXPECT_TRUE(poller->add(child->ended.get(), fs::Poller::readable, 2).ok());
    }
    bool pipe_open = true;
    std::optional<int> status;
    for (int round = 0; round < 500 && (pipe_open || !status); ++round) {
        std::array<fs::Poller::Event, 4> events;
        (void)poller->wait(events, 20);
        char buffer[4096];
        for (;;) {
            auto r = fs::read_some(pipe->read_end.get(), buffer, sizeof buffer);
            if (r.status == fs::IoStatus::ok) {
                run.output.append(buffer, r.bytes);
                continue;
            }
            if (r.status != fs::IoStatus::would_block)
                pipe_open = false;
            break;
        }
        if (!status)
            status = fs::collect(child->pid);
    }
    run.status = status.value_or(-1);
    return run;
}

}  // namespace

TEST(Process, ProgramsGetTheirDescriptorsEnvironmentAndDirectory)
{
    corvane::testing::TempDir tmp;
    // A descriptor of ours without close-on-exec, as a careless library
    // would leave one: the program must not inherit it.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    ::signal(SIGPIPE, SIG_IGN);

    auto run = run_script(
        "echo \"who=$WHO\"; pwd; "
        "ls /proc/$$/fd | tr '\\n' ' '; echo; "
        // The shell reads its own status itself: while it forks a child
        // it blocks signals for a moment.
        "while read -r line; do case $line in SigIgn*|SigBlk*) echo \"$line\";; esac; done </proc/$$/status; "
        "exit 3\n",
        tmp.path(), {"WHO=corvane test", "PATH=/usr/bin:/bin"});
    ::close(leaked);
    ::signal(SIGPIPE, SIG_DFL);

    EXPECT_NE(run.output.find("who=corvane test\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(tmp.path() + "\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(" " + std::to_string(leaked) + " "), std::string::npos) << run.output;
    // Signals 1 to 31 (the C library keeps a few real-time ones for itself).
    for (const char* mask : {"SigIgn:\t", "SigBlk:\t"}) {
        auto at = run.output.find(mask);
        ASSERT_NE(at, std::string::npos) << run.output;
        auto bits = std::stoull(run.output.substr(at + 8, 16), nullptr, 16);
        EXPECT_EQ(bits & 0x7fffffffu, 0u) << run.output;
    }
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 3);
}

TEST(Process, AGroupIsEndedWithTheChildrenItStarted)
{
    corvane::testing::TempDir tmp;
    auto input = fs::create_unnamed_file(tmp.path(), "in");
    ASSERT_TRUE(input.ok());
    // The script starts a grandchild that would hold the pipe open.
    ASSERT_TRUE(fs::write_all(input->get(), "sleep 30 & sleep 30\n").ok());
    ASSERT_TRUE(fs::rewind_file(input->get()).ok());
    auto pipe = fs::make_pipe();
    ASSERT_TRUE(pipe.ok());
    char* environment[] = {nullptr};
    fs::SpawnRequest request;
    request.program = "/bin/sh";
    request.standard_input = input->get();
    request.standard_output = pipe->write_end.get();
    request.environment = environment;
    auto child = fs::spawn_program(request);
    ASSERT_TRUE(child.ok());
    pipe->write_end.reset();
    EXPECT_FALSE(fs::collect(child->pid).has_value());

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fs::kill_group(child->pid);
    auto status = fs::wait_for(child->pid);
    ASSERT_TRUE(status.ok());
    EXPECT_TRUE(WIFSIGNALED(*status));
    // Every writer is gone, so the pipe ends instead of waiting 30 s.
    char c;
    fs::IoResult r;
    for (int i = 0; i < 100; ++i) {
        r = fs::read_some(pipe->read_end.get(), &c, 1);
        if (r.status != fs::IoStatus::would_block)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(r.status, fs::IoStatus::closed);

    request.program = tmp / "missing";
    request.standard_input = -1;
    request.standard_output = -1;
    auto missing = fs::spawn_program(request);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
}

TEST(Process, UnnamedFilesLeaveNothingBehind)
{
    corvane::testing::TempDir tmp;
    {
        auto file = fs::create_unnamed_file(tmp.path(), "CGI");
        ASSERT_TRUE(file.ok());
        EXPECT_TRUE(fs::write_all(file->get(), "body").ok());
        EXPECT_TRUE(fs::list_directory(tmp.path())->empty());
        EXPECT_TRUE(fs::rewind_file(file->get()).ok());
        EXPECT_EQ(*fs::read_fd(file->get(), 100), "body");
    }
    EXPECT_FALSE(fs::create_unnamed_file(tmp / "no-such-dir", "CGI").ok());
    auto dir = fs::open_regular_file(tmp.path());
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.error().code, EISDIR);
    EXPECT_GE(fs::raise_descriptor_limit(), 1024u);
}
