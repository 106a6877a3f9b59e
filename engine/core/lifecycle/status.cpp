#include "engine/core/lifecycle/status.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>

#include "common/platform/process.h"

namespace corvane::lifecycle {

static_assert(std::endian::native == std::endian::little, "the status record is little-endian");

namespace {

constexpr std::size_t kill_id_offset = 36;
constexpr std::size_t kill_id_size = 8;
constexpr std::size_t kill_count_offset = 44;
constexpr std::size_t claim_offset = 48;
constexpr std::size_t pid_offset = 52;

static_assert(std::atomic_ref<std::int32_t>::is_always_lock_free,
              "counters are shared between processes, so they must be lock-free");

std::atomic_ref<std::int32_t> word(unsigned char* base, std::size_t offset)
{
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(base + offset));
}

}  // namespace

bool process_alive(std::int32_t pid)
{
    return platform::process_exists(pid);
}

Result<StatusArea> StatusArea::create(const std::string& name)
{
    auto memory = platform::SharedMemory::create_owned(name, status_segment_size);
    if (!memory)
        return memory.error();
    StatusArea area(std::move(*memory));
    word(area.bytes(), pid_offset).store(static_cast<std::int32_t>(platform::current_process_id()));
    return area;
}

Result<StatusArea> StatusArea::open_running(const std::string& name, platform::SharedMemory::Access access)
{
    auto memory = platform::SharedMemory::open_existing(name, access);
    if (!memory)
        return memory.error();
    if (memory->size() < status_segment_size)
        return Error{EINVAL, "shared memory " + name + " is too small"};
    StatusArea area(std::move(*memory));
    if (!process_alive(word(area.bytes(), pid_offset).load()))
        return Error{ESRCH, "the engine of " + name + " is not running"};
    return area;
}

void StatusArea::set(StatusField field, std::int32_t value)
{
    word(bytes(), static_cast<std::size_t>(field)).store(value);
}

void StatusArea::add(StatusField field, std::int32_t amount)
{
    word(bytes(), static_cast<std::size_t>(field)).fetch_add(amount);
}

std::int32_t StatusArea::get(StatusField field) const
{
    return word(bytes(), static_cast<std::size_t>(field)).load();
}

void StatusArea::copy_record(void* out36) const
{
    auto* out = static_cast<unsigned char*>(out36);
    for (std::size_t offset = 0; offset < status_record_size; offset += 4) {
        std::int32_t value = word(bytes(), offset).load(std::memory_order_relaxed);
        std::memcpy(out + offset, &value, 4);
    }
}

void StatusArea::zero_record()
{
    for (std::size_t offset = 0; offset < status_record_size; offset += 4)
        word(bytes(), offset).store(0);
}

int StatusArea::request_kill(std::string_view session_id)
{
    auto count = word(bytes(), kill_count_offset);
    auto claim = word(bytes(), claim_offset);
    // The claim keeps two callers (in any processes) from writing the id at
    // the same time; a caller that loses simply finds a kill pending.
    std::int32_t expected = 0;
    if (!claim.compare_exchange_strong(expected, 1)) {
        std::int32_t pending = count.load();
        return pending > 0 ? pending : 1;
    }
    std::int32_t pending = count.load();
    if (pending > 0) {
        claim.store(0);
        return pending;
    }
    char id[kill_id_size] = {};
    if (!session_id.empty())
        std::memcpy(id, session_id.data(), std::min(session_id.size(), kill_id_size - 1));
    for (std::size_t i = 0; i < kill_id_size; ++i)
        std::atomic_ref<unsigned char>(bytes()[kill_id_offset + i]).store(static_cast<unsigned char>(id[i]));
    std::int32_t now_pending = count.fetch_add(1) + 1;
    claim.store(0);
    return now_pending;
}

std::optional<std::string> StatusArea::pending_kill() const
{
    if (word(bytes(), kill_count_offset).load() <= 0)
        return std::nullopt;
    std::string id;
    for (std::size_t i = 0; i < kill_id_size - 1; ++i) {
        auto c = std::atomic_ref<unsigned char>(bytes()[kill_id_offset + i]).load();
        if (c == 0)
            break;
        id += static_cast<char>(c);
    }
    return id;
}

void StatusArea::kill_done()
{
    word(bytes(), kill_count_offset).fetch_sub(1);
}

}  // namespace corvane::lifecycle
