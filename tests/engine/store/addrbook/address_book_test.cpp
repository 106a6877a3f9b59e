#include "engine/store/addrbook/address_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

namespace corvane::addrbook {
namespace {

std::vector<std::string> names(const AddressBook& book)
{
    std::vector<std::string> out;
    for (const auto& e : book.entries())
        out.push_back(e.name + "|" + e.email);
    return out;
}

TEST(AddressBook, ReadsWhatTheFileHoldsAndSkipsTheRest)
{
    testing::TempDir dir;
    std::string long_name(5000, 'x');
    ASSERT_TRUE(platform::write_file_atomic(dir / "addrbook.TXT",
                                            "Jo Smith\tjo@x.org\tfriend\r\n"
                                            "only one\ttab\r\n"
                                            "Ann\tann@y.org\t\r\n"
                                            "\r\n"
                                            "Bob\tbob@z\tnote\textra\tmore\n" +
                                                long_name + "\tlong@x\t\r\n" + "Last\tlast@x\tno line end")
                    .ok());
    AddressBook book;
    book.open(dir.path());
    EXPECT_EQ(book.path(), dir / "addrbook.TXT");  // the spelling on disk
    ASSERT_EQ(book.size(), 4u);
    EXPECT_EQ(book.entries()[0], (AddressEntry{"Jo Smith", "jo@x.org", "friend"}));
    EXPECT_EQ(book.entries()[1], (AddressEntry{"Ann", "ann@y.org", ""}));
    EXPECT_EQ(book.entries()[2], (AddressEntry{"Bob", "bob@z", "note"}));
    // The over-long line is cut and its rest is not read as an entry.
    EXPECT_EQ(book.entries()[3], (AddressEntry{"Last", "last@x", "no line end"}));

    AddressBook missing;
    missing.open(dir / "nowhere");
    EXPECT_EQ(missing.size(), 0u);
}

TEST(AddressBook, SortKeysAndTheirTieBreaks)
{
    struct Case {
        const char* key;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"Name", {"abe|a@a", "ABE|b@a", "Zed|a@b", "zed|c@c"}},
        {"name", {"abe|a@a", "ABE|b@a", "Zed|a@b", "zed|c@c"}},
        {"RevName", {"Zed|a@b", "zed|c@c", "abe|a@a", "ABE|b@a"}},  // ties stay ascending
        {"EMail", {"abe|a@a", "Zed|a@b", "ABE|b@a", "zed|c@c"}},
        {"RevEMail", {"zed|c@c", "ABE|b@a", "Zed|a@b", "abe|a@a"}},
        {"Comment", {"Zed|a@b", "ABE|b@a", "abe|a@a", "zed|c@c"}},  // m and M tie, then ABE and abe
        {"RevComment", {"zed|c@c", "ABE|b@a", "abe|a@a", "Zed|a@b"}},
        {"Priority", {"abe|a@a", "ABE|b@a", "Zed|a@b", "zed|c@c"}},
        {"", {"ABE|b@a", "zed|c@c", "Zed|a@b", "abe|a@a"}},  // unchanged
    };
    for (const Case& c : cases) {
        AddressBook book;
        book.add("ABE", "b@a", "m");
        book.add("zed", "c@c", "z");
        book.add("Zed", "a@b", "a");
        book.add("abe", "a@a", "M");
        book.sort(c.key);
        EXPECT_EQ(names(book), c.want) << "key " << c.key;
    }
}

TEST(AddressBook, SavesInTheLastOrderAndNeverSplitsAField)
{
    testing::TempDir dir;
    AddressBook book;
    book.open(dir.path());
    book.add("B\tname", "b@x\r\nBcc: evil@x", "multi\nline");
    book.add("a", "a@x", "");
    book.add(std::string(300, 'n'), "c@x", "");
    EXPECT_TRUE(book.contains("B NAME", "B@X  BCC: EVIL@X"));
    book.sort("Name");
    ASSERT_TRUE(book.save().ok());

    auto text = platform::read_file(dir / "AddrBook.txt");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text->substr(0, 14), "a\ta@x\t\r\nB name");

    AddressBook again;
    again.open(dir.path());
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again.entries()[1], (AddressEntry{"B name", "b@x  Bcc: evil@x", "multi line"}));
    EXPECT_EQ(again.entries()[2].name.size(), max_name);
    EXPECT_EQ(again.entries(), book.entries());
}

TEST(AddressBook, LargeDamagedFileStaysBounded)
{
    testing::TempDir dir;
    std::string data;
    for (int i = 0; data.size() < (1u << 20); ++i) {
        switch (i % 4) {
        case 0:
            data += "name" + std::to_string(i) + "\tmail" + std::to_string(i) + "@x\tc\r\n";
            break;
        case 1:
            data += std::string(700, '\t') + "\n";
            break;
        case 2:
            data += std::string(3000, 'q') + "\n";
            break;
        default:
            data += std::string("\x00\x01\xff\t\t\r\r\r\n", 9);
            break;
        }
    }
    ASSERT_TRUE(platform::write_file_atomic(dir / "AddrBook.txt", data).ok());
    AddressBook book;
    book.open(dir.path());
    EXPECT_GT(book.size(), 500u);
    for (const auto& e : book.entries()) {
        for (char c : e.name + e.email + e.comment)
            ASSERT_FALSE(static_cast<unsigned char>(c) < 0x20) << "control byte kept";
    }
    book.reload();
    EXPECT_GT(book.size(), 500u);
}

}  // namespace
}  // namespace corvane::addrbook
