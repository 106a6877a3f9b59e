#include "engine/store/filters/apply_filters.h"

#include <gtest/gtest.h>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "tests/support/temp_dir.h"

namespace corvane::filters {
namespace {

const std::vector<std::string> fixed = {"Inbox", "Drafts", "Sent", "Trash"};

TEST(ApplyFilters, ArrivingMailGoesToAListedFolderOrTheInbox)
{
    testing::TempDir dir;
    store::FolderList folders(dir.path());
    ASSERT_TRUE(folders.build(fixed));
    ASSERT_TRUE(folders.create("Lists"));
    ASSERT_TRUE(folders.build(fixed));

    FilterSet set;
    ASSERT_TRUE(set.add("Y T C \"@lists.org\" \"lists\""));
    ASSERT_TRUE(set.add("Y S C \"gone\" \"Deleted Folder\""));
    mime::HeaderList header;
    header.add_line("To: dev@lists.org");
    EXPECT_EQ(choose_folder(set, header, "Home", folders), "Lists");
    mime::HeaderList other;
    other.add_line("Subject: this folder is gone");
    EXPECT_EQ(choose_folder(set, other, "Home", folders), "Inbox");
    mime::HeaderList plain;
    plain.add_line("Subject: hello");
    EXPECT_EQ(choose_folder(set, plain, "Home", folders), "Inbox");

    EXPECT_EQ(refilter_source(folders, "LISTS"), "Lists");
    EXPECT_EQ(refilter_source(folders, "Nope"), "Inbox");
    EXPECT_EQ(refilter_source(folders, ""), "Inbox");
}

TEST(ApplyFilters, RefilterAFolder)
{
    testing::TempDir dir;
    store::FolderList folders(dir.path());
    ASSERT_TRUE(folders.build(fixed));
    ASSERT_TRUE(folders.create("Bills"));
    ASSERT_TRUE(folders.create("Family"));
    ASSERT_TRUE(folders.build(fixed));

    store::MessageIndex index;
    index.open(dir.path());
    auto add = [&](const std::string& header, const std::string& stored_from, std::uint32_t flags) {
        store::MessageEntry& e = index.add_entry();
        e.number = index.next_number();
        e.file_name = text::format("CV%06u", e.number);
        e.folder = "Inbox";
        e.mailbox = "Home";
        e.from = stored_from;
        e.flags = flags;
        if (flags & store::flags::downloaded) {
            EXPECT_TRUE(platform::write_file_atomic(index.message_path(e), header + "\r\n\r\nbody\r\n").ok());
        }
        return &e;
    };
    store::MessageEntry* bill = add("From: billing@power.com\r\nSubject: Your bill", "", store::flags::downloaded);
    store::MessageEntry* mum = add("Subject: hi", "Mum <mum@home.net>", store::flags::downloaded);
    store::MessageEntry* header_only = add("", "billing@water.com", 0);
    store::MessageEntry* stays = add("From: friend@x.com", "", store::flags::downloaded);
    store::MessageEntry* nowhere = add("From: x@nowhere.org", "", store::flags::downloaded);

    FilterSet set;
    ASSERT_TRUE(set.add("Y F C \"billing@\" \"bills\""));
    ASSERT_TRUE(set.add("Y F C \"@home.net\" \"Family\""));
    ASSERT_TRUE(set.add("Y F C \"nowhere\" \"Missing\""));
    EXPECT_EQ(refilter_folder(index, folders, set, "inbox"), 3u);
    EXPECT_EQ(bill->folder, "Bills");
    EXPECT_TRUE(platform::exists(dir / ("Bills/" + bill->file_name + ".msg")));
    EXPECT_EQ(mum->folder, "Family");
    EXPECT_EQ(header_only->folder, "Bills");
    EXPECT_EQ(stays->folder, "Inbox");
    EXPECT_EQ(nowhere->folder, "Inbox");
}

}  // namespace
}  // namespace corvane::filters
