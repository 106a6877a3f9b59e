#include "engine/core/cgi/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace corvane::cgi {
namespace {

struct Pipe {
    Pipe()
    {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        read_end = fds[0];
        write_end = fds[1];
    }
    int read_end = -1;
    int write_end = -1;
};

std::string drain(int fd)
{
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

bool is_open_fd(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(InputStream, ReadsNoMoreThanTheLength)
{
    Pipe p;
    ASSERT_EQ(::write(p.write_end, "abcdefghij", 10), 10);
    InputStream in(platform::UniqueFd(p.read_end), 6);
    char buffer[4];
    EXPECT_EQ(in.read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(in.read_up_to(100), "ef");
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_FALSE(in.short_read());
    EXPECT_EQ(in.read(buffer, sizeof buffer), 0u);
    // The rest stays in the pipe for nobody: this stream never reads it.
    char rest[8];
    EXPECT_EQ(::read(p.read_end, rest, sizeof rest), 4);
    ::close(p.write_end);

    InputStream none;
    EXPECT_EQ(none.read_up_to(10), "");
    InputStream invalid(platform::UniqueFd(-1), 50);
    EXPECT_EQ(invalid.remaining(), 0u);
    EXPECT_EQ(invalid.read_up_to(10), "");
}

TEST(InputStream, ShortBody)
{
    Pipe p;
    ASSERT_EQ(::write(p.write_end, "abc", 3), 3);
    ::close(p.write_end);
    InputStream in(platform::UniqueFd(p.read_end), 1000);
    EXPECT_EQ(in.read_up_to(1000), "abc");
    EXPECT_TRUE(in.short_read());
    EXPECT_EQ(in.remaining(), 0u);
}

TEST(OutputStream, BuffersAndClosesOnce)
{
    Pipe p;
    {
        FdOutputStream out{platform::UniqueFd(p.write_end)};
        out.write("Content-type: text/html\r\n\r\n");
        out.put('<');
        out.write_format("%s %d", "p", 42);
        out.write(std::string(OutputStream::buffer_size * 3, 'x'));
        out.close();
        EXPECT_FALSE(out.is_open());
        EXPECT_FALSE(is_open_fd(p.write_end));

        // The number is free again; whatever takes it must survive us.
        int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(reused, 0);
        out.write("dropped");
        out.close();
        // Destructor runs at the end of this scope.
        p.write_end = reused;
    }
    EXPECT_TRUE(is_open_fd(p.write_end));
    ::close(p.write_end);
    std::string got = drain(p.read_end);
    ::close(p.read_end);
    EXPECT_EQ(got, "Content-type: text/html\r\n\r\n<p 42" + std::string(OutputStream::buffer_size * 3, 'x'));
}

TEST(OutputStream, ReaderGoneIsNotFatal)
{
    Pipe p;
    ::close(p.read_end);
    FdOutputStream out{platform::UniqueFd(p.write_end)};
    out.write(std::string(100000, 'y'));  // larger than the buffer: written at once
    out.write("more");
    out.flush();
    EXPECT_TRUE(out.failed());
    out.close();
    // Still alive: no SIGPIPE was left pending for this process either.
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(OutputStream, ToFileAndString)
{
    testing::TempDir dir;
    int fd = ::open((dir / "page.html").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    {
        FdOutputStream out{platform::UniqueFd(fd)};
        out.write("hello");
    }  // the destructor flushes
    int in = ::open((dir / "page.html").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(drain(in), "hello");
    ::close(in);

    StringOutputStream s;
    s.write("a");
    s.put('b');
    EXPECT_EQ(s.bytes_written(), 2u);
    EXPECT_EQ(s.str(), "ab");
    EXPECT_EQ(s.take(), "ab");
    EXPECT_EQ(s.str(), "");
}

}  // namespace
}  // namespace corvane::cgi
