// The text fields of a message entry, kept small: an index holds many
// thousands of entries, each with seven names and header values.
//
// An IndexText is one pointer. Its characters live either in a block of its
// own (every text made from a string) or in a TextArena, where the index
// puts the texts it loads: one allocation for many thousands of texts
// instead of one each. Arena texts are never freed one by one; their arena
// lives as long as the index that loaded them. A copy always makes a block
// of its own, so a copied entry may outlive its index; a move hands the
// characters over as they are, so an entry is moved only between places
// its index owns.
//
// Use it as a read-only string: it converts to std::string_view, compares
// with strings, and c_str() is always NUL-terminated. std::string(text) or
// str() makes a string of it.
#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/memory_block.h"

namespace corvane::store {

class TextArena;

class IndexText {
public:
    IndexText() noexcept = default;
    // Implicit on purpose: a field is assigned from any string.
    IndexText(std::string_view text);                                          // NOLINT(google-explicit-constructor)
    IndexText(const std::string& text) : IndexText(std::string_view(text)) {}  // NOLINT(google-explicit-constructor)
    IndexText(const char* text) : IndexText(std::string_view(text)) {}         // NOLINT(google-explicit-constructor)
    IndexText(const IndexText& other) : IndexText(other.view()) {}
    IndexText(IndexText&& other) noexcept;
    ~IndexText() { release(); }

    IndexText& operator=(std::string_view text);
    IndexText& operator=(const std::string& text) { return *this = std::string_view(text); }
    IndexText& operator=(const char* text) { return *this = std::string_view(text); }
    IndexText& operator=(const IndexText& other);
    IndexText& operator=(IndexText&& other) noexcept;

    // A text whose characters the arena keeps.
    static IndexText in_arena(TextArena& arena, std::string_view text);
    // The same arena text again, sharing its characters (for a name that
    // many entries carry, such as a folder); other texts are copied.
    IndexText share() const;

    std::string_view view() const noexcept
    {
        return m_block ? std::string_view(m_block + header_size, size()) : std::string_view();
    }
    operator std::string_view() const noexcept { return view(); }  // NOLINT(google-explicit-constructor)
    explicit operator std::string() const { return std::string(view()); }
    std::string str() const { return std::string(view()); }
    const char* c_str() const noexcept { return m_block ? m_block + header_size : ""; }
    const char* data() const noexcept { return c_str(); }
    std::size_t size() const noexcept;
    std::size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return m_block == nullptr; }
    void clear() noexcept { release(); }

    char front() const noexcept { return view().front(); }
    char back() const noexcept { return view().back(); }
    char operator[](std::size_t i) const noexcept { return view()[i]; }
    const char* begin() const noexcept { return c_str(); }
    const char* end() const noexcept { return c_str() + size(); }
    std::string_view substr(std::size_t pos, std::size_t n = std::string_view::npos) const
    {
        return view().substr(pos, n);
    }
    std::size_t find(std::string_view what, std::size_t pos = 0) const noexcept { return view().find(what, pos); }
    std::size_t find(char c, std::size_t pos = 0) const noexcept { return view().find(c, pos); }
    std::size_t rfind(char c, std::size_t pos = std::string_view::npos) const noexcept { return view().rfind(c, pos); }

    friend bool operator==(const IndexText& a, const IndexText& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const IndexText& a, std::string_view b) noexcept { return a.view() == b; }
    // Exact matches for the other string types, which would otherwise
    // convert to either IndexText or std::string_view.
    friend bool operator==(const IndexText& a, const char* b) noexcept { return a.view() == b; }
    friend bool operator==(const IndexText& a, const std::string& b) noexcept { return a.view() == b; }
    friend std::strong_ordering operator<=>(const IndexText& a, const IndexText& b) noexcept
    {
        return a.view() <=> b.view();
    }
    friend std::strong_ordering operator<=>(const IndexText& a, std::string_view b) noexcept { return a.view() <=> b; }
    friend std::strong_ordering operator<=>(const IndexText& a, const char* b) noexcept
    {
        return a.view() <=> std::string_view(b);
    }
    friend std::strong_ordering operator<=>(const IndexText& a, const std::string& b) noexcept
    {
        return a.view() <=> std::string_view(b);
    }
    friend std::string operator+(const IndexText& a, std::string_view b) { return join(a.view(), b); }
    friend std::string operator+(std::string_view a, const IndexText& b) { return join(a, b.view()); }
    friend std::string operator+(const IndexText& a, const IndexText& b) { return join(a.view(), b.view()); }
    friend std::string operator+(const IndexText& a, const char* b) { return join(a.view(), b); }
    friend std::string operator+(const char* a, const IndexText& b) { return join(a, b.view()); }
    friend std::string operator+(const IndexText& a, const std::string& b) { return join(a.view(), b); }
    friend std::string operator+(const std::string& a, const IndexText& b) { return join(a, b.view()); }
    friend std::string operator+(const IndexText& a, char b) { return join(a.view(), std::string_view(&b, 1)); }
    friend std::ostream& operator<<(std::ostream& out, const IndexText& text);

private:
    friend class TextArena;
    // A block: the size (its top bit set when the block is the text's own),
    // the characters, a NUL.
    static constexpr std::size_t header_size = sizeof(std::uint32_t);
    static constexpr std::uint32_t own_bit = 0x80000000u;

    static std::string join(std::string_view a, std::string_view b);
    std::uint32_t header() const noexcept;
    bool owns() const noexcept { return m_block && (header() & own_bit) != 0; }
    void release() noexcept;

    char* m_block = nullptr;  // nullptr: empty
};

// Bump storage for the texts of a loaded index. Not copyable; moving it
// keeps every text valid (the characters stay where they are). Its memory
// comes in blocks whose pages are made at once (platform::MemoryBlock): a
// load fills them right away, and one call is far cheaper than a page fault
// per page.
class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;
    TextArena(TextArena&&) noexcept = default;
    TextArena& operator=(TextArena&&) noexcept = default;

    // The next block holds at least this much (a load knows the size of
    // its file, and so about what its texts take).
    void reserve(std::size_t bytes) noexcept { m_next_block = std::max(m_next_block, bytes); }
    // Gives back the unused pages of the last block; texts stored after
    // this go to a new block.
    void trim() noexcept;
    // Bytes held by the arena (for measurements).
    std::size_t capacity() const noexcept { return m_capacity; }
    void clear() noexcept;

private:
    friend class IndexText;
    char* allocate(std::size_t bytes);

    static constexpr std::size_t first_block = 16 * 1024;
    static constexpr std::size_t largest_block = 1024 * 1024;
    std::vector<platform::MemoryBlock> m_blocks;
    char* m_next = nullptr;
    std::size_t m_left = 0;
    std::size_t m_capacity = 0;
    std::size_t m_next_block = first_block;
};

}  // namespace corvane::store
