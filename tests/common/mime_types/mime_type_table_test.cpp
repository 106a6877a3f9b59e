#include "common/mime_types/mime_type_table.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

using namespace corvane::mime_types;
using corvane::testing::TempDir;
namespace fs = corvane::platform;

TEST(MimeTypeTable, LooksUpBothWays)
{
    MimeTypeTable table;
    table.add_text(
        "text/html htm html\r\n"
        "image/jpeg\tjpg jpeg\tjpe\n"
        "text/x-lonely\n"
        "application/x-other html dat\n"
        "\n"
        "   image/png   .png   \n"
        "# comment lines name no type\n"
        "application/pdf pdf");
    struct {
        const char* extension;
        const char* type;
    } types[] = {
        {"html", "text/html"},
        {"HTM", "text/html"},
        {".jpeg", "image/jpeg"},
        {"jpe", "image/jpeg"},
        {"png", "image/png"},
        {"pdf", "application/pdf"},
        {"dat", "application/x-other"},
        {"exe", "application/octet-stream"},
        {"", "application/octet-stream"},
        {"comment", "application/octet-stream"},
        {"lonely", "application/octet-stream"},
    };
    for (const auto& t : types)
        EXPECT_EQ(table.type_of(t.extension), t.type) << t.extension;

    struct {
        const char* type;
        const char* extension;
    } extensions[] = {
        {"text/html", "htm"},     {"IMAGE/JPEG", "jpg"}, {"image/png", "png"},
        {"text/x-lonely", "att"}, {"x/unknown", "att"},  {"application/x-other", "html"},
    };
    for (const auto& e : extensions)
        EXPECT_EQ(table.extension_of(e.type), e.extension) << e.type;
}

TEST(MimeTypeTable, BoundsLinesAndExtensions)
{
    MimeTypeTable table;
    std::string long_extension(60, 'x');
    std::string max_extension(59, 'y');
    std::string padding(240, ' ');
    table.add_text("a/long " + long_extension + " " + max_extension + "\n" + "b/cut" + padding + "ab abcdefghijkl\n" +
                   std::string("c/ctl bad\x01x good\n"));
    EXPECT_EQ(table.type_of(long_extension), default_type) << "an extension over 59 characters is not registered";
    EXPECT_EQ(table.type_of(max_extension), "a/long");
    // The line is cut at 255 bytes: "ab" fits, the word after it only in part.
    EXPECT_EQ(table.type_of("ab"), "b/cut");
    EXPECT_EQ(table.type_of("abcdefghijkl"), default_type);
    EXPECT_EQ(table.type_of("good"), "c/ctl");
    EXPECT_EQ(table.type_of("bad\x01x"), default_type);
}

TEST(MimeTypeTable, LoadsFilesAndReportsMissingOnes)
{
    TempDir tmp;
    MimeTypeTable table;
    EXPECT_FALSE(table.load(tmp / "MimeTypes.cfg"));
    EXPECT_TRUE(table.empty());
    ASSERT_TRUE(fs::write_file_atomic(tmp / "MimeTypes.cfg", "text/plain txt\n"));
    EXPECT_TRUE(table.load(tmp / "MimeTypes.cfg"));
    EXPECT_EQ(table.type_of("TXT"), "text/plain");
    EXPECT_EQ(table.size(), 1u);
}

// The system's own table, written by people who never saw this code.
TEST(MimeTypeTable, ReadsTheSystemMediaTypes)
{
    if (!fs::is_regular_file("/etc/mime.types"))
        GTEST_SKIP() << "no /etc/mime.types here";
    MimeTypeTable table;
    ASSERT_TRUE(table.load("/etc/mime.types"));
    EXPECT_GT(table.size(), 500u);
    EXPECT_EQ(table.type_of("html"), "text/html");
    EXPECT_EQ(table.type_of("PDF"), "application/pdf");
    EXPECT_EQ(table.type_of("png"), "image/png");
    EXPECT_EQ(table.extension_of("image/jpeg"), "jpeg") << "the first one listed";
    EXPECT_EQ(table.type_of("jfif"), "image/jpeg");
    EXPECT_EQ(table.type_of("format"), default_type) << "words of the comment header are no extensions";
}
