#include "common/platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace corvane::platform {

std::string instance_name(std::string_view base)
{
    std::string name(base);
    const char* instance = std::getenv("CORVANE_INSTANCE");
    if (instance && *instance) {
        name += '.';
        name += instance;
    }
    return name;
}

namespace {

bool same_file(int fd_a, int fd_b)
{
    struct stat a {};
    struct stat b {};
    return ::fstat(fd_a, &a) == 0 && ::fstat(fd_b, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

Result<SharedMemory> SharedMemory::create_owned(const std::string& name, std::size_t size)
{
    if (size == 0)
        return Error{EINVAL, "shared memory " + name + ": size 0"};
    // A few rounds cover the race with an owner that removes the name just
    // after we opened it: then our lock is on an unlinked segment and we
    // start again with the name as it is now.
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueFd fd(::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!fd)
            return os_error("shm_open", name);
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                return Error{EEXIST, "shared memory " + name + " is owned by a running process"};
            return os_error("flock", name);
        }
        UniqueFd check(::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0));
        if (!check || !same_file(fd.get(), check.get()))
            continue;
        // Whatever a dead owner left is discarded: the segment starts zeroed.
        if (::ftruncate(fd.get(), 0) != 0 || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0)
            return os_error("ftruncate", name);
        void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
        if (data == MAP_FAILED)
            return os_error("mmap", name);
        SharedMemory memory;
        memory.m_name = name;
        memory.m_fd = std::move(fd);
        memory.m_data = data;
        memory.m_size = size;
        memory.m_owner = true;
        return memory;
    }
    return Error{EAGAIN, "shared memory " + name + ": name keeps changing owner"};
}

Result<SharedMemory> SharedMemory::open_existing(const std::string& name, Access access)
{
    bool writable = access == Access::read_write;
    UniqueFd fd(::shm_open(name.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0));
    if (!fd)
        return os_error("shm_open", name);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return os_error("fstat", name);
    if (st.st_size <= 0)
        return Error{ENODATA, "shared memory " + name + " is empty"};
    auto size = static_cast<std::size_t>(st.st_size);
    void* data = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd.get(), 0);
    if (data == MAP_FAILED)
        return os_error("mmap", name);
    SharedMemory memory;
    memory.m_name = name;
    memory.m_fd = std::move(fd);
    memory.m_data = data;
    memory.m_size = size;
    return memory;
}

bool SharedMemory::has_live_owner(const std::string& name)
{
    UniqueFd fd(::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (!fd)
        return false;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
        return false;  // closing fd releases the probe lock
    return errno == EWOULDBLOCK;
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept
    : m_name(std::move(other.m_name)),
      m_fd(std::move(other.m_fd)),
      m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_owner(std::exchange(other.m_owner, false))
{
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept
{
    if (this != &other) {
        reset();
        m_name = std::move(other.m_name);
        m_fd = std::move(other.m_fd);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_owner = std::exchange(other.m_owner, false);
    }
    return *this;
}

SharedMemory::~SharedMemory()
{
    reset();
}

void SharedMemory::reset()
{
    if (m_data)
        ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
    // Remove the name while still holding the lock, so no one can take over
    // a segment that is about to vanish.
    if (m_owner)
        ::shm_unlink(m_name.c_str());
    m_owner = false;
    m_fd.reset();
}

}  // namespace corvane::platform
