#include "engine/features/compose/reply_addresses.h"

#include <vector>

#include "common/text/strings.h"
#include "engine/store/addrbook/address_book.h"
#include "engine/store/addresses/address_helpers.h"

namespace corvane::compose {
namespace {

struct Candidate {
    std::string name;
    std::string address;
};

std::string entry_text(const Candidate& c)
{
    if (c.name.empty())
        return c.address;
    std::string quoted = "\"";
    for (char ch : c.name) {
        if (ch == '\\')
            quoted += '\\';
        quoted += ch;
    }
    return quoted + "\" <" + c.address + ">";
}

}  // namespace

std::string reply_recipients(const OriginalSenders& original, ReplyKind kind, std::string_view own_from,
                             addrbook::AddressBook* book)
{
    const std::string own = text::bounded(addresses::bare_address(own_from), max_reply_field);
    std::string list = original.reply_to + ";" + original.from;
    if (kind == ReplyKind::all)
        list += ";" + original.to + ";" + original.cc;

    std::vector<Candidate> candidates;
    for (std::string_view piece : addresses::split_list(list)) {
        Candidate c{text::bounded(addresses::display_name(piece), max_reply_field),
                    text::bounded(addresses::bare_address(piece), max_reply_field)};
        if (c.name == c.address)
            c.name.clear();
        if (c.address.empty())
            continue;
        bool seen = false;
        for (Candidate& known : candidates) {
            if (text::iequals(known.address, c.address)) {
                if (known.name.empty())
                    known.name = c.name;
                seen = true;
                break;
            }
        }
        if (!seen)
            candidates.push_back(std::move(c));
    }

    std::string to;
    bool book_changed = false;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        if (book && !book->contains(c.name, c.address)) {
            book->add(c.name, c.address, "");
            book_changed = true;
        }
        if (i == 0) {
            to = entry_text(c);
            if (kind == ReplyKind::sender)
                break;
        } else if (!text::iequals(c.address, own)) {
            to += ", " + entry_text(c);
        }
    }
    if (book_changed)
        (void)book->save();
    return to;
}

}  // namespace corvane::compose
