#include "common/platform/shared_memory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace fs = corvane::platform;

namespace {

std::string unique_name(const char* what)
{
    return "/corvane-test-" + std::string(what) + "-" + std::to_string(::getpid());
}

}  // namespace

TEST(SharedMemory, OwnerExcludesSecondOwnerAndSharesData)
{
    std::string name = unique_name("owner");
    auto owner = fs::SharedMemory::create_owned(name, 4096);
    ASSERT_TRUE(owner.ok()) << owner.error().text;
    std::memcpy(owner->data(), "hello", 6);

    auto second = fs::SharedMemory::create_owned(name, 4096);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error().code, EEXIST);
    EXPECT_TRUE(fs::SharedMemory::has_live_owner(name));

    pid_t child = ::fork();
    if (child == 0) {
        auto reader = fs::SharedMemory::open_existing(name, fs::SharedMemory::Access::read_only);
        ::_exit(reader.ok() && reader->size() == 4096 && std::strcmp(static_cast<char*>(reader->data()), "hello") == 0
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another process sees the owner's data";

    owner->reset();
    EXPECT_FALSE(fs::SharedMemory::open_existing(name, fs::SharedMemory::Access::read_only).ok())
        << "the owner removes the name when it goes";
}

TEST(SharedMemory, SegmentOfAKilledOwnerIsTakenOver)
{
    std::string name = unique_name("killed");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        auto owner = fs::SharedMemory::create_owned(name, 1024);
        if (owner.ok())
            std::memcpy(owner->data(), "stale", 6);
        char c = owner.ok() ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(fs::SharedMemory::create_owned(name, 1024).ok()) << "owner alive";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    EXPECT_FALSE(fs::SharedMemory::has_live_owner(name));
    auto next = fs::SharedMemory::create_owned(name, 2048);
    ASSERT_TRUE(next.ok()) << next.error().text;
    EXPECT_EQ(next->size(), 2048u);
    EXPECT_EQ(static_cast<char*>(next->data())[0], '\0') << "a taken-over segment starts zeroed";
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(SharedMemory, InstanceNameSeparatesInstallations)
{
    ::unsetenv("CORVANE_INSTANCE");
    EXPECT_EQ(fs::instance_name("/Corvane Sessions"), "/Corvane Sessions");
    ::setenv("CORVANE_INSTANCE", "t42", 1);
    EXPECT_EQ(fs::instance_name("/Corvane Sessions"), "/Corvane Sessions.t42");
    ::unsetenv("CORVANE_INSTANCE");
}
