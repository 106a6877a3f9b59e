// A block of anonymous memory whose pages are all made when it is: for
// storage that will be filled right away, one call costs much less than
// the page fault each page would otherwise take.
#pragma once

#include <cstddef>

namespace corvane::platform {

class MemoryBlock {
public:
    MemoryBlock() noexcept = default;
    // bytes rounded up to whole pages; an empty block when the system has
    // no memory to give (data() is nullptr then).
    explicit MemoryBlock(std::size_t bytes) noexcept;
    MemoryBlock(const MemoryBlock&) = delete;
    MemoryBlock& operator=(const MemoryBlock&) = delete;
    MemoryBlock(MemoryBlock&& other) noexcept;
    MemoryBlock& operator=(MemoryBlock&& other) noexcept;
    ~MemoryBlock();

    // Gives the pages past the first bytes back to the system.
    void shrink(std::size_t bytes) noexcept;

    char* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }

private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace corvane::platform
