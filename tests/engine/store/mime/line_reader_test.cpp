#include "engine/store/mime/line_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

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
    EXPECT_FALSE(LineReader::open(dir.path())) << "a directory is not read";
}

// Line ends, cuts and pieces, with where each line lies in the file: the
// part records of the store point into files through these figures.
TEST(LineReader, LineEndsCutsAndPieces)
{
    struct Line {
        std::string text;
        std::uint64_t offset, length, bytes;
        bool operator==(const Line&) const = default;
    };
    struct Case {
        std::string content;
        std::size_t max;
        LongLines mode;
        std::vector<Line> want;
    };
    const Case cases[] = {
        {"", 10, LongLines::cut, {}},
        {"\n\r\n", 10, LongLines::cut, {{"", 0, 0, 1}, {"", 1, 0, 2}}},
        // Only the CR directly before the LF belongs to the line end.
        {"ab\r\r\na\rb\nc\r", 10, LongLines::cut, {{"ab\r", 0, 3, 5}, {"a\rb", 5, 3, 4}, {"c\r", 9, 2, 2}}},
        {"abcdef\r\nx\n", 3, LongLines::cut, {{"abc", 0, 6, 8}, {"x", 8, 1, 2}}},
        {"abcdef\r\nx", 6, LongLines::cut, {{"abcdef", 0, 6, 8}, {"x", 8, 1, 1}}},
        {"abcdefghij\r\nk\n",
         4,
         LongLines::split,
         {{"abcd", 0, 4, 4}, {"efgh", 4, 4, 4}, {"ij", 8, 2, 4}, {"k", 12, 1, 2}}},
        // A line of exactly the bound with its CR LF is one line, not two.
        {"ab\r\ncd\n", 2, LongLines::split, {{"ab", 0, 2, 4}, {"cd", 4, 2, 3}}},
    };
    corvane::testing::TempDir dir;
    for (const Case& c : cases) {
        auto reader = LineReader::open(write(dir, c.content));
        ASSERT_TRUE(reader);
        std::vector<Line> got;
        std::string line;
        while (reader->next(line, c.max, c.mode))
            got.push_back({line, reader->line_offset(), reader->line_length(), reader->line_bytes()});
        EXPECT_TRUE(got == c.want) << "content \"" << c.content << "\", " << got.size() << " lines";
        EXPECT_EQ(reader->offset(), c.content.size());
    }
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
