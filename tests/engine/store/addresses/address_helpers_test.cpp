#include "engine/store/addresses/address_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::addresses {
namespace {

TEST(AddressHelpers, NameAndAddressOfHeaderValues)
{
    struct Case {
        const char* value;
        const char* name;
        const char* address;
    };
    const Case cases[] = {
        {"Ann Lee <ann@example.org>", "Ann Lee", "ann@example.org"},
        {"\"Lee, Ann\" <ann@example.org>", "Lee, Ann", "ann@example.org"},
        {"<ann@example.org>", "ann@example.org", "ann@example.org"},
        {"  <ann@example.org>  trailing", "ann@example.org", "ann@example.org"},
        {"ann@example.org (Ann Lee)", "Ann Lee", "ann@example.org"},
        {"ann@example.org", "ann@example.org", "ann@example.org"},
        {"\tAnn\t<ann@example.org", "Ann", "ann@example.org"},
        // Comments vanish from the address, also in the middle; the name is
        // what lies between the first "(" and the last ")".
        {"ann(home)@example.org (Ann)", "home)@example.org (Ann", "ann@example.org"},
        // A "(" without ")" ends the comment removal there.
        {"ann@example.org (unfinished", "ann@example.org (unfinished", "ann@example.org (unfinished"},
        {"> >", "> >", ""},
        {"", "", ""},
        {"\"\"", "", "\"\""},
        {"<>", "", ""},
        // Quotes go before the angle brackets are looked at.
        {"\"a<b\" <c@d>", "a", "b\" <c@d"},
        // Control bytes count as blanks at either end.
        {"\x01 Bob \x02<bob@x>", "Bob", "bob@x"},
        {"Zed <a@x> (boss)", "Zed", "a@x"},
        {"\xC3\x89lise <e@x>", "\xC3\x89lise", "e@x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(display_name(c.value), c.name) << "value " << c.value;
        EXPECT_EQ(bare_address(c.value), c.address) << "value " << c.value;
    }
}

TEST(AddressHelpers, RecipientListsSplitOutsideQuotes)
{
    EXPECT_EQ(first_of_list("\"Lee, Ann\" <ann@x>, bob@y"), "\"Lee, Ann\" <ann@x>");
    EXPECT_EQ(first_of_list("  a@x ; b@y"), "a@x");
    EXPECT_EQ(first_of_list("\"a\\\"b, c\" <d@e>, f"), "\"a\\\"b, c\" <d@e>");
    EXPECT_EQ(first_of_list("\"never closed, a@x"), "\"never closed, a@x");
    EXPECT_EQ(first_of_list("trailing\\"), "trailing\\");
    EXPECT_EQ(first_of_list(""), "");

    std::vector<std::string_view> want = {"a@x", "\"B, C\" <b@y>", "c@z"};
    EXPECT_EQ(split_list(" a@x,, \"B, C\" <b@y>;c@z ; "), want);
    EXPECT_TRUE(split_list(" , ; ").empty());
}

}  // namespace
}  // namespace corvane::addresses
