// Requests running at once through the real Main: two of one session take
// turns (the request lock spans the whole request, page included), while a
// request of another session goes through meanwhile.
//
// The first request's page is a 1 MB template the test does not read at
// first, so its writer blocks on a full pipe while it holds the session's
// request lock: a state the test controls without any timing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/engine/core/dispatch/dispatch_fixture.h"

namespace corvane::dispatch::test {
namespace {

class Concurrency : public EngineFixture {};

std::string read_to_end(int fd)
{
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return out;
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

TEST_F(Concurrency, OneSessionTakesTurnsOthersRunAlongside)
{
    start();
    std::string big = "<!DOCTYPE html><html><body>" + std::string(1 << 20, 'x') + "<$LINK$></body></html>";
    ASSERT_TRUE(platform::write_file_atomic(host->templates_dir() + "/jsFrames/Big.html", big));
    host->shut_down();
    ASSERT_TRUE(host->start());
    add_user("alice", "secret");
    add_user("bob", "secret");
    Logon alice = logon("alice", "secret");
    Logon bob = logon("bob", "secret");
    ASSERT_FALSE(alice.id.empty());
    ASSERT_FALSE(bob.id.empty());

    int pipe_fds[2];
    ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
    std::string environment = EngineHost::environment_block({{"QUERY_STRING", "Session=" + alice.id + "&View=Big"},
                                                             {"HTTP_COOKIE", alice.key_cookie},
                                                             {"REMOTE_ADDR", "127.0.0.1"},
                                                             {"SCRIPT_NAME", "/cgi-bin/Corvane.so"}});
    std::atomic<bool> first_done{false};
    std::thread first([&] {
        host->call_main(-1, pipe_fds[1], environment);
        first_done = true;
    });
    // The first request is writing its page: it holds alice's request lock.
    pollfd p{pipe_fds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 30000), 1);

    std::atomic<bool> second_done{false};
    EngineResponse second;
    std::thread second_thread([&] {
        second = in_session(alice, "View=List");
        second_done = true;
    });
    // Another session is served meanwhile.
    EngineResponse other = in_session(bob, "View=List");
    EXPECT_NE(other.body.find(list_page), std::string::npos);
    EXPECT_FALSE(first_done.load());
    EXPECT_FALSE(second_done.load()) << "the second request of a session waits for the first";
    std::string list_begins = "BegRequest: View=3 Session=" + alice.id + "&View=List";
    EXPECT_FALSE(host->log_contains(list_begins));

    std::string page = read_to_end(pipe_fds[0]);
    ::close(pipe_fds[0]);
    first.join();
    second_thread.join();
    EXPECT_NE(page.find("?Session=" + alice.id + "</body>"), std::string::npos);
    EXPECT_NE(second.body.find(list_page), std::string::npos);

    // In the log the first request ended before the second began.
    std::string log = host->log_text();
    std::size_t first_end = log.find("EndRequest: View=0 Session=" + alice.id + "&View=Big");
    std::size_t second_begin = log.find(list_begins);
    ASSERT_NE(first_end, std::string::npos);
    ASSERT_NE(second_begin, std::string::npos);
    EXPECT_LT(first_end, second_begin);
}

TEST_F(Concurrency, ManySessionsAtOnce)
{
    start({{"Session", "Maximum", "64"}});
    constexpr int users = 8;
    for (int i = 0; i < users; ++i)
        add_user("user" + std::to_string(i), "secret");
    std::vector<std::thread> threads;
    std::atomic<int> served{0};
    for (int i = 0; i < users; ++i) {
        threads.emplace_back([&, i] {
            std::string name = "user" + std::to_string(i);
            for (int round = 0; round < 3; ++round) {
                Logon session = logon(name, "secret");
                for (int r = 0; r < 4; ++r) {
                    if (in_session(session, "View=List").body.find(list_page) != std::string::npos)
                        ++served;
                }
                // A second browser of the same user, and a stranger with the id.
                get("Session=" + session.id + "&View=List");
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(served.load(), users * 3 * 4);
}

}  // namespace
}  // namespace corvane::dispatch::test
