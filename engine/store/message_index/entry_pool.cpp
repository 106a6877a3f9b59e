// Where message entries live: slots of 80 bytes cut from blocks of pages
// made at once. A loaded index makes its entries one after another, many
// thousands of them; from the heap each would take a 96-byte chunk and,
// as the heap grows, a page fault every 50 entries, which on a virtual
// machine costs more than the rest of the load. Freed slots are kept for
// the next entries. Builds with AddressSanitizer take entries from the heap,
// where a use after free is seen.
#include <mutex>
#include <new>
#include <vector>

#include "common/platform/memory_block.h"
#include "engine/store/message_index/message_entry.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_ENTRY_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_ENTRY_HEAP 1
#endif

namespace corvane::store {

#ifndef CORVANE_ENTRY_HEAP
namespace {

class EntryPool {
public:
    void* take()
    {
        std::lock_guard lock(m_mutex);
        if (m_free) {
            Slot* slot = m_free;
            m_free = slot->next;
            return slot;
        }
        if (m_left == 0) {
            platform::MemoryBlock block(block_size);
            if (!block.data())
                throw std::bad_alloc();
            m_next = block.data();
            m_left = block.size() / slot_size;
            m_blocks.push_back(std::move(block));
        }
        void* at = m_next;
        m_next += slot_size;
        --m_left;
        return at;
    }

    void give(void* at) noexcept
    {
        std::lock_guard lock(m_mutex);
        auto* slot = static_cast<Slot*>(at);
        slot->next = m_free;
        m_free = slot;
    }

private:
    struct Slot {
        Slot* next;
    };
    static constexpr std::size_t slot_size = sizeof(MessageEntry);
    static_assert(slot_size % alignof(MessageEntry) == 0 && slot_size >= sizeof(Slot));
    static constexpr std::size_t block_size = 64 * 1024;

    std::mutex m_mutex;
    std::vector<platform::MemoryBlock> m_blocks;
    Slot* m_free = nullptr;
    char* m_next = nullptr;
    std::size_t m_left = 0;
};

// Never destroyed: an entry may be freed by a static destructor at exit.
EntryPool& pool()
{
    static auto* const the_pool = new EntryPool;
    return *the_pool;
}

}  // namespace
#endif

void* MessageEntry::operator new(std::size_t size)
{
#ifdef CORVANE_ENTRY_HEAP
    return ::operator new(size);
#else
    if (size != sizeof(MessageEntry))
        return ::operator new(size);
    return pool().take();
#endif
}

void MessageEntry::operator delete(void* at, std::size_t size) noexcept
{
    if (!at)
        return;
#ifdef CORVANE_ENTRY_HEAP
    (void)size;
    ::operator delete(at);
#else
    if (size != sizeof(MessageEntry)) {
        ::operator delete(at);
        return;
    }
    pool().give(at);
#endif
}

}  // namespace corvane::store
