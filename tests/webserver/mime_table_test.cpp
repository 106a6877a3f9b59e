#include "webserver/mime_table.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using namespace corvane::webserver;

TEST(MimeTable, ReadsTypesAndExtensions)
{
    corvane::testing::TempDir tmp;
    ASSERT_TRUE(corvane::platform::write_file_atomic(tmp / "MimeTypes.cfg",
                                                     "text/html html htm\r\n"
                                                     "image/gif\tgif\n"
                                                     "application/x-lonely\n"
                                                     "   \n"
                                                     "# not a comment: a type with one extension\n"
                                                     "text/plain txt TEXT")
                    .ok());
    MimeTable table;
    ASSERT_TRUE(table.load(tmp / "MimeTypes.cfg"));
    EXPECT_EQ(table.lookup("html"), "text/html");
    EXPECT_EQ(table.lookup("HTM"), "text/html");
    EXPECT_EQ(table.lookup("gif"), "image/gif");
    EXPECT_EQ(table.lookup("text"), "text/plain");
    EXPECT_EQ(table.lookup("not"), "#");
    EXPECT_EQ(table.lookup("x-lonely"), default_content_type);
    EXPECT_EQ(table.lookup("exe"), default_content_type);
    EXPECT_EQ(table.lookup(""), default_content_type);

    EXPECT_FALSE(table.load(tmp / "missing.cfg"));
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.lookup("html"), default_content_type);
}

TEST(MimeTable, TheEntryAddedOrFoundLastIsTriedFirst)
{
    MimeTable table;
    table.add_lines("text/plain txt\nimage/png png\ntext/x-other txt\n");
    // Right after loading, the last entry added answers for its extension.
    EXPECT_EQ(table.lookup("txt"), "text/x-other");
    // Once another entry was found, file order decides again.
    EXPECT_EQ(table.lookup("png"), "image/png");
    EXPECT_EQ(table.lookup("txt"), "text/plain");
    EXPECT_EQ(table.lookup("TXT"), "text/plain");
}

TEST(MimeTable, RefusesWhatCouldBendAHeader)
{
    MimeTable table;
    std::string long_extension(60, 'e');
    table.add_lines("text/a " + long_extension + " ok\n");
    table.add_lines(std::string("text/b\x0b\x0b bad\n"));
    table.add_lines(std::string("text/c\0x nul\n", 13));
    EXPECT_EQ(table.lookup(long_extension), default_content_type);
    EXPECT_EQ(table.lookup("ok"), "text/a");
    EXPECT_EQ(table.lookup("bad"), default_content_type);
    EXPECT_EQ(table.lookup("nul"), default_content_type);
}
