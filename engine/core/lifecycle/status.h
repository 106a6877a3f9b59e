// The engine's status record and the pending administrative kill, in shared
// memory so that the administration program and tools reach the running
// engine from their own processes.
//
// The segment "/Corvane Status" (plus the instance suffix) holds:
//   0   36  the status record: nine little-endian 32-bit counters (StatusField)
//   36  8   the session id of the pending kill, NUL-terminated
//   44  4   the pending-kill count
//   48  4   a claim word that serialises kill requests between processes
//   52  4   the engine's process id (a reader tells a live engine from the
//           leftovers of one that was killed)
// Counters change with atomic operations; readers copy without a lock.
//
// What it does not do: the session slots (see sessions/shared_slots.h), and
// no queue: one kill is outstanding at a time, further ones are refused
// until the maintenance thread has carried it out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/platform/result.h"
#include "common/platform/shared_memory.h"

namespace corvane::lifecycle {

constexpr std::string_view status_segment_base = "/Corvane Status";
constexpr std::string_view sessions_segment_base = "/Corvane Sessions";
constexpr std::size_t status_record_size = 36;
constexpr std::size_t status_segment_size = 64;

// Byte offsets of the counters.
enum class StatusField : std::size_t {
    start_time = 0,
    sessions = 4,
    engine_errors = 8,  // sessions stuck through 60 deletion attempts
    maximum = 12,
    pop_sessions = 16,
    pop_errors = 20,
    smtp_sessions = 24,
    smtp_errors = 28,
    reserved = 32,
};

// A view of the status segment, owned by the engine or opened by a reader.
class StatusArea {
public:
    // The engine's own segment (created zeroed, or taken over from a dead
    // engine); fails with EEXIST while another engine owns it.
    static Result<StatusArea> create(const std::string& name);
    // The segment of a running engine, as another process sees it; fails
    // when no engine owns one.
    static Result<StatusArea> open_running(const std::string& name, platform::SharedMemory::Access access);

    StatusArea() = default;
    StatusArea(StatusArea&&) noexcept = default;
    StatusArea& operator=(StatusArea&&) noexcept = default;

    void set(StatusField field, std::int32_t value);
    void add(StatusField field, std::int32_t amount = 1);
    std::int32_t get(StatusField field) const;
    void copy_record(void* out36) const;
    void zero_record();

    // Asks for a session to be deleted: the pending count after the request
    // (1), or, when a kill is already pending, that count and nothing else.
    int request_kill(std::string_view session_id);
    // The maintenance thread's side: the pending id, if any, and done().
    std::optional<std::string> pending_kill() const;
    void kill_done();

    bool valid() const { return m_memory.data() != nullptr; }
    void reset() { m_memory.reset(); }

private:
    explicit StatusArea(platform::SharedMemory memory) : m_memory(std::move(memory)) {}
    unsigned char* bytes() const { return static_cast<unsigned char*>(m_memory.data()); }

    platform::SharedMemory m_memory;
};

// True when a process with this id exists.
bool process_alive(std::int32_t pid);

}  // namespace corvane::lifecycle
