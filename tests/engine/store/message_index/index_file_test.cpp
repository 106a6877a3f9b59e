#include "engine/store/message_index/index_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::store {
namespace {

std::string record(int separators)
{
    std::string line;
    for (int i = 0; i < separators; ++i)
        line += "f" + std::to_string(i) + "\x01";
    return line;
}

// Fields each followed by the separator.
std::string fields(std::initializer_list<std::string> values)
{
    std::string line;
    for (const std::string& value : values)
        line += value + '\x01';
    return line;
}

TEST(IndexFile, RecordsAreClassifiedBySeparatorCount)
{
    IndexParser parser;
    parser.line("42");
    // A current record.
    parser.line(fields({"uid1", "Work", "to@x", "from@x", "Hi", "900000000", "1234", "7", "CV000007", "Inbox", "133"}) +
                "\r");
    // The earlier format: 16 separators, flags as Y fields.
    parser.line(fields({"uid2", "Work", "to", "from", "Old", "x", "y", "800000000", "99", "Y", "8", "CV000008", "Sent",
                        "Y", "Y", "N"}));
    // ... and with a seventeenth field.
    parser.line(
        fields({"uid3", "", "", "", "", "", "", "1", "2", "N", "9", "CV000009", "Drafts", "N", "N", "Y", "extra"}));
    parser.line(record(12));
    parser.line(record(10));
    parser.line("");
    parser.line("garbage");

    EXPECT_EQ(parser.counter(), 42u);
    ASSERT_EQ(parser.entries().size(), 3u);
    const MessageEntry& a = *parser.entries()[0];
    EXPECT_EQ(a.server_id, "uid1");
    EXPECT_EQ(a.mailbox, "Work");
    EXPECT_EQ(a.to, "to@x");
    EXPECT_EQ(a.from, "from@x");
    EXPECT_EQ(a.subject, "Hi");
    EXPECT_EQ(a.date, 900000000u);
    EXPECT_EQ(a.size, 1234u);
    EXPECT_EQ(a.number, 7u);
    EXPECT_EQ(a.file_name, "CV000007");
    EXPECT_EQ(a.folder, "Inbox");
    EXPECT_EQ(a.flags, 133u);

    const MessageEntry& b = *parser.entries()[1];
    EXPECT_EQ(b.date, 800000000u);
    EXPECT_EQ(b.size, 99u);
    EXPECT_EQ(b.number, 8u);
    EXPECT_EQ(b.folder, "Sent");
    EXPECT_EQ(b.flags, flags::multipart | flags::downloaded | flags::read);

    const MessageEntry& c = *parser.entries()[2];
    EXPECT_EQ(c.flags, flags::draft);
    EXPECT_EQ(c.folder, "Drafts");
    ASSERT_EQ(parser.earlier_format().size(), 2u);
    EXPECT_EQ(parser.earlier_format()[0], &b);
}

// Values that repeat from record to record are stored once; values that
// only look alike must stay apart, and cleaned ones read as cleaned.
TEST(IndexFile, RepeatedValuesAreSharedOnlyWhenEqual)
{
    IndexParser parser;
    parser.line("1");
    const std::string long_to(3000, 'a');
    for (const char* to : {"me@x", "me@x", "ME@x",
                           "a\x02"
                           "b",
                           "a b", ""})
        parser.line(fields({"", "Home", to, "f", "s", "1", "2", "3", "CV000003", "Inbox", "0"}));
    parser.line(fields({"", "home", long_to, "f", "s", "1", "2", "4", "CV000004", "INBOX", "0"}));
    // A different folder in every record: only the latest few are kept to
    // compare with, and every entry still reads its own.
    for (int i = 0; i < 40; ++i)
        parser.line(fields({"", "", "", "", "", "1", "2", "5", "CV000005", "F" + std::to_string(i % 20), "0"}));

    const auto& e = parser.entries();
    ASSERT_EQ(e.size(), 47u);
    std::vector<std::string> to;
    for (std::size_t i = 0; i < 6; ++i)
        to.push_back(e[i]->to.str());
    EXPECT_EQ(to, (std::vector<std::string>{"me@x", "me@x", "ME@x", "a b", "a b", ""}));
    EXPECT_EQ(e[6]->to.size(), max_index_address) << "cut as a save would";
    EXPECT_EQ(e[6]->mailbox, "home");
    EXPECT_EQ(e[6]->folder, "INBOX");
    EXPECT_EQ(e[5]->folder, "Inbox");
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(e[7 + static_cast<std::size_t>(i)]->folder, "F" + std::to_string(i % 20));
    // Shared or not, what is written reads back the same.
    const std::string written = format_index(1, e);
    IndexParser again;
    for (std::size_t pos = 0, end; pos < written.size(); pos = end + 1) {
        end = written.find('\n', pos);
        again.line(std::string_view(written).substr(pos, end - pos));
    }
    EXPECT_EQ(format_index(1, again.entries()), written);
}

TEST(IndexFile, CounterLine)
{
    for (auto [line, want] : {std::pair{"1", 1u},
                              {"999999", 999999u},
                              {"1000000", 1u},
                              {"0", 1u},
                              {"-5", 1u},
                              {"abc", 1u},
                              {"17\r", 17u}}) {
        IndexParser parser;
        parser.line(line);
        EXPECT_EQ(parser.counter(), want) << line;
    }
}

TEST(IndexFile, RecordsThatWouldLeaveTheirFolderAreDropped)
{
    IndexParser parser;
    parser.line("1");
    auto line = [](const std::string& file, const std::string& folder) {
        return fields({"", "", "", "", "", "0", "0", "1", file, folder, "128"});
    };
    parser.line(line("../../etc/passwd", "Inbox"));
    parser.line(line("CV000001", "../.."));
    parser.line(line("CV000001", "a/b"));
    parser.line(line("CV000001", ".hidden"));
    parser.line(line("", "Inbox"));
    parser.line(line("CV000001", ""));  // deleted here, waiting for the server: fine
    parser.line(line("CV000002", "Inbox"));
    ASSERT_EQ(parser.entries().size(), 2u);
    EXPECT_EQ(parser.entries()[0]->folder, "");
    EXPECT_EQ(parser.entries()[1]->file_name, "CV000002");
}

TEST(IndexFile, WrittenRecordsReadBackAndStayOneLine)
{
    std::vector<std::unique_ptr<MessageEntry>> entries;
    auto entry = std::make_unique<MessageEntry>();
    entry->server_id = "uid";
    entry->mailbox = "Home";
    entry->to =
        "a\x01"
        "b\rc\nd";
    entry->from = "Andr\xc3\xa9 X <a@x>";
    entry->subject = std::string(5000, 's');
    entry->date = 4000000000u;
    entry->size = 123;
    entry->number = 999999;
    entry->file_name = "CV999999";
    entry->folder = "Inbox";
    entry->flags = 0x3ff;
    entries.push_back(std::move(entry));

    std::string text = format_index(77, entries);
    // Counter line ends in LF only; the record in 0x01 CR LF.
    EXPECT_EQ(text.substr(0, 3), "77\n");
    EXPECT_EQ(text.substr(text.size() - 3), "\x01\r\n");
    std::string record_line = text.substr(3, text.size() - 5);
    EXPECT_EQ(record_line.find('\n'), std::string::npos);
    EXPECT_EQ(record_line.find('\r'), std::string::npos);
    EXPECT_LT(record_line.size(), 4095u);

    IndexParser parser;
    parser.line("77");
    parser.line(record_line);
    ASSERT_EQ(parser.entries().size(), 1u);
    const MessageEntry& back = *parser.entries()[0];
    EXPECT_EQ(back.to, "a b c d");
    EXPECT_EQ(back.from, "Andr\xc3\xa9 X <a@x>");
    EXPECT_EQ(back.subject, std::string(max_index_subject, 's'));
    EXPECT_EQ(back.date, 4000000000u);
    EXPECT_EQ(back.number, 999999u);
    EXPECT_EQ(back.flags, 0x3ffu);
}

TEST(IndexFile, CutsKeepUtf8Whole)
{
    // 1023 ASCII bytes then a two-byte character: cutting at 1024 must not
    // keep half of it.
    std::string subject = std::string(1023, 'a') + "\xc3\xa9";
    EXPECT_EQ(index_value(subject, max_index_subject), std::string(1023, 'a'));
}

}  // namespace
}  // namespace corvane::store
