// Files and directories: the only place that touches the file system.
//
// Paths are plain strings with "/" as separator. Nothing here follows a
// symbolic link while deleting or measuring a tree, so a link planted inside
// a user or temporary directory can never make us delete or count files
// outside it. Names the product compares without regard to case (accounts,
// folders, fixed files such as User.ini) are resolved with resolve_nocase().
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/result.h"
#include "common/platform/unique_fd.h"

namespace corvane::platform {

// ---- paths -----------------------------------------------------------------

// dir + "/" + name, without doubling a "/" that dir already ends with.
std::string join_path(std::string_view dir, std::string_view name);
// Everything before the last "/" ("" when there is none, "/" for "/x").
std::string directory_of(std::string_view path);
// Everything after the last "/".
std::string file_name_of(std::string_view path);
// True for a single path component that stays inside its directory: not
// empty, not "." or "..", and without "/" or NUL.
bool is_plain_name(std::string_view name);

// ---- queries ---------------------------------------------------------------

bool exists(const std::string& path);
bool is_directory(const std::string& path);
bool is_regular_file(const std::string& path);
// Size of a file, 0 when it does not exist or cannot be examined.
std::uint64_t file_size(const std::string& path);
// Modification time in seconds since 1970, or nullopt.
std::optional<std::time_t> modification_time(const std::string& path);

// What identifies one version of a file on disk: a replaced file (new inode)
// or a rewritten one (size, mtime) compares unequal.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;
    std::int64_t ctime_ns = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> identity_of(const std::string& path);
std::optional<FileIdentity> identity_of(int fd);

// ---- directories -----------------------------------------------------------

struct DirEntry {
    std::string name;
    bool is_directory = false;
};

enum class ListOrder {
    by_name,    // byte order
    as_stored,  // the file system's own order: cheaper for large directories
};

// Entries of a directory without "." and "..", sorted by name (byte order)
// unless asked otherwise. Symbolic links are reported as what they are not:
// neither files we own nor directories, so callers see them as plain entries
// (is_directory false).
Result<std::vector<DirEntry>> list_directory(const std::string& path, ListOrder order = ListOrder::by_name);
// The same entries, handed one by one to visit in the file system's order,
// without a list: for directories of many thousands of files.
Result<void> visit_directory(const std::string& path,
                             const std::function<void(std::string_view name, bool is_directory)>& visit);

// Modes: what this system creates holds mail, settings or passwords, so
// files are made 0600 and directories 0700 unless a caller asks for more.
// An owner-only mode (no group or other bits) is set exactly, whatever the
// process's umask (a umask can only take from it what the owner needs);
// any other mode is narrowed by the umask as usual, so an administrator's
// stricter umask holds.
constexpr unsigned private_file_mode = 0600;
constexpr unsigned private_directory_mode = 0700;

// Creates one directory; an existing directory is no error (and keeps its
// mode).
Result<void> make_directory(const std::string& path, unsigned mode = private_directory_mode);
// Creates a directory and its missing parents, like mkdir -p.
Result<void> make_directories(const std::string& path, unsigned mode = private_directory_mode);

// Empties a directory: deletes every file below it and every subdirectory
// whose name does not begin with "." (recursively); the directory itself and
// its dot-directories stay. Symbolic links are deleted, never followed.
// Returns an error naming the first thing that could not be deleted; it goes
// on with the rest regardless.
Result<void> delete_tree(const std::string& dir);
// delete_tree(), then removes the directory itself when it is empty.
Result<void> remove_tree(const std::string& dir);

// Sum of the sizes of the files below dir, descending into every
// subdirectory whose name does not begin with "."; 0 when dir is missing.
std::uint64_t tree_size(const std::string& dir);

// The name of the entry of dir that equals name without regard to ASCII
// case, as it is spelled on disk. An exact match wins over other spellings;
// among several case variants the first in byte order is taken. nullopt when
// there is none or name is not a plain name.
std::optional<std::string> resolve_nocase(const std::string& dir, std::string_view name);
// join_path(dir, the spelling on disk) when the entry exists, else
// join_path(dir, name): the path to use for reading or for creating.
std::string path_nocase(const std::string& dir, std::string_view name);

// ---- files -----------------------------------------------------------------

// Reads a whole file; fails when it is larger than max_bytes.
Result<std::string> read_file(const std::string& path, std::size_t max_bytes = 64u << 20);
Result<std::string> read_fd(int fd, std::size_t max_bytes);
// Writes all of data to a blocking descriptor, resuming after short writes
// and interrupted calls.
Result<void> write_all(int fd, std::string_view data);
// Waits until the file's data has reached the disk (fdatasync).
Result<void> flush_to_disk(int fd);

enum class Durability {
    none,   // rename only: safe against a crash of this process
    flush,  // fdatasync before the rename: safe against a crash of the machine
};

// The mode a replaced file gets.
enum class Access {
    keep,        // the old file's mode
    owner_only,  // 0600, whatever the old file allowed: the data holds a secret
};

// Replaces path with data atomically: readers see the old or the new file,
// never a part. A new file gets mode; a replaced file keeps its mode (or
// becomes 0600, see Access) and, where we may set it, its owner (so root
// editing a file does not take it away from the service account). The mode
// is set before the file takes the name, so the data is never readable
// under a wider one. On success, when keep is given, it receives a
// descriptor of the new file (open for reading).
Result<void> write_file_atomic(const std::string& path, std::string_view data, unsigned mode = private_file_mode,
                               Durability durability = Durability::flush, UniqueFd* keep = nullptr,
                               Access access = Access::keep);
// The same for data made piece by piece, so that a large file is never
// whole in memory: fill is called with an empty piece as long as it returns
// true, and whatever it put in the piece is written.
Result<void> write_file_atomic_pieces(const std::string& path, const std::function<bool(std::string& piece)>& fill,
                                      unsigned mode = private_file_mode, Durability durability = Durability::flush);

Result<void> remove_file(const std::string& path);
Result<void> rename_file(const std::string& from, const std::string& to);
enum class Replace { no, yes };
// rename that, with Replace::no, fails (EEXIST) instead of replacing `to`.
Result<void> rename_file(const std::string& from, const std::string& to, Replace replace);
// Creates an empty file when missing; an existing file is left unchanged.
Result<void> touch_file(const std::string& path, unsigned mode = private_file_mode);
// Appends data to a file, creating it when missing.
Result<void> append_file(const std::string& path, std::string_view data, unsigned mode = private_file_mode);

// A new file in dir, open for reading and writing, whose name (prefix plus
// random letters) is removed at once: it goes when its last descriptor
// closes, so nothing is left behind by a crash.
Result<UniqueFd> create_unnamed_file(const std::string& dir, std::string_view prefix);
// Moves the file position back to the start.
Result<void> rewind_file(int fd);

// A regular file opened for reading (without blocking on odd files), with
// what its header needs. A directory or device is refused with EISDIR or
// ENODEV, so that nobody is served the inside of one.
struct OpenFile {
    UniqueFd fd;
    std::uint64_t size = 0;
    std::time_t modified = 0;
};
Result<OpenFile> open_regular_file(const std::string& path);

// The current directory ("" when unknown), and path made absolute against it.
std::string current_directory();
std::string absolute_path(std::string_view path);

// ---- reading and writing through descriptors ---------------------------------

// Reads up to size bytes at offset (not moving the descriptor's position);
// 0 at the end of the file.
Result<std::size_t> read_at(int fd, char* buffer, std::size_t size, std::uint64_t offset);
// Creates (or truncates) a file for writing with mode; a symbolic link at
// path is refused.
Result<UniqueFd> create_file(const std::string& path, unsigned mode = 0600);
// Closes the descriptor and says whether the close reported a late error.
Result<void> close_file(UniqueFd& fd);
// rmdir: fails when the directory is not empty.
Result<void> remove_directory(const std::string& path);

// A file that gets its name only when it is whole, so that a crash never
// leaves a part of it under a name that anyone reads. Where the file system
// allows it the file has no name at all until publish() (O_TMPFILE) and a
// crash leaves nothing behind; elsewhere it lies in dir under a hidden name
// ("." + hint + ".incoming"), which publish() renames and abandon() removes.
class UnpublishedFile {
public:
    UnpublishedFile() = default;
    ~UnpublishedFile();
    UnpublishedFile(UnpublishedFile&& other) noexcept;
    UnpublishedFile& operator=(UnpublishedFile&& other) noexcept;
    UnpublishedFile(const UnpublishedFile&) = delete;
    UnpublishedFile& operator=(const UnpublishedFile&) = delete;

    // A new file for dir's file system; mode as for create_file().
    static Result<UnpublishedFile> create(const std::string& dir, std::string_view hint, unsigned mode = 0600);

    bool is_open() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // Gives the file its name and closes it. path must lie on the file
    // system of dir. Replace::no fails with EEXIST when path exists, and
    // the file stays unpublished (a caller may try another name).
    Result<void> publish(const std::string& path, Replace replace);
    // Closes the file; nothing of it stays on disk.
    void abandon();

private:
    UniqueFd m_fd;
    std::string m_hidden;  // the hidden name, when the file has one
};

// Copies a regular file to `to`, which appears whole or not at all.
// Replace::no fails with EEXIST when `to` exists.
Result<void> copy_file(const std::string& from, const std::string& to, Replace replace, unsigned mode = 0600);

// ---- locking ---------------------------------------------------------------

// An exclusive advisory lock on a directory, held across processes (flock on
// the directory) and across the threads of this process. Used to serialise
// read-modify-write cycles of files that are replaced by rename, where a
// lock on the file itself would be lost with the old inode.
// Every acquire opens its own descriptor, and flock locks belong to the open
// file description, so two threads of one process exclude each other too.
class DirectoryLock {
public:
    static Result<DirectoryLock> acquire(const std::string& dir);

private:
    explicit DirectoryLock(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd;  // closing it releases the lock
};

}  // namespace corvane::platform
