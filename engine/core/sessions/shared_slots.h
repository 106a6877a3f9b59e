// The shared session slots: how the live sessions are published in shared
// memory for the administration program.
//
// The segment holds one 160-byte slot per possible session; slot i describes
// the i-th session of the table, and only as many slots are valid as the
// status record's session count says (the rest keep stale contents). The
// maintenance thread rewrites the slots every round; readers take no lock
// and may see a slot while it is being rewritten, so read_slot() never
// trusts a terminator to be there.
//
// Layout of a slot (little-endian):
//   0   8  session id, 7 letters and NUL
//   8   4  client IPv4 address, network byte order
//   12  4  last access, seconds since 1970, signed
//   16  16 user name, NUL-terminated (at most 15 bytes)
//   32  64 full name of the default mailbox, NUL-terminated (at most 63)
//   96  64 e-mail of the default mailbox, NUL-terminated (at most 63)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::sessions {

constexpr std::size_t slot_size = 160;

namespace slot_field {
constexpr std::size_t id = 0, id_size = 8;
constexpr std::size_t address = 8;
constexpr std::size_t last_access = 12;
constexpr std::size_t user_name = 16, user_name_size = 16;
constexpr std::size_t full_name = 32, full_name_size = 64;
constexpr std::size_t email = 96, email_size = 64;
}  // namespace slot_field

struct SlotContents {
    std::string id;
    std::uint32_t address = 0;  // network byte order
    std::int32_t last_access = 0;
    std::string user_name;
    std::string full_name;
    std::string email;
};

// Writes a whole slot: every text cut to its field and NUL-padded.
void write_slot(unsigned char* slot, const SlotContents& contents);
SlotContents read_slot(const unsigned char* slot);

}  // namespace corvane::sessions
