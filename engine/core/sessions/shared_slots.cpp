#include "engine/core/sessions/shared_slots.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "common/text/strings.h"

namespace corvane::sessions {

static_assert(std::endian::native == std::endian::little, "the slots are little-endian");

namespace {

void put_text(unsigned char* field, std::size_t size, std::string_view value)
{
    std::string_view cut = text::cut(value, size - 1);
    std::memset(field, 0, size);
    std::memcpy(field, cut.data(), cut.size());
}

std::string get_text(const unsigned char* field, std::size_t size)
{
    const auto* begin = reinterpret_cast<const char*>(field);
    std::size_t length = 0;
    while (length < size && begin[length] != '\0')
        ++length;
    return std::string(begin, length);
}

}  // namespace

void write_slot(unsigned char* slot, const SlotContents& contents)
{
    using namespace slot_field;
    put_text(slot + id, id_size, contents.id);
    std::memcpy(slot + address, &contents.address, 4);
    std::memcpy(slot + last_access, &contents.last_access, 4);
    put_text(slot + user_name, user_name_size, contents.user_name);
    put_text(slot + full_name, full_name_size, contents.full_name);
    put_text(slot + email, email_size, contents.email);
}

SlotContents read_slot(const unsigned char* slot)
{
    using namespace slot_field;
    SlotContents contents;
    contents.id = get_text(slot + id, id_size);
    std::memcpy(&contents.address, slot + address, 4);
    std::memcpy(&contents.last_access, slot + last_access, 4);
    contents.user_name = get_text(slot + user_name, user_name_size);
    contents.full_name = get_text(slot + full_name, full_name_size);
    contents.email = get_text(slot + email, email_size);
    return contents;
}

}  // namespace corvane::sessions
