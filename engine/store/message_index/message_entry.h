// One message of a user's store as the message index describes it, and the
// part records of its body.
//
// An entry is plain data owned by its MessageIndex; whoever changes a field
// directly marks the index dirty (MessageIndex::mark_dirty), or uses the
// index operations, which do it themselves. Part records describe where each
// MIME part of the stored file lies; they never hold body bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/store/message_index/index_text.h"

namespace corvane::store {

// Message flags, stored as one number in Messages.idx.
namespace flags {
constexpr std::uint32_t new_message = 0x01;  // arrived since the last session ended
constexpr std::uint32_t urgent = 0x02;       // X-Priority 1 or Priority urgent
constexpr std::uint32_t read = 0x04;
constexpr std::uint32_t replied = 0x08;
constexpr std::uint32_t forwarded = 0x10;
constexpr std::uint32_t multipart = 0x20;  // has a part list
constexpr std::uint32_t draft = 0x40;
constexpr std::uint32_t downloaded = 0x80;     // the whole message is in its .msg file
constexpr std::uint32_t copy_pending = 0x100;  // a copy waits for the files to arrive
constexpr std::uint32_t confirm_requested = 0x200;
}  // namespace flags

// Message numbers run from 1 to this and then wrap.
constexpr std::uint32_t max_message_number = 999999;

// One MIME part of a stored message (a line of its .att file).
struct PartRecord {
    // Counts the outer-level boundaries: 1 for the first part of a multipart
    // body, 0 for the single part of a message without parts.
    std::int32_t part_number = 0;
    // 0 on the outer level; 1, 2, ... inside a nested multipart.
    std::int32_t sub_part = 0;
    std::string file_name;          // at most 79 bytes
    std::string content_type;       // without parameters, at most 79 bytes
    std::string transfer_encoding;  // at most 79 bytes
    std::string content_id;         // without blanks and angle brackets
    // Estimated size of the decoded content. 64 bits: the base64 estimate
    // multiplies before it divides and must not wrap for large attachments.
    std::int64_t decoded_size = 0;
    std::int64_t body_offset = 0;  // byte offset of the first body line in the .msg file
    std::int64_t line_count = 0;   // lines of the body

    bool operator==(const PartRecord&) const = default;
};
using PartList = std::vector<PartRecord>;

// The cached part list of an entry: loaded on first use, never stored in
// the index. Held through a pointer rather than in place, since an index
// keeps many thousands of entries and most never load theirs.
class PartCache {
public:
    PartCache() = default;
    PartCache(const PartCache& other) : m_parts(other.m_parts ? std::make_unique<PartList>(*other.m_parts) : nullptr) {}
    PartCache& operator=(const PartCache& other)
    {
        if (this != &other)
            m_parts = other.m_parts ? std::make_unique<PartList>(*other.m_parts) : nullptr;
        return *this;
    }
    PartCache(PartCache&&) noexcept = default;
    PartCache& operator=(PartCache&&) noexcept = default;
    PartCache& operator=(PartList parts)
    {
        m_parts = std::make_unique<PartList>(std::move(parts));
        return *this;
    }

    bool has_value() const { return m_parts != nullptr; }
    explicit operator bool() const { return has_value(); }
    PartList& operator*() { return *m_parts; }
    const PartList& operator*() const { return *m_parts; }
    PartList* operator->() { return m_parts.get(); }
    const PartList* operator->() const { return m_parts.get(); }
    void reset() { m_parts.reset(); }

private:
    std::unique_ptr<PartList> m_parts;
};

// The numbers come first and together: no padding between them. Each text
// is one pointer (index_text.h), which keeps an entry at 80 bytes.
struct MessageEntry {
    std::uint32_t number = 0;  // 1..999999, the digits of the file name
    std::uint32_t date = 0;    // seconds since 1970 UTC, 0 when unknown
    std::uint32_t size = 0;    // as the POP3 server reported it, or the stored size
    std::uint32_t flags = 0;
    IndexText server_id;  // POP3 unique-id, empty for local messages
    IndexText mailbox;    // `Mailbox` name of the mailbox record it came from
    IndexText to;         // decoded header values (UTF-8)
    IndexText from;
    IndexText subject;
    IndexText folder;     // empty: deleted here, waiting for deletion on the server
    IndexText file_name;  // "CV%06d" of the number, without extension
    PartCache parts;

    bool has(std::uint32_t bits) const { return (flags & bits) != 0; }

    // Entries made with new come from a pool of whole pages rather than
    // from the heap (entry_pool.cpp): an index makes many thousands at once.
    static void* operator new(std::size_t size);
    static void operator delete(void* at, std::size_t size) noexcept;
};

}  // namespace corvane::store
