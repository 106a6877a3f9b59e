#include "engine/store/ordering/message_order.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/text/strings.h"
#include "engine/store/addresses/address_helpers.h"

namespace corvane::ordering {

using store::MessageEntry;

SortKey parse_sort_key(std::string_view name)
{
    SortKey key{SortField::date, false};
    if (text::istarts_with(name, "Rev")) {
        key.reverse = true;
        name.remove_prefix(3);
    }
    struct Name {
        std::string_view text;
        SortField field;
    };
    static constexpr Name names[] = {{"Date", SortField::date},       {"Size", SortField::size},
                                     {"From", SortField::from},       {"To", SortField::to},
                                     {"Subject", SortField::subject}, {"Mailbox", SortField::mailbox}};
    for (const Name& n : names) {
        if (text::iequals(name, n.text)) {
            key.field = n.field;
            return key;
        }
    }
    return SortKey{SortField::date, true};
}

SortKey sender_as_recipient(SortKey key)
{
    if (key.field == SortField::from)
        key.field = SortField::to;
    return key;
}

AddressMode address_mode(long show_by_address)
{
    if (show_by_address == 0)
        return AddressMode::display_name;
    if (show_by_address == 1)
        return AddressMode::address;
    return AddressMode::whole;
}

std::string_view without_reply_prefix(std::string_view subject)
{
    std::size_t skip = 0;
    if (subject.size() >= 3 && subject[2] == ':' &&
        (text::istarts_with(subject, "Re") || text::istarts_with(subject, "Fw"))) {
        skip = 3;
    } else if (subject.size() >= 4 && subject[3] == ':' && text::istarts_with(subject, "Fwd")) {
        skip = 4;
    }
    if (skip == 0)
        return subject;
    subject.remove_prefix(skip);
    if (!subject.empty() && subject.front() == ' ')
        subject.remove_prefix(1);
    return subject;
}

std::string reduce_address(std::string_view value, AddressMode mode)
{
    switch (mode) {
    case AddressMode::display_name:
        return addresses::display_name(value);
    case AddressMode::address:
        return addresses::bare_address(value);
    case AddressMode::whole:
        break;
    }
    return std::string(value);
}

namespace {

// Later date first; at equal dates the higher number.
bool newer(const MessageEntry& a, const MessageEntry& b)
{
    if (a.date != b.date)
        return a.date > b.date;
    return a.number > b.number;
}

struct Keyed {
    std::string key;
    std::unique_ptr<MessageEntry> entry;
};

template <typename MakeKey>
void sort_by_text(store::MessageIndex::Entries& entries, bool reverse, MakeKey make_key)
{
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (auto& entry : entries) {
        std::string key = make_key(*entry);
        keyed.push_back(Keyed{std::move(key), std::move(entry)});
    }
    auto less = [reverse](const Keyed& a, const Keyed& b) {
        int c = text::icompare(a.key, b.key);
        if (c != 0)
            return reverse ? c > 0 : c < 0;
        return newer(*a.entry, *b.entry);
    };
    // The index usually is still in the order of the last list page.
    if (!std::is_sorted(keyed.begin(), keyed.end(), less))
        std::sort(keyed.begin(), keyed.end(), less);
    for (std::size_t i = 0; i < keyed.size(); ++i)
        entries[i] = std::move(keyed[i].entry);
}

template <typename Less>
void sort_direct(store::MessageIndex::Entries& entries, Less less)
{
    auto by_entry = [&less](const std::unique_ptr<MessageEntry>& a, const std::unique_ptr<MessageEntry>& b) {
        return less(*a, *b);
    };
    if (!std::is_sorted(entries.begin(), entries.end(), by_entry))
        std::sort(entries.begin(), entries.end(), by_entry);
}

}  // namespace

void sort_messages(store::MessageIndex::Entries& entries, SortKey key, AddressMode mode)
{
    switch (key.field) {
    case SortField::date:
        if (key.reverse) {
            sort_direct(entries, newer);
        } else {
            sort_direct(entries, [](const MessageEntry& a, const MessageEntry& b) {
                if (a.date != b.date)
                    return a.date < b.date;
                return a.number < b.number;
            });
        }
        return;
    case SortField::size:
        sort_direct(entries, [reverse = key.reverse](const MessageEntry& a, const MessageEntry& b) {
            if (a.size != b.size)
                return reverse ? a.size > b.size : a.size < b.size;
            return newer(a, b);
        });
        return;
    case SortField::from:
        sort_by_text(entries, key.reverse, [mode](const MessageEntry& e) { return reduce_address(e.from, mode); });
        return;
    case SortField::to:
        sort_by_text(entries, key.reverse, [mode](const MessageEntry& e) { return reduce_address(e.to, mode); });
        return;
    case SortField::subject:
        if (key.reverse) {
            sort_by_text(entries, true, [](const MessageEntry& e) { return e.subject.str(); });
        } else {
            sort_by_text(entries, false,
                         [](const MessageEntry& e) { return std::string(without_reply_prefix(e.subject)); });
        }
        return;
    case SortField::mailbox:
        sort_by_text(entries, key.reverse, [](const MessageEntry& e) { return e.mailbox.str(); });
        return;
    }
}

}  // namespace corvane::ordering
