// Server sockets and the poller against the kernel's own TCP on 127.0.0.1:
// the client side is made with plain system calls, not with our code.
#include "common/platform/sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <string>
#include <thread>

#include "common/platform/files.h"
#include "common/platform/poller.h"
#include "tests/support/temp_dir.h"

namespace fs = corvane::platform;
using fs::IoStatus;

namespace {

int client_to(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Events for token, waiting at most a second.
unsigned events_for(fs::Poller& poller, std::uint64_t token)
{
    std::array<fs::Poller::Event, 8> events;
    unsigned seen = 0;
    for (int round = 0; round < 20 && seen == 0; ++round) {
        auto n = poller.wait(events, 50);
        if (!n)
            return 0;
        for (std::size_t i = 0; i < *n; ++i) {
            if (events[i].token == token)
                seen |= events[i].events;
        }
    }
    return seen;
}

std::string read_all(int fd)
{
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

}  // namespace

TEST(Sockets, ListenAcceptAndMoveBytesBothWays)
{
    for (const char* refused : {"localhost", "127.0.0", "::1", "127.0.0.1 ", "1.2.3.4.5"}) {
        auto r = fs::listen_tcp(refused, 0);
        ASSERT_FALSE(r.ok()) << refused;
        EXPECT_EQ(r.error().code, EINVAL) << refused;
    }
    EXPECT_FALSE(fs::listen_tcp("127.0.0.1", 70000).ok());

    auto listener = fs::listen_tcp("127.0.0.1", 0);
    ASSERT_TRUE(listener.ok()) << listener.error().text;
    auto local = fs::local_address(listener->get());
    ASSERT_TRUE(local);
    EXPECT_EQ(local->address, "127.0.0.1");
    ASSERT_GT(local->port, 0);

    auto poller = fs::Poller::create();
    ASSERT_TRUE(poller.ok());
    ASSERT_TRUE(poller->add(listener->get(), fs::Poller::readable, 1).ok());
    auto none = fs::accept_connection(listener->get());
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().code, EAGAIN);

    int client = client_to(local->port);
    ASSERT_GE(client, 0);
    EXPECT_TRUE(events_for(*poller, 1) & fs::Poller::readable);
    auto accepted = fs::accept_connection(listener->get());
    ASSERT_TRUE(accepted.ok()) << accepted.error().text;
    EXPECT_EQ(accepted->peer.address, "127.0.0.1");
    EXPECT_EQ(accepted->peer.port, fs::local_address(client)->port);
    EXPECT_EQ(fs::peer_address(accepted->socket.get())->port, accepted->peer.port);
    int server = accepted->socket.get();
    ASSERT_TRUE(poller->add(server, fs::Poller::readable | fs::Poller::writable, 2).ok());

    // Nothing there yet: the server's read would block.
    char buffer[64];
    EXPECT_EQ(fs::receive_some(server, buffer, sizeof buffer).status, IoStatus::would_block);

    ASSERT_EQ(::send(client, "GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
    EXPECT_TRUE(events_for(*poller, 2) & fs::Poller::readable);
    auto got = fs::receive_some(server, buffer, sizeof buffer);
    ASSERT_EQ(got.status, IoStatus::ok);
    EXPECT_EQ(std::string(buffer, got.bytes), "GET / HTTP/1.0\r\n\r\n");

    // The client half-closes: the server sees the end of its stream and
    // can still answer in full, header and body in one call, then a file.
    ASSERT_EQ(::shutdown(client, SHUT_WR), 0);
    EXPECT_TRUE(events_for(*poller, 2) & fs::Poller::peer_closed);
    EXPECT_EQ(fs::receive_some(server, buffer, sizeof buffer).status, IoStatus::closed);
    auto two = fs::send_two(server, "HTTP/1.0 200 OK\r\n\r\n", "body;", true);
    ASSERT_EQ(two.status, IoStatus::ok);
    EXPECT_EQ(two.bytes, 24u);

    corvane::testing::TempDir tmp;
    ASSERT_TRUE(fs::write_file_atomic(tmp / "f.txt", "0123456789").ok());
    auto file = fs::open_regular_file(tmp / "f.txt");
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file->size, 10u);
    auto sent = fs::send_file_some(server, file->fd.get(), 4, 100);
    ASSERT_EQ(sent.status, IoStatus::ok);
    EXPECT_EQ(sent.bytes, 6u);
    // A file that ends before what was promised is an error, not a hang.
    EXPECT_EQ(fs::send_file_some(server, file->fd.get(), 10, 5).status, IoStatus::failed);
    fs::shutdown_sending(server);
    EXPECT_EQ(read_all(client), "HTTP/1.0 200 OK\r\n\r\nbody;456789");
    EXPECT_EQ(fs::discard_received(server, 1000), IoStatus::closed);
    ::close(client);
}

TEST(Sockets, DiscardsWhatArrivedAndNoticesAResetPeer)
{
    auto listener = fs::listen_tcp("", 0);
    ASSERT_TRUE(listener.ok());
    int port = fs::local_address(listener->get())->port;
    int client = client_to(port);
    ASSERT_GE(client, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto accepted = fs::accept_connection(listener->get());
    ASSERT_TRUE(accepted.ok());
    int server = accepted->socket.get();

    std::string junk(10000, 'j');
    ASSERT_EQ(::send(client, junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(fs::discard_received(server, 4096), IoStatus::ok);
    EXPECT_EQ(fs::discard_received(server, 1u << 20), IoStatus::would_block);

    // A client that resets: sending fails with an error code, never a signal.
    linger reset{1, 0};
    ASSERT_EQ(::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
    ::close(client);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fs::IoResult r;
    for (int i = 0; i < 3; ++i) {
        r = fs::send_some(server, "late answer");
        if (r.status == IoStatus::failed)
            break;
    }
    EXPECT_EQ(r.status, IoStatus::failed);
    EXPECT_TRUE(r.error == ECONNRESET || r.error == EPIPE) << r.error;
}

TEST(Poller, AWakeupFromAnotherThreadEndsTheWait)
{
    auto poller = fs::Poller::create();
    auto wakeup = fs::Wakeup::create();
    ASSERT_TRUE(poller.ok() && wakeup.ok());
    ASSERT_TRUE(poller->add(wakeup->fd(), fs::Poller::readable, 7).ok());
    EXPECT_FALSE(wakeup->clear());
    std::array<fs::Poller::Event, 4> events;
    auto idle = poller->wait(events, 10);
    ASSERT_TRUE(idle.ok());
    EXPECT_EQ(*idle, 0u);

    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        wakeup->signal();
        wakeup->signal();
    });
    auto n = poller->wait(events, 5000);
    other.join();
    ASSERT_TRUE(n.ok());
    ASSERT_EQ(*n, 1u);
    EXPECT_EQ(events[0].token, 7u);
    EXPECT_TRUE(wakeup->clear());
    EXPECT_FALSE(wakeup->clear());
}
