// Hostile and broken messages: each is stored whole or refused, with
// bounded lists and values, and never a file outside the user directory.
#include <algorithm>

#include "common/text/strings.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/message_index/part_list_file.h"
#include "tests/engine/store/receiver/receiver_fixture.h"

namespace corvane::receiver {
namespace {

namespace flags = store::flags;

class BadInputTest : public ReceiverTest {
protected:
    store::MessageEntry* store_text(const std::string& message)
    {
        MessageReceiver receiver(index, "Inbox", options);
        receiver.begin(0, StoreMode::whole);
        // In uneven pieces, as a network would hand them over.
        for (std::size_t pos = 0; pos < message.size(); pos += 65521)
            receiver.write(std::string_view(message).substr(pos, 65521));
        store::MessageEntry* entry = receiver.finish();
        EXPECT_NE(entry, nullptr);
        return entry;
    }
};

TEST_F(BadInputTest, ManyAndDeeplyNestedParts)
{
    // 100,000 parts: the message is kept whole, its list stops at the bound.
    std::string flat = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 100000; ++i)
        flat += "--b\r\nContent-Type: text/plain\r\n\r\npart\r\n";
    flat += "--b--\r\n";
    store::MessageEntry* entry = store_text(flat);
    EXPECT_EQ(file_of(*entry), flat);
    auto parts = store::read_part_list(index.part_list_path(*entry));
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->size(), store::max_parts);
    EXPECT_EQ(parts->back().file_name, "ATT10000.txt");
    EXPECT_EQ(decode(*entry, parts->back()), "part\r\n");

    // 10,000 levels of nesting: two levels are followed, the rest is the
    // body of a second-level part. (Boundaries of equal length: a boundary
    // that begins another one would match its lines too.)
    std::string nested = "Content-Type: multipart/mixed; boundary=n00000\r\n\r\n";
    for (int i = 0; i < 10000; ++i)
        nested += text::format("--n%05d\r\nContent-Type: multipart/mixed; boundary=n%05d\r\n\r\n", i, i + 1);
    nested += "--n10000\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
    for (int i = 10000; i >= 0; --i)
        nested += text::format("--n%05d--\r\n", i);
    store::MessageEntry* deep = store_text(nested);
    EXPECT_EQ(file_of(*deep), nested);
    const store::PartList& deep_parts = part_list(index, *deep, options);
    ASSERT_EQ(deep_parts.size(), 1u);
    EXPECT_EQ(std::pair(deep_parts[0].part_number, deep_parts[0].sub_part), std::pair(1, 1));
    EXPECT_EQ(deep_parts[0].content_type, "multipart/mixed");
}

TEST_F(BadInputTest, HugeLinesAndHeaders)
{
    // A 10 MB header line, 1 MB body lines, a 200-character boundary.
    std::string boundary(200, 'q');
    std::string message = "Subject: " + std::string(10u << 20, 'S') + "\r\n";
    message += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    message += "--" + boundary + "\r\nContent-Type: text/plain\r\n\r\n";
    message += std::string(1u << 20, 'L') + "\r\n" + std::string(1u << 20, 'M') + "\r\n";
    message += "--" + boundary + "--\r\n";
    store::MessageEntry* entry = store_text(message);
    EXPECT_EQ(entry->subject.size(), store::max_index_subject);
    EXPECT_EQ(file_of(*entry), message);
    const store::PartList& parts = part_list(index, *entry, options);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].line_count, 2);
    EXPECT_EQ(parts[0].decoded_size, 2 * ((1 << 20) + 2));

    // The record written for it stays one line of bounded length.
    std::string record;
    store::append_record(record, *entry);
    EXPECT_LT(record.size(), 4095u);
}

TEST_F(BadInputTest, NoHeaderNulBytesAndControlCharacters)
{
    // Only body text, no header, no empty line.
    std::string headless = "just some text\r\nwithout any header\r\n";
    store::MessageEntry* entry = store_text(headless);
    EXPECT_TRUE(entry->has(flags::downloaded));
    EXPECT_EQ(entry->subject, "");
    EXPECT_EQ(file_of(*entry), headless);

    // An empty header.
    store::MessageEntry* empty_header = store_text("\r\nbody\r\n");
    EXPECT_EQ(file_of(*empty_header), "\r\nbody\r\n");
    EXPECT_FALSE(empty_header->has(flags::multipart));

    // NUL bytes and words that decode to bytes that would split a record.
    using namespace std::string_literals;
    std::string nul = "Subject: a\0b =?utf-8?B?AQ0KAQ==?= c\r\nFrom: x\x01y\r\n\r\nbo\0dy\r\n"s;
    store::MessageEntry* odd = store_text(nul);
    EXPECT_FALSE(text::has_controls(odd->subject)) << odd->subject;
    EXPECT_FALSE(text::has_controls(odd->from));
    EXPECT_EQ(file_of(*odd), nul);
    std::string record;
    store::append_record(record, *odd);
    EXPECT_EQ(record.find('\n'), record.size() - 1);
    EXPECT_EQ(std::count(record.begin(), record.end(), '\x01'), 11);
}

TEST_F(BadInputTest, GarbageEncodingsAndBoundaries)
{
    store::MessageEntry* entry = store_text(crlf({
        "Content-Type: multipart/mixed; boundary=\"\"",
        "",
        "--",
        "body",
    }));
    EXPECT_FALSE(entry->has(flags::multipart));  // an empty boundary is none

    store::MessageEntry* garbage = store_text(crlf({
        "Content-Type: multipart/mixed; boundary=g",
        "",
        "--g",
        "Content-Type: application/octet-stream; name=\"../../../etc/passwd\"",
        "Content-Transfer-Encoding: base64",
        "",
        "!!!!@@@@####$$$$%%%%^^^^",
        "====AAAA====",
        "\xff\xfe\x00\x01",
        "--g",
        "Content-Type: text/plain; name=\"" + std::string(300, 'n') + "\"",
        "Content-Transfer-Encoding: quoted-printable",
        "",
        "=ZZ=4=",
        "--g--",
    }));
    const store::PartList& parts = part_list(index, *garbage, options);
    ASSERT_EQ(parts.size(), 2u);
    // Names are data for a download dialogue, never a path here.
    EXPECT_EQ(parts[0].file_name, "../../../etc/passwd");
    EXPECT_EQ(parts[1].file_name.size(), store::part_field_max);
    (void)decode(*garbage, parts[0]);
    (void)decode(*garbage, parts[1]);
    EXPECT_FALSE(platform::exists(dir.path() + "/../etc"));
}

TEST_F(BadInputTest, UnsafeFolderStoresNothingOutside)
{
    testing::TempDir outside;
    std::string escape = "../" + platform::file_name_of(outside.path());
    store::MessageEntry* entry = store_text("Subject: x\r\n\r\nbody\r\n");
    (void)entry;
    MessageReceiver receiver(index, escape, options);
    receiver.begin(0, StoreMode::whole);
    receiver.write("Subject: escape\r\n\r\nbody\r\n");
    store::MessageEntry* escaped = receiver.finish();
    ASSERT_NE(escaped, nullptr);
    EXPECT_FALSE(escaped->has(flags::downloaded));
    auto listing = platform::list_directory(outside.path());
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->empty());
}

}  // namespace
}  // namespace corvane::receiver
