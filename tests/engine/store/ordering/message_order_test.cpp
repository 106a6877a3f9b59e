#include "engine/store/ordering/message_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace corvane::ordering {
namespace {

using store::MessageEntry;

struct Msg {
    std::uint32_t number;
    std::uint32_t date;
    std::uint32_t size;
    const char* from;
    const char* to;
    const char* subject;
    const char* mailbox;
};

store::MessageIndex::Entries make(const std::vector<Msg>& msgs)
{
    store::MessageIndex::Entries entries;
    for (const Msg& m : msgs) {
        auto e = std::make_unique<MessageEntry>();
        e->number = m.number;
        e->date = m.date;
        e->size = m.size;
        e->from = m.from;
        e->to = m.to;
        e->subject = m.subject;
        e->mailbox = m.mailbox;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<std::uint32_t> order(const store::MessageIndex::Entries& entries)
{
    std::vector<std::uint32_t> out;
    for (const auto& e : entries)
        out.push_back(e->number);
    return out;
}

// Messages chosen so that every key gives a different order and every tie
// rule is needed somewhere.
const std::vector<Msg> kMessages = {
    {1, 100, 500, "Zed <a@example.org>", "Kim <k@x>", "Re: apple", "work"},
    {2, 300, 500, "Abe <b@example.org>", "joe@x", "apple", "Home"},
    {3, 300, 900, "\"abe\" <c@example.org>", "<ann@x>", "Banana", "home"},
    {4, 0, 100, "", "Zoe <z@x>", "FWD: cherry", ""},
    {5, 200, 100, "Mia <a@example.org>", "Kim <k@x>", "fw:apple", "work"},
};

TEST(MessageOrder, EveryKeyWithItsTieBreak)
{
    struct Case {
        const char* key;
        AddressMode mode;
        std::vector<std::uint32_t> want;
    };
    const Case cases[] = {
        // Equal dates: ascending numbers forward, descending in reverse.
        {"Date", AddressMode::display_name, {4, 1, 5, 2, 3}},
        {"RevDate", AddressMode::display_name, {3, 2, 5, 1, 4}},
        {"revdate", AddressMode::display_name, {3, 2, 5, 1, 4}},
        // Equal sizes: newest first in both directions.
        {"Size", AddressMode::display_name, {5, 4, 2, 1, 3}},
        {"RevSize", AddressMode::display_name, {3, 2, 1, 5, 4}},
        // Display names compare without case; "Abe" and "abe" tie: newest.
        {"From", AddressMode::display_name, {4, 3, 2, 5, 1}},
        {"RevFrom", AddressMode::display_name, {1, 5, 3, 2, 4}},
        // By address Zed (a@) comes before Abe (b@).
        {"From", AddressMode::address, {4, 5, 1, 2, 3}},
        // Whole values: quoted "abe" starts with a quote and sorts first.
        {"From", AddressMode::whole, {4, 3, 2, 5, 1}},
        {"To", AddressMode::display_name, {3, 2, 5, 1, 4}},
        {"To", AddressMode::address, {3, 2, 5, 1, 4}},
        {"RevTo", AddressMode::display_name, {4, 5, 1, 2, 3}},
        // One prefix removed: "Re: apple", "apple" and "fw:apple" tie.
        {"Subject", AddressMode::display_name, {2, 5, 1, 3, 4}},
        // Reverse compares whole subjects.
        {"RevSubject", AddressMode::display_name, {1, 4, 5, 3, 2}},
        {"Mailbox", AddressMode::display_name, {4, 3, 2, 5, 1}},
        {"RevMailbox", AddressMode::display_name, {5, 1, 3, 2, 4}},
        // Unknown keys, with or without Rev, are newest first.
        {"Priority", AddressMode::display_name, {3, 2, 5, 1, 4}},
        {"RevPriority", AddressMode::display_name, {3, 2, 5, 1, 4}},
        {"", AddressMode::display_name, {3, 2, 5, 1, 4}},
        {"Rev", AddressMode::display_name, {3, 2, 5, 1, 4}},
    };
    for (const Case& c : cases) {
        // Every starting order gives the same result: the order is total.
        std::vector<Msg> msgs = kMessages;
        std::mt19937 rng(7);
        for (int round = 0; round < 4; ++round) {
            auto entries = make(msgs);
            sort_messages(entries, parse_sort_key(c.key), c.mode);
            EXPECT_EQ(order(entries), c.want) << "key " << c.key << " mode " << static_cast<int>(c.mode);
            std::shuffle(msgs.begin(), msgs.end(), rng);
        }
    }
}

TEST(MessageOrder, StoredValuesStayAndEntriesKeepTheirAddresses)
{
    auto entries = make(kMessages);
    const MessageEntry* third = entries[2].get();
    sort_messages(entries, parse_sort_key("From"), AddressMode::address);
    auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.get() == third; });
    ASSERT_NE(it, entries.end());
    EXPECT_EQ((*it)->from, "\"abe\" <c@example.org>");
}

TEST(MessageOrder, SubjectPrefixesAndKeySubstitution)
{
    struct Case {
        const char* subject;
        const char* want;
    };
    const Case cases[] = {{"RE: x", "x"},     {"fw:x", "x"},  {"Fwd: x", "x"}, {"Re: Re: x", "Re: x"},
                          {"Re:  x", " x"},   {"Fwd:", ""},   {"Re", "Re"},    {"Reply: x", "Reply: x"},
                          {"Aw: x", "Aw: x"}, {"fWd:x", "x"}, {"", ""}};
    for (const Case& c : cases)
        EXPECT_EQ(without_reply_prefix(c.subject), c.want) << c.subject;

    EXPECT_EQ(sender_as_recipient(parse_sort_key("From")), parse_sort_key("To"));
    EXPECT_EQ(sender_as_recipient(parse_sort_key("RevFrom")), parse_sort_key("RevTo"));
    EXPECT_EQ(sender_as_recipient(parse_sort_key("Size")), parse_sort_key("Size"));
    EXPECT_EQ(address_mode(0), AddressMode::display_name);
    EXPECT_EQ(address_mode(1), AddressMode::address);
    EXPECT_EQ(address_mode(2), AddressMode::whole);
    EXPECT_EQ(address_mode(-1), AddressMode::whole);
}

}  // namespace
}  // namespace corvane::ordering
