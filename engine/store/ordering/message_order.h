// The order of the message list.
//
// A sort key names a field of the message index ("Date", "Size", "From",
// "To", "Subject", "Mailbox"), optionally preceded by "Rev" for the reverse
// order; names compare without regard to case and an unknown name sorts
// newest first. Equal keys fall back to "newest first" (later date, then
// higher message number), so every order is total and the same index always
// gives the same list. Senders and recipients compare by their display
// name, their bare address or their whole value, as the user chooses;
// subjects sorted forward ignore one "Re:", "Fw:" or "Fwd:" prefix.
//
// The sort reorders the index's entries in place (all folders together) and
// never changes a stored value; entries keep their addresses. Keys that need
// reducing are computed once per entry, not once per comparison, so sorting
// a large folder costs one pass over its headers plus the sort itself.
#pragma once

#include <string_view>

#include "engine/store/message_index/message_index.h"

namespace corvane::ordering {

enum class SortField { date, size, from, to, subject, mailbox };

struct SortKey {
    SortField field = SortField::date;
    bool reverse = true;
    bool operator==(const SortKey&) const = default;
};

// "RevDate", "subject", ...; anything else is newest first (RevDate).
SortKey parse_sort_key(std::string_view name);

// In the drafts and sent-mail folders the interesting person is the
// recipient: From becomes To, RevFrom becomes RevTo.
SortKey sender_as_recipient(SortKey key);

// How From and To values are reduced before they are compared or shown
// (the user's ShowByAddress: 0, 1, anything else).
enum class AddressMode { display_name, address, whole };
AddressMode address_mode(long show_by_address);

// The subject without one reply or forward prefix ("Re:", "Fw:", "Fwd:" in
// any case, and one blank after it).
std::string_view without_reply_prefix(std::string_view subject);

// The value shown and compared for a From or To field under mode.
std::string reduce_address(std::string_view value, AddressMode mode);

void sort_messages(store::MessageIndex::Entries& entries, SortKey key, AddressMode mode);

}  // namespace corvane::ordering
