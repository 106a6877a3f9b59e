#include "engine/store/message_index/part_list_file.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

namespace corvane::store {
namespace {

TEST(PartListFile, RoundTripAndLayout)
{
    PartList parts(2);
    parts[0] = {1, 0, "report.pdf", "application/pdf", "base64", "part1@x", 40000, 812, 700};
    parts[1] = {2, 1, "ATT00002.txt", "text/plain", "7bit", "", 5000000000LL, 3, 1};
    std::string text = format_part_list(parts);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "1\x01"
              "0\x01report.pdf\x01"
              "application/pdf\x01"
              "base64\x01"
              "part1@x\x01"
              "40000\x01"
              "812\x01"
              "700\x01\r\n");
    EXPECT_EQ(parse_part_list(text), parts);

    testing::TempDir dir;
    ASSERT_TRUE(write_part_list(dir / "CV000001.att", parts));
    auto back = read_part_list(dir / "CV000001.att");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, parts);
    EXPECT_FALSE(read_part_list(dir / "missing.att"));
}

TEST(PartListFile, TolerantReading)
{
    std::string long_name(200, 'n');
    std::string text =
        "1\x01"
        "0\x01" +
        long_name +
        "\x01text/plain\x01\x01\x01"
        "10\x01"
        "20\x01"
        "30\x01\r\n"
        "short\x01line\x01\r\n"
        // Eight separators: the last number runs to the end of the line.
        "2\x01"
        "0\x01"
        "a\x01"
        "b\x01"
        "c\x01"
        "d\x01"
        "1\x01"
        "2\x01"
        "3\n"
        "-1\x01x\x01\x01\x01\x01\x01-5\x01-6\x01-7\x01";
    PartList parts = parse_part_list(text);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].file_name, std::string(79, 'n'));
    EXPECT_EQ(parts[0].line_count, 30);
    EXPECT_EQ(parts[1].part_number, 2);
    EXPECT_EQ(parts[1].line_count, 3);
    EXPECT_EQ(parts[2].part_number, -1);
    EXPECT_EQ(parts[2].decoded_size, 0);
    EXPECT_EQ(parts[2].body_offset, 0);
}

TEST(PartListFile, WritingKeepsFieldsOnTheirLine)
{
    PartList parts(1);
    parts[0].file_name = "evil\r\nname\x01.txt";
    parts[0].content_type = "text/plain";
    PartList back = parse_part_list(format_part_list(parts));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].file_name, "evil  name .txt");
    EXPECT_EQ(back[0].content_type, "text/plain");
}

}  // namespace
}  // namespace corvane::store
