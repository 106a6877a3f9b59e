#include "common/platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace fs = corvane::platform;
using corvane::testing::TempDir;

namespace {

void put(const std::string& path, const std::string& data)
{
    ASSERT_TRUE(fs::write_file_atomic(path, data, 0644, fs::Durability::none).ok()) << path;
}

}  // namespace

TEST(Paths, JoinAndSplit)
{
    EXPECT_EQ(fs::join_path("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(fs::join_path("/a/b/", "c"), "/a/b/c");
    EXPECT_EQ(fs::directory_of("/a/b/c.ini"), "/a/b");
    EXPECT_EQ(fs::directory_of("/c.ini"), "/");
    EXPECT_EQ(fs::directory_of("c.ini"), "");
    EXPECT_EQ(fs::file_name_of("/a/b/c.ini"), "c.ini");
    for (const char* bad : {"", ".", "..", "a/b", "../x"})
        EXPECT_FALSE(fs::is_plain_name(bad)) << bad;
    EXPECT_FALSE(fs::is_plain_name(std::string_view("a\0b", 3)));
    EXPECT_TRUE(fs::is_plain_name(".hidden"));
    EXPECT_TRUE(fs::is_plain_name("Inbox"));
}

// Emptying keeps the directory itself and every dot-directory (with its
// contents), deletes files whatever their names, and never follows a link
// out of the tree.
TEST(DeleteTree, KeepsDotDirectoriesAndNeverFollowsLinks)
{
    TempDir tmp;
    TempDir outside;
    std::string root = tmp / "Temp";
    ASSERT_TRUE(fs::make_directories(root + "/ABCDEFG/sub/deeper").ok());
    ASSERT_TRUE(fs::make_directories(root + "/.keep/inner").ok());
    put(root + "/file.txt", "x");
    put(root + "/.hidden-file", "x");
    put(root + "/ABCDEFG/.headers.txt", "x");
    put(root + "/ABCDEFG/sub/deeper/a", "x");
    put(root + "/.keep/inner/kept", "x");
    put(outside / "precious", "x");
    ASSERT_EQ(::symlink(outside.path().c_str(), (root + "/link").c_str()), 0);

    ASSERT_TRUE(fs::delete_tree(root).ok());

    EXPECT_TRUE(fs::is_directory(root));
    EXPECT_TRUE(fs::exists(root + "/.keep/inner/kept"));
    EXPECT_FALSE(fs::exists(root + "/file.txt"));
    EXPECT_FALSE(fs::exists(root + "/.hidden-file"));
    EXPECT_FALSE(fs::exists(root + "/ABCDEFG"));
    EXPECT_FALSE(fs::exists(root + "/link"));
    EXPECT_TRUE(fs::exists(outside / "precious"));
    auto left = fs::list_directory(root);
    ASSERT_TRUE(left.ok());
    ASSERT_EQ(left->size(), 1u);
    EXPECT_EQ((*left)[0].name, ".keep");

    EXPECT_FALSE(fs::delete_tree(tmp / "missing").ok());
}

TEST(TreeSize, CountsNestedFilesButNotDotDirectoriesOrLinks)
{
    TempDir tmp;
    ASSERT_TRUE(fs::make_directories(tmp / "u/Inbox/deep").ok());
    ASSERT_TRUE(fs::make_directories(tmp / "u/.trash").ok());
    put(tmp / "u/User.ini", std::string(100, 'a'));
    put(tmp / "u/Inbox/1.msg", std::string(1000, 'b'));
    put(tmp / "u/Inbox/deep/2.msg", std::string(24, 'c'));
    put(tmp / "u/.trash/x", std::string(5000, 'd'));
    put(tmp / "big", std::string(7777, 'e'));
    ASSERT_EQ(::symlink((tmp / "big").c_str(), (tmp / "u/link").c_str()), 0);
    EXPECT_EQ(fs::tree_size(tmp / "u"), 1124u);
    EXPECT_EQ(fs::tree_size(tmp / "nothing"), 0u);
    EXPECT_EQ(fs::file_size(tmp / "big"), 7777u);
    EXPECT_EQ(fs::file_size(tmp / "none"), 0u);
}

TEST(ResolveNocase, FindsTheSpellingOnDisk)
{
    TempDir tmp;
    ASSERT_TRUE(fs::make_directory(tmp / "jsmith").ok());
    put(tmp / "jsmith/User.ini", "");
    EXPECT_EQ(fs::resolve_nocase(tmp.path(), "JSmith"), "jsmith");
    EXPECT_EQ(fs::resolve_nocase(tmp / "jsmith", "USER.INI"), "User.ini");
    EXPECT_EQ(fs::resolve_nocase(tmp.path(), "nobody"), std::nullopt);
    EXPECT_EQ(fs::resolve_nocase(tmp.path(), "../etc"), std::nullopt);
    EXPECT_EQ(fs::path_nocase(tmp.path(), "JSMITH"), tmp / "jsmith");
    EXPECT_EQ(fs::path_nocase(tmp.path(), "New"), tmp / "New");
    // An exact spelling wins over another case variant.
    ASSERT_TRUE(fs::make_directory(tmp / "JSmith").ok());
    EXPECT_EQ(fs::resolve_nocase(tmp.path(), "JSmith"), "JSmith");
    EXPECT_EQ(fs::resolve_nocase(tmp.path(), "jSMITH"), "JSmith");  // first in byte order
}

TEST(WriteFileAtomic, ReplacesWholeAndKeepsMode)
{
    TempDir tmp;
    std::string path = tmp / "f.ini";
    ASSERT_TRUE(fs::write_file_atomic(path, "one", 0600).ok());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    fs::UniqueFd keep;
    ASSERT_TRUE(fs::write_file_atomic(path, "two", 0600, fs::Durability::flush, &keep).ok());
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "a replaced file keeps its mode";
    EXPECT_EQ(*fs::read_file(path), "two");
    ASSERT_TRUE(keep.valid());
    EXPECT_EQ(*fs::read_fd(keep.get(), 100), "two");
    auto entries = fs::list_directory(tmp.path());
    ASSERT_TRUE(entries.ok());
    EXPECT_EQ(entries->size(), 1u) << "no temporary file is left behind";

    EXPECT_FALSE(fs::write_file_atomic(tmp / "no/such/dir/f", "x").ok());
    auto too_big = fs::read_file(path, 2);
    EXPECT_FALSE(too_big.ok());
}

TEST(WriteFileAtomic, PiecesMakeOneFileAndAFailureLeavesNothing)
{
    TempDir tmp;
    std::string path = tmp / "f.idx";
    ASSERT_TRUE(fs::write_file_atomic(path, "old", 0644).ok());
    int calls = 0;
    auto fill = [&](std::string& piece) {
        if (++calls > 3)
            return false;
        piece.assign(static_cast<std::size_t>(calls) * 70000, static_cast<char>('a' + calls));
        return true;
    };
    ASSERT_TRUE(fs::write_file_atomic_pieces(path, fill, 0600).ok());
    EXPECT_EQ(*fs::read_file(path), std::string(70000, 'b') + std::string(140000, 'c') + std::string(210000, 'd'));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "a replaced file keeps its mode";

    // Nothing to write at all still makes the (empty) file.
    ASSERT_TRUE(fs::write_file_atomic_pieces(tmp / "empty", [](std::string&) { return false; }).ok());
    EXPECT_EQ(*fs::read_file(tmp / "empty"), "");
    EXPECT_FALSE(fs::write_file_atomic_pieces(tmp / "no/such/dir/f", fill).ok());
    auto entries = fs::list_directory(tmp.path());
    ASSERT_TRUE(entries.ok());
    EXPECT_EQ(entries->size(), 2u) << "no temporary file is left behind";
}

// A file that appears under its name whole or not at all, whatever befalls
// the process that writes it.
TEST(UnpublishedFile, AppearsWholeOrNotAtAll)
{
    TempDir dir;
    auto listing = [&] {
        std::vector<std::string> names;
        auto listed = fs::list_directory(dir.path());
        for (const auto& e : *listed)
            names.push_back(e.name);
        return names;
    };
    {
        auto file = fs::UnpublishedFile::create(dir.path(), "CV000001");
        ASSERT_TRUE(file);
        ASSERT_TRUE(fs::write_all(file->fd(), "first"));
        EXPECT_TRUE(listing().empty()) << "a file being written has no name anyone lists";
        ASSERT_TRUE(file->publish(dir / "a.msg", fs::Replace::no));
        EXPECT_FALSE(file->is_open());
    }
    EXPECT_EQ(fs::read_file(dir / "a.msg").value(), "first");

    // Never over a name that is taken, unless asked; the file waits for
    // another name.
    auto second = fs::UnpublishedFile::create(dir.path(), "CV000002");
    ASSERT_TRUE(fs::write_all(second->fd(), "second"));
    auto refused = second->publish(dir / "a.msg", fs::Replace::no);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, EEXIST);
    EXPECT_EQ(fs::read_file(dir / "a.msg").value(), "first");
    ASSERT_TRUE(second->publish(dir / "b.msg", fs::Replace::no));
    auto third = fs::UnpublishedFile::create(dir.path(), "CV000003");
    ASSERT_TRUE(fs::write_all(third->fd(), "third"));
    ASSERT_TRUE(third->publish(dir / "b.msg", fs::Replace::yes));
    EXPECT_EQ(fs::read_file(dir / "b.msg").value(), "third");
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.msg", "b.msg"}));

    // Dropped, or its writer killed: nothing stays behind.
    {
        auto dropped = fs::UnpublishedFile::create(dir.path(), "CV000004");
        ASSERT_TRUE(fs::write_all(dropped->fd(), "dropped"));
    }
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto file = fs::UnpublishedFile::create(dir.path(), "CV000005");
        for (;;)
            (void)fs::write_all(file->fd(), std::string(4096, 'x'));
    }
    ::usleep(20000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(listing(), (std::vector<std::string>{"a.msg", "b.msg"}));

    // Copies follow the same rules.
    EXPECT_EQ(fs::copy_file(dir / "a.msg", dir / "b.msg", fs::Replace::no).error().code, EEXIST);
    ASSERT_TRUE(fs::copy_file(dir / "a.msg", dir / "c.msg", fs::Replace::no));
    EXPECT_EQ(fs::read_file(dir / "c.msg").value(), "first");
    EXPECT_FALSE(fs::copy_file(dir / "missing", dir / "d.msg", fs::Replace::no));
    EXPECT_FALSE(fs::copy_file(dir.path(), dir / "d.msg", fs::Replace::no)) << "a directory is not copied";
    EXPECT_FALSE(fs::UnpublishedFile::create(dir / "missing", "x"));
}

TEST(Modes, OwnerOnlyModesHoldWhateverTheUmask)
{
    TempDir tmp;
    struct stat st {};
    auto mode_of = [&](const std::string& path) { return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u; };
    // A umask that would leave the owner unable to write, and one that
    // takes nothing away.
    for (mode_t mask : {mode_t{0277}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        mode_t old = ::umask(mask);
        std::string dir = tmp / ("d" + std::to_string(mask));
        bool made = fs::make_directories(dir + "/a/b").ok();
        bool touched = fs::touch_file(dir + "/a/t").ok();
        bool appended = fs::append_file(dir + "/a/b/l", "x").ok();
        bool written = fs::write_file_atomic(dir + "/w", "x").ok();
        bool shared = fs::make_directory(dir + "/shared", 0755).ok();
        bool created = fs::create_file(dir + "/c", 0600).ok();
        auto unnamed = fs::UnpublishedFile::create(dir, "u", 0600);
        bool published = unnamed && unnamed->publish(dir + "/u", fs::Replace::no).ok();
        bool copied = fs::copy_file(dir + "/w", dir + "/copy", fs::Replace::no, 0600).ok();
        ::umask(old);
        ASSERT_TRUE(made && touched && appended && written && shared && created && published && copied);
        for (const char* d : {"", "/a", "/a/b"})
            EXPECT_EQ(mode_of(dir + d), 0700u) << d;
        for (const char* f : {"/a/t", "/a/b/l", "/w", "/c", "/u", "/copy"})
            EXPECT_EQ(mode_of(dir + f), 0600u) << f;
        // A mode meant for others is narrowed by the umask as always.
        EXPECT_EQ(mode_of(dir + "/shared"), 0755u & ~mask);
        // Appending to an existing file leaves its mode alone.
        ASSERT_EQ(::chmod((dir + "/a/t").c_str(), 0640), 0);
        ASSERT_TRUE(fs::append_file(dir + "/a/t", "more"));
        EXPECT_EQ(mode_of(dir + "/a/t"), 0640u);
    }
    // A file replaced with a secret becomes its owner's alone.
    std::string path = tmp / "User.ini";
    ASSERT_TRUE(fs::write_file_atomic(path, "a", 0644));
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    ASSERT_TRUE(fs::write_file_atomic(path, "b", 0600, fs::Durability::none, nullptr, fs::Access::owner_only));
    EXPECT_EQ(mode_of(path), 0600u);
}

TEST(DirectoryLock, ExcludesOtherHolders)
{
    TempDir tmp;
    auto first = fs::DirectoryLock::acquire(tmp.path());
    ASSERT_TRUE(first.ok());
    pid_t child = ::fork();
    if (child == 0) {
        // The parent holds the lock: a non-blocking attempt here must fail.
        int fd = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
        ::_exit(::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
