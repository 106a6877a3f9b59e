#include "engine/store/message_index/index_text.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <utility>

namespace corvane::store {

namespace {

// Longer texts are cut: no field of an index comes near this.
constexpr std::size_t max_text = 0x7fffffffu;

void write_block(char* block, std::string_view text, std::uint32_t header)
{
    std::memcpy(block, &header, sizeof header);
    std::memcpy(block + sizeof header, text.data(), text.size());
    block[sizeof header + text.size()] = '\0';
}

}  // namespace

IndexText::IndexText(std::string_view text)
{
    if (text.empty())
        return;
    if (text.size() > max_text)
        text = text.substr(0, max_text);
    // malloc rather than new[]: release() frees blocks of either origin by
    // their header alone.
    auto* block = static_cast<char*>(std::malloc(header_size + text.size() + 1));
    if (!block)
        throw std::bad_alloc();
    write_block(block, text, static_cast<std::uint32_t>(text.size()) | own_bit);
    m_block = block;
}

IndexText::IndexText(IndexText&& other) noexcept : m_block(std::exchange(other.m_block, nullptr)) {}

IndexText& IndexText::operator=(std::string_view text)
{
    // The new text may be a part of the old one: made first, freed after.
    IndexText made(text);
    std::swap(m_block, made.m_block);
    return *this;
}

IndexText& IndexText::operator=(const IndexText& other)
{
    if (this != &other)
        *this = other.view();
    return *this;
}

IndexText& IndexText::operator=(IndexText&& other) noexcept
{
    if (this != &other) {
        release();
        m_block = std::exchange(other.m_block, nullptr);
    }
    return *this;
}

IndexText IndexText::in_arena(TextArena& arena, std::string_view text)
{
    IndexText made;
    if (text.empty())
        return made;
    if (text.size() > max_text)
        text = text.substr(0, max_text);
    char* block = arena.allocate(header_size + text.size() + 1);
    write_block(block, text, static_cast<std::uint32_t>(text.size()));
    made.m_block = block;
    return made;
}

IndexText IndexText::share() const
{
    if (!m_block || owns())
        return IndexText(view());
    IndexText same;
    same.m_block = m_block;
    return same;
}

std::uint32_t IndexText::header() const noexcept
{
    std::uint32_t value = 0;
    std::memcpy(&value, m_block, sizeof value);
    return value;
}

std::size_t IndexText::size() const noexcept
{
    return m_block ? (header() & ~own_bit) : 0;
}

void IndexText::release() noexcept
{
    if (owns())
        std::free(m_block);
    m_block = nullptr;
}

std::string IndexText::join(std::string_view a, std::string_view b)
{
    std::string joined;
    joined.reserve(a.size() + b.size());
    joined.append(a);
    joined.append(b);
    return joined;
}

std::ostream& operator<<(std::ostream& out, const IndexText& text)
{
    return out << text.view();
}

char* TextArena::allocate(std::size_t bytes)
{
    if (bytes > m_left) {
        // Blocks grow as the texts do, up to a size whose unused rest is
        // small against what the arena already holds.
        platform::MemoryBlock block(std::max(m_next_block, bytes));
        if (!block.data())
            throw std::bad_alloc();
        m_next_block = std::min(block.size() * 2, largest_block);
        m_next = block.data();
        m_left = block.size();
        m_capacity += block.size();
        m_blocks.push_back(std::move(block));
    }
    char* at = m_next;
    m_next += bytes;
    m_left -= bytes;
    return at;
}

void TextArena::trim() noexcept
{
    if (m_blocks.empty() || m_left == 0)
        return;
    platform::MemoryBlock& last = m_blocks.back();
    const std::size_t used = static_cast<std::size_t>(m_next - last.data());
    const std::size_t before = last.size();
    last.shrink(used);
    m_capacity -= before - last.size();
    m_next = nullptr;
    m_left = 0;
}

void TextArena::clear() noexcept
{
    m_blocks.clear();
    m_next = nullptr;
    m_left = 0;
    m_capacity = 0;
    m_next_block = first_block;
}

}  // namespace corvane::store
