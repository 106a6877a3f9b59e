#include "common/platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace corvane::platform {

namespace {

// Directory recursion is bounded so a hostile tree cannot exhaust the stack
// or the descriptor table.
constexpr int max_tree_depth = 64;

bool is_dot_name(const char* name)
{
    return name[0] == '.';
}

bool is_self_or_parent(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

std::int64_t to_ns(const timespec& ts)
{
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

FileIdentity identity_from(const struct stat& st)
{
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                        static_cast<std::uint64_t>(st.st_size), to_ns(st.st_mtim), to_ns(st.st_ctim)};
}

// Empties the directory open at dirfd (see delete_tree); takes ownership.
void empty_directory_at(int dirfd, const std::string& shown_path, int depth, Result<void>& first_error)
{
    DIR* dir = ::fdopendir(dirfd);
    if (!dir) {
        ::close(dirfd);
        if (first_error.ok())
            first_error = os_error("opendir", shown_path);
        return;
    }
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* de = ::readdir(dir)) {
        if (is_self_or_parent(de->d_name))
            continue;
        bool is_dir = false;
        if (de->d_type == DT_DIR) {
            is_dir = true;
        } else if (de->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dirfd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                is_dir = S_ISDIR(st.st_mode);
        }
        entries.emplace_back(de->d_name, is_dir);
    }
    for (auto& [name, is_dir] : entries) {
        if (!is_dir) {
            if (::unlinkat(dirfd, name.c_str(), 0) != 0 && errno != ENOENT && first_error.ok())
                first_error = os_error("unlink", join_path(shown_path, name));
            continue;
        }
        if (is_dot_name(name.c_str()))
            continue;
        std::string sub_path = join_path(shown_path, name);
        if (depth >= max_tree_depth) {
            if (first_error.ok())
                first_error = Error{ELOOP, "delete " + sub_path + ": directory tree too deep"};
            continue;
        }
        int sub = ::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            if (first_error.ok())
                first_error = os_error("open", sub_path);
            continue;
        }
        empty_directory_at(sub, sub_path, depth + 1, first_error);
        if (::unlinkat(dirfd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT && first_error.ok())
            first_error = os_error("rmdir", sub_path);
    }
    ::closedir(dir);
}

std::uint64_t tree_size_at(int dirfd, int depth)
{
    DIR* dir = ::fdopendir(dirfd);
    if (!dir) {
        ::close(dirfd);
        return 0;
    }
    std::uint64_t total = 0;
    while (dirent* de = ::readdir(dir)) {
        if (is_self_or_parent(de->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirfd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            total += static_cast<std::uint64_t>(st.st_size);
        } else if (S_ISDIR(st.st_mode) && !is_dot_name(de->d_name) && depth < max_tree_depth) {
            int sub = ::openat(dirfd, de->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                total += tree_size_at(sub, depth + 1);
        }
    }
    ::closedir(dir);
    return total;
}

}  // namespace

Result<void> write_all(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return os_error("write");
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

Result<void> flush_to_disk(int fd)
{
    if (::fdatasync(fd) != 0)
        return os_error("fdatasync");
    return {};
}

Result<UniqueFd> create_unnamed_file(const std::string& dir, std::string_view prefix)
{
    std::string pattern = join_path(dir, std::string(prefix) + "XXXXXX");
    UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd)
        return os_error("mkostemp", pattern);
    ::unlink(pattern.c_str());
    return fd;
}

Result<void> rewind_file(int fd)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return os_error("lseek");
    return {};
}

Result<OpenFile> open_regular_file(const std::string& path)
{
    OpenFile file;
    file.fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file.fd)
        return os_error("open", path);
    struct stat st {};
    if (::fstat(file.fd.get(), &st) != 0)
        return os_error("fstat", path);
    if (!S_ISREG(st.st_mode))
        return os_error_code(S_ISDIR(st.st_mode) ? EISDIR : ENODEV, "open", path);
    file.size = static_cast<std::uint64_t>(st.st_size);
    file.modified = st.st_mtime;
    return file;
}

std::string current_directory()
{
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
}

std::string absolute_path(std::string_view path)
{
    if (!path.empty() && path.front() == '/')
        return std::string(path);
    return join_path(current_directory(), path);
}

// ---- paths -----------------------------------------------------------------

std::string join_path(std::string_view dir, std::string_view name)
{
    std::string path(dir);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    return path;
}

std::string directory_of(std::string_view path)
{
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string file_name_of(std::string_view path)
{
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool is_plain_name(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// ---- queries ---------------------------------------------------------------

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint64_t file_size(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::time_t> modification_time(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return st.st_mtim.tv_sec;
}

std::optional<FileIdentity> identity_of(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return identity_from(st);
}

std::optional<FileIdentity> identity_of(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return identity_from(st);
}

// ---- directories -----------------------------------------------------------

Result<void> visit_directory(const std::string& path,
                             const std::function<void(std::string_view name, bool is_directory)>& visit)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return os_error("open", path);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return os_error("opendir", path);
    }
    while (dirent* de = ::readdir(dir)) {
        if (is_self_or_parent(de->d_name))
            continue;
        bool is_dir = de->d_type == DT_DIR;
        if (de->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                is_dir = S_ISDIR(st.st_mode);
        }
        visit(de->d_name, is_dir);
    }
    ::closedir(dir);
    return {};
}

Result<std::vector<DirEntry>> list_directory(const std::string& path, ListOrder order)
{
    std::vector<DirEntry> entries;
    auto visited = visit_directory(path, [&](std::string_view name, bool is_dir) {
        entries.push_back(DirEntry{std::string(name), is_dir});
    });
    if (!visited)
        return visited.error();
    if (order == ListOrder::by_name)
        std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

namespace {

bool owner_only(unsigned mode)
{
    return (mode & 077) == 0;
}

}  // namespace

Result<void> make_directory(const std::string& path, unsigned mode)
{
    if (::mkdir(path.c_str(), mode) == 0) {
        if (owner_only(mode) && ::chmod(path.c_str(), mode) != 0)
            return os_error("chmod", path);
        return {};
    }
    int err = errno;
    if (err == EEXIST && is_directory(path))
        return {};
    return os_error_code(err, "mkdir", path);
}

Result<void> make_directories(const std::string& path, unsigned mode)
{
    if (path.empty())
        return Error{ENOENT, "mkdir: empty path"};
    if (is_directory(path))
        return {};
    std::string parent = directory_of(path);
    if (!parent.empty() && parent != path) {
        auto made = make_directories(parent, mode);
        if (!made)
            return made;
    }
    return make_directory(path, mode);
}

Result<void> delete_tree(const std::string& dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return os_error("open", dir);
    Result<void> first_error;
    empty_directory_at(fd, dir, 0, first_error);
    return first_error;
}

Result<void> remove_tree(const std::string& dir)
{
    auto emptied = delete_tree(dir);
    if (::rmdir(dir.c_str()) != 0)
        return emptied.ok() ? os_error("rmdir", dir) : emptied;
    return {};
}

std::uint64_t tree_size(const std::string& dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    return tree_size_at(fd, 0);
}

std::optional<std::string> resolve_nocase(const std::string& dir, std::string_view name)
{
    if (!is_plain_name(name))
        return std::nullopt;
    std::string wanted(name);
    struct stat st {};
    if (::lstat(join_path(dir, wanted).c_str(), &st) == 0)
        return wanted;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return std::nullopt;
    std::optional<std::string> found;
    while (dirent* de = ::readdir(d)) {
        if (is_self_or_parent(de->d_name) || ::strcasecmp(de->d_name, wanted.c_str()) != 0)
            continue;
        if (!found || std::string_view(de->d_name) < *found)
            found = de->d_name;
    }
    ::closedir(d);
    return found;
}

std::string path_nocase(const std::string& dir, std::string_view name)
{
    auto on_disk = resolve_nocase(dir, name);
    return join_path(dir, on_disk ? std::string_view(*on_disk) : name);
}

// ---- files -----------------------------------------------------------------

Result<std::string> read_fd(int fd, std::size_t max_bytes)
{
    std::string data;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        if (static_cast<std::uint64_t>(st.st_size) > max_bytes)
            return Error{EFBIG, "file larger than " + std::to_string(max_bytes) + " bytes"};
        data.reserve(static_cast<std::size_t>(st.st_size));
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return os_error("read");
        }
        if (n == 0)
            break;
        if (data.size() + static_cast<std::size_t>(n) > max_bytes)
            return Error{EFBIG, "file larger than " + std::to_string(max_bytes) + " bytes"};
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

Result<std::string> read_file(const std::string& path, std::size_t max_bytes)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return os_error("open", path);
    auto data = read_fd(fd.get(), max_bytes);
    if (!data)
        return Error{data.error().code, path + ": " + data.error().text};
    return data;
}

namespace {

// The body of both atomic writes: write_data writes the content to the
// temporary file's descriptor.
Result<void> replace_atomically(const std::string& path, const std::function<Result<void>(int fd)>& write_data,
                                unsigned mode, Durability durability, UniqueFd* keep, Access access)
{
    // The temporary file lies beside the target (rename must not cross file
    // systems) and its name begins with "." so listings of the directory
    // skip it while it exists.
    std::string temp = join_path(directory_of(path), "." + file_name_of(path) + ".XXXXXX");
    if (directory_of(path).empty())
        temp = "." + path + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd)
        return os_error("create", temp);
    auto fail = [&](Error error) -> Result<void> {
        ::unlink(temp.c_str());
        return error;
    };
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = access == Access::owner_only ? private_file_mode : old.st_mode & 07777;
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; anyone else keeps their own.
        }
    }
    if (::fchmod(fd.get(), mode) != 0)
        return fail(os_error("chmod", temp));
    if (auto written = write_data(fd.get()); !written)
        return fail(Error{written.error().code, temp + ": " + written.error().text});
    if (durability == Durability::flush && ::fdatasync(fd.get()) != 0)
        return fail(os_error("fdatasync", temp));
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail(os_error("rename", path));
    if (keep) {
        ::lseek(fd.get(), 0, SEEK_SET);
        *keep = std::move(fd);
    }
    return {};
}

}  // namespace

Result<void> write_file_atomic(const std::string& path, std::string_view data, unsigned mode, Durability durability,
                               UniqueFd* keep, Access access)
{
    return replace_atomically(
        path, [&](int fd) { return write_all(fd, data); }, mode, durability, keep, access);
}

Result<void> write_file_atomic_pieces(const std::string& path, const std::function<bool(std::string& piece)>& fill,
                                      unsigned mode, Durability durability)
{
    auto write_pieces = [&](int fd) -> Result<void> {
        std::string piece;
        for (;;) {
            piece.clear();
            if (!fill(piece))
                return {};
            if (auto written = write_all(fd, piece); !written)
                return written;
        }
    };
    return replace_atomically(path, write_pieces, mode, durability, nullptr, Access::keep);
}

Result<void> remove_file(const std::string& path)
{
    if (::unlink(path.c_str()) != 0)
        return os_error("unlink", path);
    return {};
}

Result<void> rename_file(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        return os_error("rename", from + " -> " + to);
    return {};
}

Result<void> rename_file(const std::string& from, const std::string& to, Replace replace)
{
    if (replace == Replace::yes)
        return rename_file(from, to);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        return os_error("rename", from + " -> " + to);
    return {};
}

namespace {

// Opens path for appending, creating it when missing; a file it creates
// with an owner-only mode gets exactly that mode.
Result<UniqueFd> open_appending(const std::string& path, unsigned mode)
{
    for (int tries = 0; tries < 3; ++tries) {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, mode));
        if (fd) {
            if (owner_only(mode) && ::fchmod(fd.get(), mode) != 0)
                return os_error("chmod", path);
            return fd;
        }
        if (errno != EEXIST)
            return os_error("open", path);
        fd.reset(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (fd)
            return fd;
        // Deleted between the two calls: create it after all.
        if (errno != ENOENT)
            return os_error("open", path);
    }
    return Error{EAGAIN, "open: " + path + " keeps vanishing"};
}

}  // namespace

Result<void> touch_file(const std::string& path, unsigned mode)
{
    auto fd = open_appending(path, mode);
    if (!fd)
        return fd.error();
    return {};
}

Result<void> append_file(const std::string& path, std::string_view data, unsigned mode)
{
    auto fd = open_appending(path, mode);
    if (!fd)
        return fd.error();
    return write_all(fd->get(), data);
}

// ---- locking ---------------------------------------------------------------

Result<DirectoryLock> DirectoryLock::acquire(const std::string& dir)
{
    UniqueFd fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return os_error("open", dir);
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return os_error("flock", dir);
    }
    return DirectoryLock(std::move(fd));
}

// ---- reading and writing through descriptors ---------------------------------

Result<std::size_t> read_at(int fd, char* buffer, std::size_t size, std::uint64_t offset)
{
    for (;;) {
        ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            return os_error("read");
    }
}

Result<UniqueFd> create_file(const std::string& path, unsigned mode)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode));
    if (!fd)
        return os_error("open", path);
    if (owner_only(mode) && ::fchmod(fd.get(), mode) != 0)
        return os_error("chmod", path);
    return fd;
}

Result<void> close_file(UniqueFd& fd)
{
    if (!fd)
        return Error{EBADF, "close: not open"};
    if (::close(fd.release()) != 0 && errno != EINTR)
        return os_error("close");
    return {};
}

Result<void> remove_directory(const std::string& path)
{
    if (::rmdir(path.c_str()) != 0)
        return os_error("rmdir", path);
    return {};
}

namespace {

// Cleared the first time a file system refuses unnamed files: from then on
// hidden names are used. An unnamed file gets its name through /proc, so
// without /proc they are never tried.
std::atomic<bool> unnamed_files_work{true};

bool unnamed_files_usable()
{
    static const bool have_proc = ::access("/proc/self/fd", X_OK) == 0;
    return have_proc && unnamed_files_work.load(std::memory_order_relaxed);
}

std::string fd_link_path(int fd)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return path;
}

}  // namespace

UnpublishedFile::~UnpublishedFile()
{
    abandon();
}

UnpublishedFile::UnpublishedFile(UnpublishedFile&& other) noexcept
    : m_fd(std::move(other.m_fd)), m_hidden(std::move(other.m_hidden))
{
    other.m_hidden.clear();
}

UnpublishedFile& UnpublishedFile::operator=(UnpublishedFile&& other) noexcept
{
    if (this != &other) {
        abandon();
        m_fd = std::move(other.m_fd);
        m_hidden = std::move(other.m_hidden);
        other.m_hidden.clear();
    }
    return *this;
}

Result<UnpublishedFile> UnpublishedFile::create(const std::string& dir, std::string_view hint, unsigned mode)
{
    UnpublishedFile file;
    if (unnamed_files_usable()) {
        file.m_fd = UniqueFd(::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        if (file.m_fd) {
            if (owner_only(mode) && ::fchmod(file.m_fd.get(), mode) != 0)
                return os_error("chmod", dir);
            return file;
        }
        // EOPNOTSUPP (or EISDIR from kernels that predate the flag) says the
        // file system cannot; anything else is a real failure of dir.
        if (errno != EOPNOTSUPP && errno != EISDIR)
            return os_error("open", dir);
        unnamed_files_work = false;
    }
    file.m_hidden = join_path(dir, "." + std::string(hint) + ".incoming");
    file.m_fd = UniqueFd(::open(file.m_hidden.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode));
    if (!file.m_fd) {
        Error error = os_error("open", file.m_hidden);
        file.m_hidden.clear();
        return error;
    }
    if (owner_only(mode) && ::fchmod(file.m_fd.get(), mode) != 0)
        return os_error("chmod", file.m_hidden);
    return file;
}

Result<void> UnpublishedFile::publish(const std::string& path, Replace replace)
{
    if (!m_fd)
        return Error{EBADF, "publish: not open"};
    if (!m_hidden.empty()) {
        if (auto renamed = rename_file(m_hidden, path, replace); !renamed)
            return renamed;
        m_hidden.clear();
        return close_file(m_fd);
    }
    std::string self = fd_link_path(m_fd.get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        int err = errno;
        if (err == EEXIST && replace == Replace::yes) {
            // A link never replaces: link beside the target, then rename
            // over it, so the old file stays whole until the new one is.
            std::string temp = join_path(directory_of(path), "." + file_name_of(path) + ".new");
            (void)::unlink(temp.c_str());
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) != 0)
                return os_error("link", temp);
            if (::rename(temp.c_str(), path.c_str()) != 0) {
                Error error = os_error("rename", path);
                ::unlink(temp.c_str());
                return error;
            }
            return close_file(m_fd);
        }
        return os_error_code(err, "link", path);
    }
    return close_file(m_fd);
}

void UnpublishedFile::abandon()
{
    m_fd.reset();
    if (!m_hidden.empty()) {
        ::unlink(m_hidden.c_str());
        m_hidden.clear();
    }
}

Result<void> copy_file(const std::string& from, const std::string& to, Replace replace, unsigned mode)
{
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in)
        return os_error("open", from);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Error{EINVAL, "not a regular file: " + from};
    auto out = UnpublishedFile::create(directory_of(to), file_name_of(to), mode);
    if (!out)
        return out.error();
    std::string buffer(64 * 1024, '\0');
    for (;;) {
        ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return os_error("read", from);
        }
        if (n == 0)
            break;
        if (auto written = write_all(out->fd(), std::string_view(buffer.data(), static_cast<std::size_t>(n))); !written)
            return Error{written.error().code, to + ": " + written.error().text};
    }
    return out->publish(to, replace);
}

}  // namespace corvane::platform
