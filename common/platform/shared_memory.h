// Named POSIX shared memory with an owner.
//
// The owner of a segment holds an exclusive flock on the segment's own
// descriptor for as long as it lives. The kernel drops that lock when the
// owner dies in any way (SIGKILL included), so a segment left behind by a
// crashed owner is recognised and taken over instead of blocking the next
// start forever. Other processes map the segment without taking the lock.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

// base + "." + $CORVANE_INSTANCE when that variable is set and not empty,
// else base. Every shared-memory name goes through this, so parallel test
// runs and two installations on one machine never meet.
std::string instance_name(std::string_view base);

class SharedMemory {
public:
    enum class Access { read_only, read_write };

    SharedMemory() = default;
    // Creates the segment (or takes over one without a live owner), sized to
    // size bytes, all zero, and owns it until destroyed. Fails with code
    // EEXIST while another live process or object owns it.
    static Result<SharedMemory> create_owned(const std::string& name, std::size_t size);
    // Maps an existing segment as a user (no ownership).
    static Result<SharedMemory> open_existing(const std::string& name, Access access);
    // True when a live owner holds the segment.
    static bool has_live_owner(const std::string& name);

    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    // Unmaps; an owner also removes the name before releasing its lock.
    ~SharedMemory();

    void* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    bool owner() const { return m_owner; }
    const std::string& name() const { return m_name; }
    void reset();

private:
    std::string m_name;
    UniqueFd m_fd;
    void* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_owner = false;
};

}  // namespace corvane::platform
