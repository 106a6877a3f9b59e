#include "engine/store/message_index/folder_list.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "tests/support/temp_dir.h"

namespace corvane::store {
namespace {

namespace fs = platform;
const std::vector<std::string> english = {"Inbox", "Drafts", "Sent Items", "Trash"};

TEST(FolderList, FixedFoldersFirstThenTheOthersSortedWithoutCase)
{
    testing::TempDir dir;
    ASSERT_TRUE(fs::make_directory(dir / "work").ok());
    ASSERT_TRUE(fs::make_directory(dir / "Archive").ok());
    ASSERT_TRUE(fs::make_directory(dir / "inbox").ok());  // the Inbox in another spelling
    ASSERT_TRUE(fs::make_directory(dir / ".hidden").ok());
    ASSERT_TRUE(fs::make_directory(dir / "bad|name").ok());
    ASSERT_TRUE(fs::touch_file(dir / "User.ini").ok());
    ASSERT_EQ(::symlink("/etc", (dir / "Linked").c_str()), 0);

    FolderList folders(dir.path());
    ASSERT_TRUE(folders.build(english));
    EXPECT_EQ(folders.names(), (std::vector<std::string>{"Inbox", "Drafts", "Sent Items", "Trash", "Archive", "work"}));
    // Missing fixed folders were made; the existing "inbox" was not doubled.
    EXPECT_TRUE(fs::is_directory(dir / "Drafts"));
    EXPECT_TRUE(fs::is_directory(dir / "Trash"));
    EXPECT_FALSE(fs::exists(dir / "Inbox"));
    EXPECT_EQ(*folders.inbox(), "Inbox");
    EXPECT_EQ(*folders.trash(), "Trash");

    EXPECT_EQ(*folders.current(), "Inbox");
    EXPECT_EQ(folders.select("WORK"), "work");
    EXPECT_EQ(*folders.current(), "work");
    EXPECT_FALSE(folders.select("nope"));
    EXPECT_TRUE(folders.contains("ARCHIVE"));
    EXPECT_FALSE(folders.contains("Linked"));
}

TEST(FolderList, WithoutALanguageTheListStaysEmpty)
{
    testing::TempDir dir;
    FolderList folders(dir.path());
    EXPECT_FALSE(folders.build({}));
    EXPECT_TRUE(folders.empty());
    EXPECT_EQ(folders.current(), nullptr);
    EXPECT_EQ(folders.inbox(), nullptr);
    // A fixed name that is no directory name is refused whole.
    EXPECT_FALSE(folders.build({"Inbox", "../Drafts", "Sent", "Trash"}));
    EXPECT_TRUE(folders.empty());
    EXPECT_FALSE(fs::exists(dir / "Inbox"));
}

TEST(FolderList, CreateRefusesUnsafeAndExistingNames)
{
    testing::TempDir dir;
    FolderList folders(dir.path());
    ASSERT_TRUE(folders.build(english));
    for (const char* bad :
         {"", ".dot", "..", "a/b", "a\\b", "a|b", "a>b", "a<b", "a:b", "a\"b", "tab\there", "line\nbreak", "sep\x01"}) {
        EXPECT_FALSE(folders.create(bad)) << bad;
    }
    EXPECT_FALSE(folders.create(std::string(32, 'x')));
    EXPECT_FALSE(folders.create(std::string(300, 'x')));
    EXPECT_TRUE(folders.create(std::string(31, 'x')));
    EXPECT_TRUE(folders.create("Projects 2024"));
    EXPECT_FALSE(folders.create("Projects 2024"));
    EXPECT_FALSE(folders.create("PROJECTS 2024"));
    EXPECT_FALSE(folders.create("trash"));
    EXPECT_TRUE(fs::is_directory(dir / "Projects 2024"));
    EXPECT_FALSE(fs::exists(dir.path() + "/../a"));

    ASSERT_TRUE(folders.build(english));
    EXPECT_TRUE(folders.contains("projects 2024"));
}

TEST(FolderList, RemoveOnlyEmptyFolders)
{
    testing::TempDir dir;
    FolderList folders(dir.path());
    ASSERT_TRUE(folders.build(english));
    ASSERT_TRUE(folders.create("Old"));
    ASSERT_TRUE(folders.create("Full"));
    ASSERT_TRUE(fs::touch_file(dir / "Full/CV000001.msg").ok());
    EXPECT_FALSE(folders.remove("Full"));
    EXPECT_TRUE(fs::exists(dir / "Full/CV000001.msg"));
    EXPECT_TRUE(folders.remove("OLD"));
    EXPECT_FALSE(fs::exists(dir / "Old"));
    EXPECT_FALSE(folders.remove("Old"));
    EXPECT_FALSE(folders.remove(".."));
    EXPECT_FALSE(folders.remove("../x"));
}

}  // namespace
}  // namespace corvane::store
