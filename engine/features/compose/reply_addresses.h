// Who a reply goes to: the reply-address rule.
//
// The candidates are Reply-To and From of the original (for a reply to
// all also To and CC), split into addresses; an address that comes twice
// (without regard to case) is taken once, keeping the first name found. A
// reply goes to the first candidate; a reply to all to every candidate
// except the user's own address after the first. With the user's
// AddRepliesToAddrBook on, each candidate not yet in the personal address
// book by name and address is added (and the book saved).
#pragma once

#include <string>
#include <string_view>

namespace corvane::addrbook {
class AddressBook;
}

namespace corvane::compose {

// Names and addresses are kept to this many bytes.
constexpr std::size_t max_reply_field = 127;

struct OriginalSenders {
    std::string reply_to, from, to, cc;
};

enum class ReplyKind { sender, all };

// The To field of the reply. own_from is the compose's From (the user's
// identity); book, when given, receives the candidates.
std::string reply_recipients(const OriginalSenders& original, ReplyKind kind, std::string_view own_from,
                             addrbook::AddressBook* book);

}  // namespace corvane::compose
