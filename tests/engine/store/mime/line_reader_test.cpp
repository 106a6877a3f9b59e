#include "engine/store/mime/line_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

using namespace corvane::mime;

namespace {

std::string write(const corvane::testing::TempDir& dir, const std::string& content)
{
    std::string path = dir / "f.msg";
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

}  // namespace

TEST(LineReader, LinesAndOffsets)
{
    corvane::testing::TempDir dir;
    auto reader = LineReader::open(write(dir, "ab\r\n\r\ncd\nlast"));
    ASSERT_TRUE(reader);
    std::string line;
    std::vector<std::pair<std::string, std::uint64_t>> got;
    while (reader->next(line, 100))
        got.emplace_back(line, reader->offset());
    std::vector<std::pair<std::string, std::uint64_t>> want = {{"ab", 4}, {"", 6}, {"cd", 9}, {"last", 13}};
    EXPECT_EQ(got, want);

    ASSERT_TRUE(reader->seek(6));
    ASSERT_TRUE(reader->next(line, 100));
    EXPECT_EQ(line, "cd");
    EXPECT_FALSE(LineReader::open(dir / "missing"));
}

TEST(LineReader, LongLinesAreCutOrSplit)
{
    corvane::testing::TempDir dir;
    // Longer than the reader's buffer, so the line spans several reads.
    std::string big(200000, 'x');
    std::string path = write(dir, big + "\r\nnext\r\n");

    auto cut = LineReader::open(path);
    std::string line;
    ASSERT_TRUE(cut->next(line, 4095));
    EXPECT_EQ(line.size(), 4095u);
    EXPECT_EQ(cut->offset(), big.size() + 2) << "the rest of the line is skipped";
    ASSERT_TRUE(cut->next(line, 4095));
    EXPECT_EQ(line, "next");

    auto split = LineReader::open(path);
    std::size_t pieces = 0, total = 0;
    while (split->next(line, 4095, LongLines::split) && line != "next") {
        ++pieces;
        total += line.size();
    }
    EXPECT_EQ(total, big.size());
    EXPECT_EQ(pieces, (big.size() + 4094) / 4095);
}
