#include "engine/store/message_index/message_index.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "common/platform/files.h"
#include "common/text/strings.h"
#include "engine/store/message_index/index_file.h"
#include "engine/store/message_index/part_list_file.h"
#include "tests/support/temp_dir.h"

namespace corvane::store {
namespace {

namespace fs = platform;

class MessageIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"Inbox", "Drafts", "Sent", "Trash", "Work"})
            ASSERT_TRUE(fs::make_directory(dir / folder).ok());
        index.open(dir.path());
    }

    // A downloaded message with its files in folder.
    MessageEntry& stored(const std::string& folder, const std::string& server_id = "", const std::string& mailbox = "")
    {
        MessageEntry& entry = index.add_entry();
        entry.number = index.next_number();
        entry.file_name = text::format("CV%06u", entry.number);
        entry.folder = folder;
        entry.server_id = server_id;
        entry.mailbox = mailbox;
        entry.size = 1000;
        entry.flags = flags::downloaded | flags::new_message;
        EXPECT_TRUE(fs::write_file_atomic(index.message_path(entry), "Subject: x\r\n\r\nbody\r\n").ok());
        EXPECT_TRUE(write_part_list(index.part_list_path(entry), PartList(1)));
        return entry;
    }

    testing::TempDir dir;
    MessageIndex index;
};

TEST_F(MessageIndexTest, MissingIndexIsEmptyAndClean)
{
    EXPECT_EQ(index.size(), 0u);
    EXPECT_EQ(index.counter(), 1u);
    EXPECT_FALSE(index.dirty());
    EXPECT_TRUE(index.save());
    EXPECT_FALSE(fs::exists(dir / "Messages.idx"));
}

TEST_F(MessageIndexTest, CounterWrapsAndSkipsNumbersInUse)
{
    index.set_counter(999999);
    EXPECT_EQ(index.next_number(), 999999u);
    EXPECT_EQ(index.next_number(), 1u);
    EXPECT_EQ(index.counter(), 2u);

    // After a wrap the counter meets messages that are still kept: their
    // numbers (and so their files) are never handed out again.
    index.set_counter(1);
    MessageEntry& first = stored("Inbox");
    EXPECT_EQ(first.number, 1u);
    stored("Inbox");
    index.set_counter(1);
    EXPECT_EQ(index.next_number(), 3u);
}

TEST_F(MessageIndexTest, SaveAndLoadRoundTrip)
{
    MessageEntry& a = stored("Inbox", "uid-a", "Home");
    a.subject = "Hello";
    a.from = "Andr\xc3\xa9 <a@x>";
    a.date = 929460030;
    MessageEntry& header_only = index.add_entry();
    header_only.number = index.next_number();
    header_only.file_name = text::format("CV%06u", header_only.number);
    header_only.folder = "Work";
    header_only.server_id = "uid-b";
    ASSERT_TRUE(index.save());
    EXPECT_FALSE(index.dirty());

    MessageIndex again;
    again.open(dir.path());
    EXPECT_FALSE(again.dirty()) << "an index that agrees with its files is not written again";
    EXPECT_EQ(again.counter(), 3u);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again.entries()[0]->subject, "Hello");
    EXPECT_EQ(again.entries()[0]->from, "Andr\xc3\xa9 <a@x>");
    EXPECT_EQ(again.entries()[0]->date, 929460030u);
    EXPECT_EQ(again.entries()[1]->server_id, "uid-b");
    EXPECT_EQ(again.entries()[1]->flags, 0u);
}

// A loaded index keeps its texts together, entries in shared storage and
// folder names once for many entries: copies taken out must outlive it,
// changed fields must not disturb their neighbours, and freed entries must
// come back clean.
TEST_F(MessageIndexTest, LoadedEntriesAreIndependentOfTheirStorage)
{
    for (int i = 0; i < 1000; ++i) {
        MessageEntry& e = stored(i % 2 ? "Inbox" : "Work", text::format("uid-%d", i), "Home");
        e.subject = text::format("Subject %d %s", i, std::string(static_cast<std::size_t>(i % 300), 'x').c_str());
    }
    ASSERT_TRUE(index.save());

    std::vector<MessageEntry> copies;
    {
        MessageIndex loaded;
        loaded.open(dir.path());
        ASSERT_EQ(loaded.size(), 1000u);
        copies.push_back(*loaded.entries()[7]);
        copies.push_back(*loaded.entries()[998]);
        // One entry's folder changes; the entries that shared its old
        // spelling keep it.
        loaded.entries()[1]->folder = loaded.entries()[0]->folder;
        EXPECT_EQ(loaded.entries()[1]->folder, "Work");
        EXPECT_EQ(loaded.entries()[3]->folder, "Inbox");
        // Entries freed and made again start empty.
        for (int i = 0; i < 100; ++i)
            loaded.erase(*loaded.entries().back());
        MessageEntry& fresh = loaded.add_entry();
        EXPECT_TRUE(fresh.subject.empty() && fresh.folder.empty() && !fresh.parts && fresh.flags == 0);
        loaded.open(dir.path());  // storage of the first load given back
        EXPECT_EQ(loaded.entries()[998]->subject, copies[1].subject);
    }
    EXPECT_EQ(copies[0].subject, "Subject 7 xxxxxxx");
    EXPECT_EQ(copies[0].folder, "Inbox");
    EXPECT_EQ(copies[1].server_id, "uid-998");
    EXPECT_EQ(copies[1].subject.size(), std::string("Subject 998 ").size() + 98);
    EXPECT_EQ(copies[1].mailbox + "/" + copies[1].folder, "Home/Work");
}

TEST_F(MessageIndexTest, LoadDropsVanishedMessagesAndRereadsUrgentFlag)
{
    MessageEntry& keep = stored("Inbox");
    MessageEntry& gone = stored("Work");
    MessageEntry& waiting = stored("Inbox", "uid", "Home");
    ASSERT_TRUE(index.delete_entry(waiting));  // kept, without a folder and without files
    ASSERT_TRUE(fs::remove_file(index.message_path(gone)).ok());
    ASSERT_TRUE(index.save());
    // An entry of the earlier format whose message is urgent.
    std::string old;
    for (const char* field : {"", "", "", "", "Old", "", "", "0", "10", "N", "50", "CV000050", "inbox", "Y", "N", "N"})
        old += std::string(field) + '\x01';
    old += "\r\n";
    ASSERT_TRUE(fs::append_file(dir / "Messages.idx", old).ok());
    ASSERT_TRUE(fs::write_file_atomic(dir / "Inbox/CV000050.msg", "From: a\r\nX-Priority: 1 (Highest)\r\n\r\n").ok());

    MessageIndex again;
    again.open(dir.path());
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again.entries()[0]->number, keep.number);
    EXPECT_EQ(again.entries()[1]->folder, "");
    EXPECT_EQ(again.entries()[2]->number, 50u);
    EXPECT_EQ(again.entries()[2]->flags, flags::downloaded | flags::urgent);
}

// The states a crash leaves between an action's files and the index
// written after them, and what the next load makes of each.
TEST(MessageIndexLoad, SettlesWhatACrashLeft)
{
    struct Store {
        testing::TempDir dir;
        std::string a, b, c, d;  // file names: read multipart in Inbox, from a mailbox in Inbox, header-only
                                 // in Work, downloaded in Work
        std::string path(const std::string& relative) const { return dir / relative; }
    };
    auto make = [](Store& store) {
        for (const char* folder : {"Inbox", "Work", "Trash"})
            ASSERT_TRUE(fs::make_directory(store.dir / folder).ok());
        MessageIndex index;
        index.open(store.dir.path());
        auto add = [&](const char* folder, std::uint32_t flag_bits, const char* server_id) {
            MessageEntry& e = index.add_entry();
            e.number = index.next_number();
            e.file_name = text::format("CV%06u", e.number);
            e.folder = folder;
            e.flags = flag_bits;
            e.server_id = server_id;
            e.mailbox = *server_id ? "Home" : "";
            e.subject = e.file_name;
            if (e.has(flags::downloaded)) {
                EXPECT_TRUE(fs::write_file_atomic(index.message_path(e), "Subject: x\r\n\r\nbody\r\n").ok());
            }
            if (e.has(flags::multipart)) {
                EXPECT_TRUE(write_part_list(index.part_list_path(e), PartList(2)));
            }
            return e.file_name;
        };
        store.a = add("Inbox", flags::downloaded | flags::read | flags::multipart, "");
        store.b = add("Inbox", flags::downloaded, "uid-b");
        store.c = add("Work", 0, "uid-c");
        store.d = add("Work", flags::downloaded | flags::replied, "");
        ASSERT_TRUE(index.save());
    };
    auto entry = [](MessageIndex& index, const std::string& file_name) -> MessageEntry* {
        for (auto& e : index.entries()) {
            if (e->file_name == file_name)
                return e.get();
        }
        return nullptr;
    };
    auto mv = [](const std::string& from, const std::string& to) { ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0); };

    struct Scenario {
        const char* what;
        std::function<void(Store&)> crash;
        std::function<void(Store&, MessageIndex&)> check;
    };
    const Scenario scenarios[] = {
        {"nothing happened", [](Store&) {},
         [](Store&, MessageIndex& index) {
             EXPECT_FALSE(index.dirty());
             EXPECT_TRUE(index.unindexed().empty());
         }},
        {"a move cut before the index was written",
         [&](Store& s) { mv(s.path("Inbox/" + s.a + ".msg"), s.path("Work/" + s.a + ".msg")); },
         [&](Store& s, MessageIndex& index) {
             ASSERT_NE(entry(index, s.a), nullptr);
             EXPECT_EQ(entry(index, s.a)->folder, "Work");
             EXPECT_EQ(entry(index, s.a)->flags, flags::downloaded | flags::read | flags::multipart);
             EXPECT_FALSE(fs::exists(s.path("Inbox/" + s.a + ".att"))) << "the part list left behind";
             EXPECT_TRUE(index.dirty());
         }},
        {"deletes cut before the index was written",
         [](Store& s) {
             ASSERT_TRUE(fs::remove_file(s.path("Inbox/" + s.a + ".msg")).ok());
             ASSERT_TRUE(fs::remove_file(s.path("Inbox/" + s.b + ".msg")).ok());
         },
         [&](Store& s, MessageIndex& index) {
             EXPECT_EQ(entry(index, s.a), nullptr);
             ASSERT_NE(entry(index, s.b), nullptr) << "its server still has to delete it";
             EXPECT_EQ(entry(index, s.b)->folder, "");
             EXPECT_EQ(index.size(), 3u);
         }},
        {"a folder renamed before the index was written", [&](Store& s) { mv(s.path("Work"), s.path("Archive")); },
         [&](Store& s, MessageIndex& index) {
             EXPECT_EQ(entry(index, s.d)->folder, "Archive");
             EXPECT_EQ(entry(index, s.c)->folder, "Archive") << "the header-only entry follows its folder";
             EXPECT_EQ(entry(index, s.d)->flags, flags::downloaded | flags::replied);
         }},
        {"a message stored or copied, its entry never written",
         [](Store& s) { ASSERT_TRUE(fs::write_file_atomic(s.path("Work/CV000077.msg"), "Subject: y\r\n\r\n").ok()); },
         [](Store&, MessageIndex& index) {
             ASSERT_EQ(index.unindexed().size(), 1u);
             EXPECT_EQ(index.unindexed()[0].folder, "Work");
             EXPECT_EQ(index.unindexed()[0].file_name, "CV000077");
             EXPECT_EQ(index.size(), 4u) << "taking it in is the receiver's work";
         }},
        {"a message fetched whole, the index not written",
         [](Store& s) {
             ASSERT_TRUE(fs::write_file_atomic(s.path("Work/" + s.c + ".msg"), "Subject: z\r\n\r\n").ok());
         },
         [&](Store& s, MessageIndex& index) {
             EXPECT_TRUE(entry(index, s.c)->has(flags::downloaded));
             EXPECT_TRUE(index.unindexed().empty());
         }},
        {"what interrupted writes leave",
         [](Store& s) {
             for (const char* left : {".Messages.idx.Ab3dE9", ".CV000009.incoming", "Inbox/.CV000001.msg.tmp",
                                      "Inbox/.CV000002.msg.new", "Trash/CV000050.att"})
                 ASSERT_TRUE(fs::write_file_atomic(s.path(left), "x").ok());
         },
         [](Store& s, MessageIndex& index) {
             auto files = [&](const std::string& dir) {
                 std::vector<std::string> names;
                 auto listed = fs::list_directory(s.path(dir));
                 for (const auto& e : *listed) {
                     if (!e.is_directory)
                         names.push_back(e.name);
                 }
                 return names;
             };
             EXPECT_EQ(files(""), std::vector<std::string>{"Messages.idx"});
             EXPECT_EQ(files("Inbox"), (std::vector<std::string>{"CV000001.att", "CV000001.msg", "CV000002.msg"}));
             EXPECT_EQ(files("Trash"), std::vector<std::string>{});
             EXPECT_FALSE(index.dirty());
         }},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        Store store;
        make(store);
        scenario.crash(store);
        MessageIndex index;
        index.open(store.dir.path());
        scenario.check(store, index);
    }
}

TEST_F(MessageIndexTest, IndexCutInTheMiddleOfARecord)
{
    stored("Inbox");
    stored("Inbox");
    ASSERT_TRUE(index.save());
    auto text = fs::read_file(dir / "Messages.idx");
    ASSERT_TRUE(text);
    ASSERT_TRUE(fs::write_file_atomic(dir / "Messages.idx", text->substr(0, text->size() - 20)).ok());
    MessageIndex again;
    again.open(dir.path());
    EXPECT_EQ(again.size(), 1u);
}

TEST_F(MessageIndexTest, FailedSaveKeepsTheIndexDirty)
{
    stored("Inbox");
    ASSERT_TRUE(index.save());
    // The user directory disappears under us (or the disk refuses): the
    // save fails, the old index stays what it was, the changes stay marked.
    testing::TempDir other;
    ASSERT_EQ(::rename(dir.path().c_str(), (other / "moved").c_str()), 0);
    index.mark_dirty();
    EXPECT_FALSE(index.save());
    EXPECT_TRUE(index.dirty());
    ASSERT_EQ(::rename((other / "moved").c_str(), dir.path().c_str()), 0);
    EXPECT_TRUE(index.save());
    EXPECT_FALSE(index.dirty());
}

TEST_F(MessageIndexTest, FolderQueriesFollowIndexOrder)
{
    MessageEntry& a = stored("Inbox");
    MessageEntry& b = stored("Work");
    MessageEntry& c = stored("inbox");
    c.flags |= flags::read;
    EXPECT_EQ(index.first_in_folder("INBOX"), &a);
    EXPECT_EQ(index.count_in_folder("Inbox"), 2u);
    EXPECT_EQ(index.unread_in_folder("Inbox"), 1u);
    EXPECT_EQ(index.next_in_folder(a), &c);
    EXPECT_EQ(index.previous_in_folder(c), &a);
    EXPECT_EQ(index.previous_in_folder(a), nullptr);
    EXPECT_EQ(index.next_in_folder(b), nullptr);
    EXPECT_EQ(index.find(b.number), &b);
    EXPECT_EQ(index.find(12345), nullptr);
    EXPECT_EQ(index.first_in_folder("Nope"), nullptr);
}

TEST_F(MessageIndexTest, MoveCarriesTheFiles)
{
    MessageEntry& entry = stored("Inbox");
    std::string old_path = index.message_path(entry);
    ASSERT_TRUE(index.move(entry, "Work"));
    EXPECT_EQ(entry.folder, "Work");
    EXPECT_FALSE(fs::exists(old_path));
    EXPECT_TRUE(fs::exists(dir / ("Work/" + entry.file_name + ".msg")));
    EXPECT_TRUE(fs::exists(dir / ("Work/" + entry.file_name + ".att")));

    // Same folder in another letter case: no file is touched.
    ASSERT_TRUE(index.move(entry, "WORK"));
    EXPECT_EQ(entry.folder, "WORK");
    EXPECT_TRUE(fs::exists(dir / ("Work/" + entry.file_name + ".msg")));
    EXPECT_EQ(index.message_path(entry), dir / ("Work/" + entry.file_name + ".msg"));

    // A folder that does not exist, or a name that leaves the user
    // directory: nothing changes.
    EXPECT_FALSE(index.move(entry, "Missing"));
    EXPECT_FALSE(index.move(entry, "../Work"));
    EXPECT_FALSE(index.move(entry, ".."));
    EXPECT_EQ(entry.folder, "WORK");

    // A message that was never downloaded moves by name alone.
    MessageEntry& header_only = index.add_entry();
    header_only.folder = "Inbox";
    header_only.file_name = "CV000099";
    EXPECT_TRUE(index.move(header_only, "Trash"));
    EXPECT_EQ(header_only.folder, "Trash");
}

TEST_F(MessageIndexTest, DeleteKeepsEntriesThatWaitForTheServer)
{
    MessageEntry& from_server = stored("Inbox", "uid-1", "Home");
    MessageEntry& local = stored("Inbox");
    std::string server_file = index.message_path(from_server);
    std::string local_file = index.message_path(local);

    ASSERT_TRUE(index.delete_entry(from_server));
    EXPECT_EQ(index.size(), 2u);
    EXPECT_EQ(from_server.folder, "");
    EXPECT_FALSE(fs::exists(server_file));
    EXPECT_FALSE(fs::exists(server_file.substr(0, server_file.size() - 4) + ".att"));

    ASSERT_TRUE(index.delete_entry(local));
    EXPECT_EQ(index.size(), 1u);
    EXPECT_FALSE(fs::exists(local_file));
}

TEST_F(MessageIndexTest, CopyOfDownloadedAndOfHeaderOnlyEntries)
{
    MessageEntry& source = stored("Inbox", "uid-1", "Home");
    source.subject = "Copied";
    source.flags |= flags::copy_pending;
    MessageEntry* copy = index.copy(source, "Work");
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->number, source.number);
    EXPECT_EQ(copy->file_name, text::format("CV%06u", copy->number));
    EXPECT_EQ(copy->subject, "Copied");
    EXPECT_EQ(copy->server_id, "uid-1");
    EXPECT_FALSE(source.has(flags::copy_pending));
    EXPECT_EQ(copy->flags, source.flags);
    EXPECT_EQ(fs::read_file(index.message_path(*copy)).value(), fs::read_file(index.message_path(source)).value());
    EXPECT_TRUE(fs::exists(index.part_list_path(*copy)));

    MessageEntry& header_only = index.add_entry();
    header_only.number = index.next_number();
    header_only.file_name = text::format("CV%06u", header_only.number);
    header_only.folder = "Inbox";
    header_only.server_id = "uid-2";
    header_only.mailbox = "Home";
    MessageEntry* pending = index.copy(header_only, "Work");
    ASSERT_NE(pending, nullptr);
    EXPECT_TRUE(header_only.has(flags::copy_pending));
    EXPECT_TRUE(pending->has(flags::copy_pending));
    EXPECT_FALSE(fs::exists(index.message_path(*pending)));

    std::size_t before = index.size();
    EXPECT_EQ(index.copy(source, "../../tmp"), nullptr);
    EXPECT_EQ(index.copy(source, "Missing"), nullptr);
    EXPECT_EQ(index.size(), before);
}

TEST_F(MessageIndexTest, EmptyFolderAndStoredSize)
{
    stored("Trash", "uid-1", "Home");
    stored("Trash");
    stored("Trash");
    MessageEntry& other = stored("Inbox");
    other.size = 1536;
    EXPECT_EQ(index.stored_size_kb(), (4 * 1000 - 1000 + 1536 + 512) / 1024);
    ASSERT_TRUE(index.empty_folder("trash"));
    EXPECT_EQ(index.count_in_folder("Trash"), 0u);
    EXPECT_EQ(index.size(), 2u);  // the Inbox message and the one waiting for its server
    auto left = fs::list_directory(dir / "Trash");
    ASSERT_TRUE(left);
    EXPECT_TRUE(left->empty());
}

TEST_F(MessageIndexTest, RenameFolderAndMailbox)
{
    MessageEntry& a = stored("Work", "uid", "Home");
    ASSERT_TRUE(index.rename_folder("work", "Projects"));
    EXPECT_EQ(a.folder, "Projects");
    EXPECT_TRUE(fs::exists(index.message_path(a)));
    EXPECT_FALSE(fs::exists(dir / "Work"));
    // Not onto another folder, not to an unsafe name, not from a missing one.
    EXPECT_FALSE(index.rename_folder("Projects", "INBOX"));
    EXPECT_FALSE(index.rename_folder("Projects", "../out"));
    EXPECT_FALSE(index.rename_folder("Nope", "Other"));
    // A change of letter case alone is a rename.
    EXPECT_TRUE(index.rename_folder("Projects", "PROJECTS"));
    EXPECT_TRUE(fs::is_directory(dir / "PROJECTS"));

    ASSERT_TRUE(fs::write_file_atomic(dir / "Home.uid", "uid\r\n").ok());
    ASSERT_TRUE(index.rename_mailbox("home", "Office"));
    EXPECT_EQ(a.mailbox, "Office");
    EXPECT_TRUE(fs::exists(dir / "Office.uid"));
    EXPECT_FALSE(fs::exists(dir / "Home.uid"));
    EXPECT_FALSE(index.rename_mailbox("Office", "../x"));
    EXPECT_EQ(a.mailbox, "Office");
}

TEST_F(MessageIndexTest, SessionEndHooks)
{
    MessageEntry& a = stored("Inbox");
    ASSERT_TRUE(index.save());
    EXPECT_TRUE(index.clear_new_flags());
    EXPECT_FALSE(a.has(flags::new_message));
    EXPECT_TRUE(index.dirty());
    EXPECT_FALSE(index.clear_new_flags());

    MessageEntry& waiting = stored("Inbox", "uid-w", "Home");
    MessageEntry& dropped = stored("Inbox", "uid-d", "Gone");
    ASSERT_TRUE(index.delete_entry(waiting));
    ASSERT_TRUE(index.delete_entry(dropped));
    EXPECT_EQ(index.prune_folderless([](const MessageEntry& e) { return e.mailbox == "Gone"; }), 1u);
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index.entries()[1]->server_id, "uid-w");
}

TEST_F(MessageIndexTest, HundredThousandEntriesRoundTrip)
{
    for (std::uint32_t i = 0; i < 100000; ++i) {
        MessageEntry& e = index.add_entry();
        e.number = index.next_number();
        e.file_name = text::format("CV%06u", e.number);
        e.folder = i % 3 ? "Inbox" : "Work";
        e.server_id = text::format("uid%u", i);
        e.mailbox = "Home";
        e.from = text::format("Sender %u <s%u@example.com>", i, i);
        e.subject = text::format("Subject %u \xc3\xa9", i);
        e.date = 900000000 + i;
        e.size = i;
        e.flags = i & 0x37f;  // never downloaded: no files to check
    }
    ASSERT_TRUE(index.save());
    const std::string saved = format_index(index.counter(), index.entries());
    MessageIndex again;
    again.open(dir.path());
    ASSERT_EQ(again.size(), 100000u);
    EXPECT_EQ(again.counter(), 100001u);
    EXPECT_TRUE(format_index(again.counter(), again.entries()) == saved);
}

// A save killed at any moment leaves the old or the new index, never a mix
// or a torn file.
TEST_F(MessageIndexTest, KilledSaveLeavesOldOrNewIndex)
{
    for (int i = 0; i < 2000; ++i) {
        MessageEntry& entry = index.add_entry();
        entry.number = index.next_number();
        entry.file_name = text::format("CV%06u", entry.number);
        entry.folder = "Inbox";
        entry.subject = "old";
    }
    ASSERT_TRUE(index.save());
    const std::string old_text = fs::read_file(dir / "Messages.idx").value();
    for (auto& entry : index.entries())
        entry->subject = "new";
    index.mark_dirty();
    const std::string new_text = format_index(index.counter(), index.entries());

    for (int round = 0; round < 20; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                index.mark_dirty();
                (void)index.save();
            }
        }
        ::usleep(static_cast<useconds_t>(500 + round * 700));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        std::string now = fs::read_file(dir / "Messages.idx").value();
        ASSERT_TRUE(now == old_text || now == new_text) << "round " << round << ": " << now.size() << " bytes";
    }
}

}  // namespace
}  // namespace corvane::store
