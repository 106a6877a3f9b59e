#include "common/platform/memory_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace corvane::platform {

MemoryBlock::MemoryBlock(std::size_t bytes) noexcept
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    if (bytes == 0 || bytes > (static_cast<std::size_t>(-1) - page))
        return;
    std::size_t size = (bytes + page - 1) / page * page;
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (data == MAP_FAILED)
        return;
    m_data = static_cast<char*>(data);
    m_size = size;
}

MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0))
{
}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept
{
    if (this != &other) {
        if (m_data)
            ::munmap(m_data, m_size);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void MemoryBlock::shrink(std::size_t bytes) noexcept
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::size_t keep = (bytes + page - 1) / page * page;
    if (!m_data || keep >= m_size)
        return;
    if (keep == 0) {
        ::munmap(m_data, m_size);
        m_data = nullptr;
        m_size = 0;
        return;
    }
    if (::munmap(m_data + keep, m_size - keep) == 0)
        m_size = keep;
}

MemoryBlock::~MemoryBlock()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

}  // namespace corvane::platform
